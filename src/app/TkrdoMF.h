#pragma once

#include "calls/AccessibleText.h"
#include "calls/tincoming.h"
#include "link/SoundPlayer.h"
#include "plan/KeyedList.h"
#include "plan/Ttable.h"
#include "safety/LinkSupervisor.h"
#include "safety/SafetySettings.h"
#include "settings/Expected.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>

#include <exception>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QTimer;
class QUdpSocket;

namespace kalvora {

namespace journal {
class Journal;
}

class AnimationClock;
class CallAlertNode;
class LinkBanner;
class PictureControl;
class PlanLayer;
class TextLabel;
class TFormTable;
class UdpListener;

// The console's main window. It owns every piece of run-time state: the
// settings values, the bed list, the call list, the kind image set, the
// timers, the sockets and the pointer state. Its handlers are the whole of
// the console's behaviour.
class TkrdoMF : public QWidget {
    Q_OBJECT
public:
    // Where the window finds its files: the settings file and the data folder.
    struct Files {
        QString settingsFile;
        QString dataDir;
    };

    // Builds the window as designed: its components, menus and fonts, with the
    // ping and server-search timers already running. FormCreate does the rest.
    explicit TkrdoMF(Files files, QWidget *parent = nullptr);
    ~TkrdoMF() override;

    // The start-up sequence. A step that fails shows its error; the remaining
    // steps are skipped and the window stays in its starting state.
    void FormCreate();
    // Closing: saves the beds, releases calls and beds, stops listening and
    // ticking. Returns false when the save failed and the close is abandoned.
    bool FormClose();
    // The session or the system is ending the console (log-off, shutdown, a
    // termination signal): the beds are saved as at closing, but without a
    // box; a failure is logged and returned, and the previous bed file stays.
    // A console whose start-up failed writes nothing. Beds that this run has
    // saved already, unchanged since, are not written again, so the backup
    // keeps the file from before the run.
    Status saveAtSessionEnd();
    // The last act before the console ends with its session: the beds saved
    // as above, then no more listening, ticking or pointer handling.
    void endSession();

    // Settings file (first start, then every start).
    void InitComm();
    void InitDef();
    void InitForm();
    // Pictures, kind image set, window layout, column titles.
    void LoadData();
    // The bed list from the bed file, and back.
    void LoadTableFile();
    void SaveTablesFile();

    // Server link.
    void IdUDPServer1UDPRead(const QByteArray &data);
    void AddSinc(const QString &str);
    void WavBill();
    void WavCall();
    void SendToServer(const QString &text);
    void TimerToServerTimer();
    void TimerServerSearchTimer();
    void TurnOn();
    void TurnOff();

    // Call list.
    void TimerPlusTimer();
    void FormResize();

    // Pointer, modes and menus.
    void FormMouseMove(qint32 X, qint32 Y);
    void FormMouseDown(Qt::MouseButton Button);
    void iBackgroundMouseMove(qint32 X, qint32 Y);
    void iPanelMouseMove(qint32 X, qint32 Y);
    void iBackgroundMouseDown(Qt::MouseButton Button);
    void iPanelMouseDown(Qt::MouseButton Button);
    qsizetype GetCurTableNumber(qint32 xm, qint32 ym) const;
    void nm1Click();
    void nm2Click();
    void N1Click();
    void N2Click();

    // The dialog the bed menu's edit command uses (created after the window).
    void setFormTable(TFormTable *form);

    // Whether add mode is on (the check mark of nm2).
    bool addMode() const;
    // The popup menu the window itself shows, as set by pointer moves.
    QMenu *popupMenu() const { return m_popupMenu; }
    const Files &files() const { return m_files; }
    SoundPlayer &sounds() { return m_sounds; }
    AnimationClock *animationClock() const { return m_clock; }
    // The control that draws every bed's marker.
    PlanLayer *planLayer() const { return m_planLayer; }
    // The call journal while the console keeps one: from the end of a
    // successful start-up, when the settings name a journal file, until the
    // window closes or the session ends.
    journal::Journal *journal() const { return m_journal.get(); }
    // The journal's status line below the call list; hidden while all is well.
    QLabel *journalNote() const { return m_journalNote; }

    // Fields, as the window's handlers use them.
    bool onServer = false;
    bool isinit = false;
    quint16 FromServerPort = 0;
    quint16 ToServerPort = 0;
    QString sToServer;
    QString sFromServer;
    qint32 bdx = 0;
    qint32 bdy = 0;
    qint32 maxSec = 0;
    qint32 redSec = 0;
    KeyedList<Ttable> sl;
    KeyedList<tincoming> sinc;
    qint32 dd = 0;
    qint32 maxn = 0;
    qint32 cx = 0;
    qint32 cy = 0;
    qint32 cw1 = 0;
    qint32 cw2 = 0;
    QString cs1;
    QString cs2;
    QString cs3;
    TextLabel *cl1 = nullptr;
    TextLabel *cl2 = nullptr;
    TextLabel *cl3 = nullptr;
    qint32 minl = 0;
    KindPictures iTable;
    KindPictures iGreenTable;
    KindPictures iRedTable;
    Ttable *curTable = nullptr;
    qint32 curMode = 0;

    // Components.
    UdpListener *IdUDPServer1 = nullptr;
    QUdpSocket *IdUDPClient1 = nullptr;
    QTimer *TimerToServer = nullptr;
    QTimer *TimerServerSearch = nullptr;
    QTimer *TimerPlus = nullptr;
    TextLabel *l1 = nullptr;
    TextLabel *ll = nullptr;
    PictureControl *iPanel = nullptr;
    PictureControl *apB = nullptr;
    PictureControl *iBackground = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QMenu *PopupMenu2 = nullptr;
    QAction *nm1 = nullptr;
    QAction *nm2 = nullptr;
    QAction *nm1_ = nullptr;
    QAction *nm2_ = nullptr;
    QAction *N3 = nullptr;
    QAction *N1 = nullptr;
    QAction *N2 = nullptr;
    TFormTable *FormTable = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    // Shift+F10 opens the menu at the pointer, as the menu key does.
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The popup menu a right click at the pointer would open, at the pointer.
    void openMenuAtPointer();
    // Tells a screen reader of a new or overdue call on the bed.
    void announceCall(CallAlert alert, const Ttable &bed);
    void buildComponents();
    void refreshContexts();
    // Says once when the bed file was cut short by a NUL.
    void noticeCutBedFile();
    void releaseCallsAndBeds();
    void saveBeds();
    void fitFrameToWorkArea();
    QString dataFile(const char *name) const;
    // Milliseconds since the window was built: the link supervision's clock.
    qint64 uptimeMs() const { return m_uptime.elapsed(); }
    // Carries out what a step of the link supervision asks: banner, title,
    // fault sound; then arms the link timer for the next step.
    void applyLink(const LinkSupervisor::Step &step);
    void placeBanner();
    void showOverflowRow(qint32 row, qint32 notShown, bool overdue);
    // The tick's display part: which entries show on which rows.
    void layOutCallList();

    // A new call on a bed: its line in the call list (in place of the line
    // of an ended call that the tick has not swept yet), the calling
    // picture, the bill overlay for a bill call, and its sound.
    // A picture that cannot be shown does not stop the call: its error is
    // handed back, to be raised once the call is complete.
    tincoming *startCall(Ttable *bed, const QString &code, const QString &responsible,
                         const QString &name, CallKind kind, journal::CallId journalId,
                         std::exception_ptr *pictureError);
    // The entry's call ends now, for this reason: recorded once in the journal.
    void journalCallEnded(tincoming &entry, journal::EndReason reason);

    // The call journal (src/app/CallJournal.cpp).
    void startJournal();
    void restoreCalls(const QList<journal::RestorableCall> &calls);
    void showJournalStatus(const QString &status);
    // Height the journal's status line takes from the call list: 0 while hidden.
    qint32 journalNoteHeight() const;
    void placeJournalNote();
    // The console ends: every open call ends "console closed", and the last
    // records reach the file (waiting a few seconds at most).
    void closeJournal();

    Files m_files;
    AnimationClock *m_clock = nullptr;
    CallAlertNode *m_alert = nullptr;
    PlanLayer *m_planLayer = nullptr;
    SoundPlayer m_sounds;
    QMenu *m_popupMenu = nullptr;
    TableContext m_tableContext;
    EntryContext m_entryContext;
    bool m_fitToWorkArea = false;
    bool m_keepBackup = false; // a save failed after its backup: keep that backup
    std::optional<QStringList> m_savedBedLines; // what this run's last save wrote
    SafetySettings m_safety;
    LinkSupervisor m_link;
    QElapsedTimer m_uptime;
    QTimer *m_linkTimer = nullptr; // single shot, armed for the supervision's next step
    LinkBanner *m_banner = nullptr;
    TextLabel *m_overflow = nullptr; // "+N вызовов не показано"
    std::optional<bool> m_serverFound; // what the log last said of the call server
    std::unique_ptr<journal::Journal> m_journal;
    QLabel *m_journalNote = nullptr;
    bool m_replied = false; // a presence reply since the last search tick, in any mode
};

} // namespace kalvora
