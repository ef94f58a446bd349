#include "TkrdoMF.h"

#include "ConsoleAccessible.h"
#include "calls/AccessibleText.h"
#include "journal/Journal.h"
#include "link/UdpListener.h"
#include "plan/BedFile.h"
#include "plan/BedLine.h"
#include "settings/Logging.h"
#include "settings/Settings.h"
#include "ui/Accessibility.h"
#include "ui/AnimationClock.h"
#include "ui/Errors.h"
#include "ui/Fonts.h"
#include "ui/LinkBanner.h"
#include "ui/PictureControl.h"
#include "ui/PlanLayer.h"
#include "ui/TextLabel.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QUdpSocket>
#include <QWindow>

#include <algorithm>

namespace kalvora {

TkrdoMF::TkrdoMF(Files files, QWidget *parent)
    : QWidget(parent,
              Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_files(std::move(files))
{
    setObjectName(QStringLiteral("krdoMF"));
    registerConsoleFonts();
    installConsoleAccessibility();
    m_clock = new AnimationClock(this);
    m_alert = new CallAlertNode(this);
    buildComponents();
}

TkrdoMF::~TkrdoMF()
{
    // A journal still open here was not closed: its run ends as a killed
    // console's would, and its open calls are offered at the next start.
    m_journal.reset();
    // Entries refer to beds, so they go first.
    curTable = nullptr;
    sinc.takeAll();
    sl.takeAll();
}

void TkrdoMF::buildComponents()
{
    setWindowTitle(QStringLiteral("krdoMF"));
    resize(481, 250);
    setFont(consoleFont(11, false));
    // The client area is plain button face where plan and panel do not reach.
    QPalette plain = palette();
    plain.setColor(QPalette::Window, plain.color(QPalette::Button));
    setPalette(plain);
    setAutoFillBackground(true);
    setMouseTracking(true);

    IdUDPServer1 = new UdpListener(this);
    IdUDPServer1->onDatagram = [this](const QByteArray &data) { IdUDPServer1UDPRead(data); };
    IdUDPServer1->readBeforeRepaintOf(this);

    IdUDPClient1 = new QUdpSocket(this);
    IdUDPClient1->bind(QHostAddress::AnyIPv4, 0);

    TimerToServer = new QTimer(this);
    TimerToServer->setInterval(500);
    connect(TimerToServer, &QTimer::timeout, this, &TkrdoMF::TimerToServerTimer);

    TimerServerSearch = new QTimer(this);
    TimerServerSearch->setInterval(3000);
    connect(TimerServerSearch, &QTimer::timeout, this, &TkrdoMF::TimerServerSearchTimer);

    l1 = new TextLabel(this);
    l1->setObjectName(QStringLiteral("l1"));
    l1->hide();
    l1->setLabelFont(consoleFont(16, true));
    l1->setText(QStringLiteral("l1"));

    ll = new TextLabel(this);
    ll->setObjectName(QStringLiteral("ll"));
    ll->hide();
    ll->setLabelFont(consoleFont(13, true));
    ll->setText(QStringLiteral("ll"));
    // Hidden holders of the list and label fonts: nothing for a screen reader.
    l1->setProperty(kAccessibleIgnored, true);
    ll->setProperty(kAccessibleIgnored, true);

    TimerPlus = new QTimer(this);
    TimerPlus->setInterval(1000);
    connect(TimerPlus, &QTimer::timeout, this, [this] { guarded([this] { TimerPlusTimer(); }); });

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    nm1 = PopupMenu1->addAction(QStringLiteral("Перемещение объектов"));
    nm2 = PopupMenu1->addAction(QStringLiteral("Добавление объектов"));
    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    nm1_ = PopupMenu2->addAction(QStringLiteral("Перемещение объектов"));
    nm2_ = PopupMenu2->addAction(QStringLiteral("Добавление объектов"));
    N3 = PopupMenu2->addSeparator();
    N1 = PopupMenu2->addAction(QStringLiteral("Редактирование"));
    N2 = PopupMenu2->addAction(QStringLiteral("Удалить"));
    for (QAction *item : { nm1, nm2, nm1_, nm2_ })
        item->setCheckable(true);
    // A checkable item flips its own mark before it reports the choice; the
    // handlers set both items' marks themselves, so that flip is undone first.
    const auto modeItem = [this](QAction *item, void (TkrdoMF::*handler)()) {
        connect(item, &QAction::triggered, this, [this, item, handler] {
            item->setChecked(!item->isChecked());
            guarded([this, handler] { (this->*handler)(); });
        });
    };
    modeItem(nm1, &TkrdoMF::nm1Click);
    modeItem(nm1_, &TkrdoMF::nm1Click);
    modeItem(nm2, &TkrdoMF::nm2Click);
    modeItem(nm2_, &TkrdoMF::nm2Click);
    connect(N1, &QAction::triggered, this, [this] { guarded([this] { N1Click(); }); });
    connect(N2, &QAction::triggered, this, [this] { guarded([this] { N2Click(); }); });

    iPanel = new PictureControl(this, m_clock);
    iPanel->setObjectName(QStringLiteral("iPanel"));
    iPanel->setGeometry(0, 0, 100, 100);
    iPanel->setAutoSize(true);
    iPanel->setPopupMenu(PopupMenu1);
    iPanel->onMouseMove = [this](QPoint p) { iPanelMouseMove(p.x(), p.y()); };
    iPanel->onMouseDown = [this](Qt::MouseButton b, QPoint) { iPanelMouseDown(b); };

    apB = new PictureControl(this, m_clock);
    apB->setObjectName(QStringLiteral("apB"));
    apB->hide();
    apB->setAnimate(true);
    apB->setPicture(builtInBillPicture());

    iBackground = new PictureControl(this, m_clock);
    iBackground->setObjectName(QStringLiteral("iBackground"));
    iBackground->setGeometry(0, 0, 100, 100);
    iBackground->setAutoSize(true);
    iBackground->setPopupMenu(PopupMenu1);
    iBackground->onMouseMove = [this](QPoint p) { iBackgroundMouseMove(p.x(), p.y()); };
    iBackground->onMouseDown = [this](Qt::MouseButton b, QPoint) { iBackgroundMouseDown(b); };

    // Every bed's marker, above the plan and the panel.
    m_planLayer = new PlanLayer(this);
    m_planLayer->setAccessibleName(QStringLiteral("Койки"));
    iBackground->setAccessibleName(QStringLiteral("План"));
    // The overflow row of the call list, in the list's font; shown by the tick.
    m_overflow = new TextLabel(this);
    m_overflow->setObjectName(QStringLiteral("overflowRow"));
    m_overflow->hide();
    m_overflow->setLabelFont(l1->font());

    // The journal's status line, below the call list (CallJournal.cpp): black
    // on amber, in the bed labels' font; pointer input goes through it.
    m_journalNote = new QLabel(this);
    m_journalNote->setObjectName(QStringLiteral("journalNote"));
    m_journalNote->hide();
    m_journalNote->setFont(consoleFont(13, true));
    m_journalNote->setWordWrap(true);
    m_journalNote->setMargin(6);
    m_journalNote->setAutoFillBackground(true);
    m_journalNote->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette noteColours = m_journalNote->palette();
    noteColours.setColor(QPalette::Window, QColor(255, 204, 0));
    noteColours.setColor(QPalette::WindowText, Qt::black);
    m_journalNote->setPalette(noteColours);

    // The link supervision's clock and timer; the banner lies above every
    // other control while it is shown.
    m_uptime.start();
    m_linkTimer = new QTimer(this);
    m_linkTimer->setSingleShot(true);
    m_linkTimer->setTimerType(Qt::PreciseTimer);
    connect(m_linkTimer, &QTimer::timeout, this, [this] { applyLink(m_link.tick(uptimeMs())); });
    m_banner = new LinkBanner(this);

    TimerToServer->start();
    TimerServerSearch->start();
}

void TkrdoMF::applyLink(const LinkSupervisor::Step &step)
{
    const qint64 now = uptimeMs();
    if (step.lost)
        m_banner->setText(m_link.bannerText(now));
    const QString faultSound = dataSoundFile(m_files.dataDir, m_safety.FaultSound);
    if (step.changed) {
        if (step.lost) {
            qCWarning(lcLink) << "No presence reply from the call server for"
                              << m_link.silenceMs(now) << "ms: the link is lost";
            if (m_journal)
                m_journal->linkState(false);
        } else {
            qCInfo(lcLink) << "The call server answers again: the link is restored";
            m_sounds.stop(faultSound);
        }
        m_banner->setVisible(step.lost);
        const TitleMoment moment = step.lost ? TitleMoment::LinkLost : TitleMoment::LinkRestored;
        if (const auto title = linkTitle(moment, curMode != 0, step.lost, true))
            setWindowTitle(*title);
    }
    if (step.playFault) {
        // A lost link is always heard: without its file, the system's alert.
        if (!faultSound.isEmpty() && QFileInfo::exists(faultSound)) {
            qCDebug(lcLink).noquote() << "fault sound" << m_safety.FaultSound;
            m_sounds.play(faultSound);
        } else {
            qCDebug(lcLink) << "fault sound: the system's alert";
            QApplication::beep();
        }
    }
    if (const auto due = m_link.nextDueMs(now))
        m_linkTimer->start(int(std::clamp<qint64>(*due - now, 0, 24 * 3600 * 1000)));
}

void TkrdoMF::placeBanner()
{
    // Over the column titles and the top of the list.
    if (m_banner)
        m_banner->placeOver(iPanel->geometry(), cy + l1->height());
}

QString TkrdoMF::dataFile(const char *name) const
{
    return m_files.dataDir + u'/' + QString::fromLatin1(name);
}

void TkrdoMF::FormCreate()
{
    isinit = false;
    guarded([this] {
        if (!QFileInfo::exists(m_files.settingsFile)) {
            InitComm();
            InitDef();
            qCInfo(lcSettings).noquote()
                << "First start: default settings written to" << m_files.settingsFile;
        }
        InitForm();
        qCInfo(lcSettings).noquote()
            << QStringLiteral("Settings %1: FromServerPort=%2 ToServerPort=%3 redSec=%4 maxSec=%5")
                   .arg(m_files.settingsFile)
                   .arg(FromServerPort)
                   .arg(ToServerPort)
                   .arg(redSec)
                   .arg(maxSec);
        qCInfo(lcApp).noquote() << "Data folder:" << m_files.dataDir;
        LoadData();
        LoadTableFile();
        qCInfo(lcBeds).noquote() << sl.size() << "beds loaded from"
                                 << BedFile { m_files.dataDir }.path();
        noticeCutBedFile();
        curTable = nullptr;
        curMode = 0;
        sinc.takeAll();
        TimerPlus->start();
        if (auto error = IdUDPServer1->activate(FromServerPort))
            throw KalvoraError(*error);
        qCInfo(lcLink) << "Listening for the call server on UDP port" << FromServerPort;
        isinit = true;
        // Only a console that takes calls keeps a journal: one whose start
        // failed leaves the calls of an unclean end for the next start.
        startJournal();
    });
}

void TkrdoMF::InitComm()
{
    if (auto error = writeSettingComments(m_files.settingsFile))
        throw KalvoraError(*error);
}

void TkrdoMF::InitDef()
{
    if (auto error = writeSettingDefaults(m_files.settingsFile))
        throw KalvoraError(*error);
}

void TkrdoMF::InitForm()
{
    const Settings s = readSettings(m_files.settingsFile);
    sToServer = s.sToServer;
    sFromServer = s.sFromServer;
    ToServerPort = s.ToServerPort;
    FromServerPort = s.FromServerPort;
    cx = s.cx;
    cy = s.cy;
    cw1 = s.cw1;
    cw2 = s.cw2;
    minl = s.minl;
    dd = s.dd;
    cs1 = s.cs1;
    cs2 = s.cs2;
    cs3 = s.cs3;
    bdx = s.bdx;
    bdy = s.bdy;
    redSec = s.redSec;
    maxSec = s.maxSec;
    m_safety = readSafetySettings(m_files.settingsFile);
    // Supervised from now on: a server that never answers is a lost link too.
    m_link = LinkSupervisor(m_safety.LinkLossSec, uptimeMs());
    applyLink({});
    if (m_link.enabled())
        m_sounds.preload(dataSoundFile(m_files.dataDir, m_safety.FaultSound));
    m_sounds.preload(dataSoundFile(m_files.dataDir, m_safety.OverdueSound));
    refreshContexts();
    for (const QString &warning : settingsWarnings(s, m_files.settingsFile))
        qCWarning(lcSettings).noquote() << warning;
    if (auto error = settingsError(s, m_files.settingsFile))
        throw KalvoraError(*error);
}

void TkrdoMF::noticeCutBedFile()
{
    // The beds after a NUL are not read, and the next close saves the bed
    // file without them (the backup keeps the whole previous file): said
    // once, on standard error and in a notice that leaves the window working.
    const BedFile file { m_files.dataDir };
    const auto contents = file.load();
    if (!contents || contents->nulLine == 0 || contents->linesAfterNul == 0)
        return;
    qCWarning(lcBeds).noquote()
        << QStringLiteral("%1 ends at a NUL in line %2: %3 lines after it were not read; the "
                          "next close keeps the whole file as %4")
               .arg(file.path(), QString::number(contents->nulLine),
                    QString::number(contents->linesAfterNul), file.backupPath());
    const QString text =
        QStringLiteral("Файл коек \"%1\" обрезан символом NUL в строке %2, и строки после него "
                       "не прочитаны (строк с текстом: %3). При закрытии консоли прежний файл "
                       "целиком сохранится в \"%4\".")
            .arg(file.path(), QString::number(contents->nulLine),
                 QString::number(contents->linesAfterNul), file.backupPath());
    QTimer::singleShot(0, this, [this, text] {
        noticeBox(this, errorCaption(QCoreApplication::applicationFilePath()), text);
    });
}

void TkrdoMF::refreshContexts()
{
    TableContext &t = m_tableContext;
    t.layer = m_planLayer;
    t.clock = m_clock;
    t.iTable = &iTable;
    t.iGreenTable = &iGreenTable;
    t.iRedTable = &iRedTable;
    t.billPicture = &apB->holder();
    t.billMenu = PopupMenu2;
    t.labelFont = ll->font();
    t.bdx = bdx;
    t.bdy = bdy;
    t.redSec = redSec;
    t.maxSec = effectiveMaxSec(maxSec, m_safety.KeepUntilCancelled);
    t.onMove = [this](QPoint p) {
        if (isinit)
            FormMouseMove(p.x(), p.y());
    };
    t.acknowledged = [this](const Ttable &bed) {
        const tincoming *entry = sinc.find(bed.code);
        return entry && entry->table == &bed && entry->marks.acknowledged;
    };
    t.onDown = [this](Qt::MouseButton button) {
        if (isinit)
            guarded([&] { FormMouseDown(button); });
    };

    EntryContext &e = m_entryContext;
    e.parent = this;
    e.font = l1->font();
    e.lineHeight = l1->height();
    e.panelLeft = iPanel->x();
    e.panelTop = iPanel->y();
    e.cx = cx;
    e.cy = cy;
    e.cw1 = cw1;
    e.cw2 = cw2;
    e.dd = dd;
}

bool TkrdoMF::FormClose()
{
    if (isinit && !guarded([this] { saveBeds(); }))
        return false;
    closeJournal();
    releaseCallsAndBeds();
    IdUDPServer1->deactivate();
    TimerPlus->stop();
    m_linkTimer->stop(); // no more replies can come
    // Nothing is left to save: a second close must not write an empty list.
    isinit = false;
    return true;
}

Status TkrdoMF::saveAtSessionEnd()
{
    if (!isinit)
        return {};
    QString error;
    try {
        saveBeds();
        return {};
    } catch (const KalvoraError &e) {
        error = e.message();
    } catch (const std::exception &e) {
        error = QString::fromLocal8Bit(e.what());
    }
    qCWarning(lcBeds).noquote() << "The beds could not be saved as the session ends:" << error;
    return error;
}

void TkrdoMF::endSession()
{
    saveAtSessionEnd();
    closeJournal(); // a clean end: its calls are not restored
    IdUDPServer1->deactivate();
    TimerPlus->stop();
    m_linkTimer->stop();
    isinit = false;
}

void TkrdoMF::saveBeds()
{
    QStringList lines;
    lines.reserve(sl.size());
    for (const auto &item : sl)
        lines.append(formatBedLine(item.object->record()));
    // Saved already and unchanged since (the session's end saved them, then
    // the window closes): a second save would make the backup a copy of them.
    if (lines == m_savedBedLines)
        return;
    SaveTablesFile();
    m_savedBedLines = std::move(lines);
}

void TkrdoMF::releaseCallsAndBeds()
{
    curTable = nullptr;
    sinc.takeAll(); // destroyed in list order
    sl.takeAll();
}

bool TkrdoMF::addMode() const
{
    return nm2->isChecked();
}

void TkrdoMF::setFormTable(TFormTable *form)
{
    FormTable = form;
}

void TkrdoMF::closeEvent(QCloseEvent *event)
{
    if (FormClose())
        event->accept();
    else
        event->ignore();
}

void TkrdoMF::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    guarded([this] { FormResize(); });
}

namespace {

// Calls back once, when the window is first exposed: by then a window manager
// has put its frame around the window, and the frame's size is known.
class FirstExpose final : public QObject {
public:
    FirstExpose(QWindow *window, std::function<void()> exposed)
        : QObject(window)
        , m_exposed(std::move(exposed))
    {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed()) {
            watched->removeEventFilter(this);
            deleteLater();
            m_exposed();
        }
        return false;
    }

private:
    std::function<void()> m_exposed;
};

} // namespace

void TkrdoMF::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_fitToWorkArea && windowHandle())
        new FirstExpose(windowHandle(), [this] { fitFrameToWorkArea(); });
}

void TkrdoMF::fitFrameToWorkArea()
{
    // Start-up gave the client area the work area's bounds; the outer bounds,
    // frame included, are to fill it. A window manager places and sizes the
    // client area inside its frame, so the client area is the work area less
    // the frame's edges (none without a window manager).
    if (!m_fitToWorkArea)
        return;
    m_fitToWorkArea = false;
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary)
        return;
    const QRect work = primary->availableGeometry();
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    const QRect fitted =
        work.adjusted(client.left() - frame.left(), client.top() - frame.top(),
                      client.right() - frame.right(), client.bottom() - frame.bottom());
    if (!work.isEmpty() && fitted != client)
        setGeometry(fitted);
}

void TkrdoMF::mouseMoveEvent(QMouseEvent *event)
{
    if (isinit)
        FormMouseMove(event->position().toPoint().x(), event->position().toPoint().y());
}

void TkrdoMF::mousePressEvent(QMouseEvent *event)
{
    if (isinit)
        guarded([&] { FormMouseDown(event->button()); });
}

void TkrdoMF::contextMenuEvent(QContextMenuEvent *event)
{
    if (event->reason() == QContextMenuEvent::Keyboard) {
        // The menu key (the window system makes it this event).
        openMenuAtPointer();
        return;
    }
    if (m_popupMenu)
        m_popupMenu->popup(event->globalPos());
}

void TkrdoMF::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        openMenuAtPointer();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TkrdoMF::openMenuAtPointer()
{
    // What a right click at the pointer would open, where it would open it:
    // the control under the pointer is asked first, as for a click.
    const QPoint global = QCursor::pos();
    const QPoint local = mapFromGlobal(global);
    QWidget *target = rect().contains(local) ? childAt(local) : nullptr;
    if (!target)
        target = this;
    QContextMenuEvent click(QContextMenuEvent::Mouse, target->mapFromGlobal(global), global);
    QCoreApplication::sendEvent(target, &click);
}

void TkrdoMF::announceCall(CallAlert alert, const Ttable &bed)
{
    if (!QAccessible::isActive())
        return;
    m_alert->announce(callAlertText(alert, bed.marker().name(), bed.code));
}

} // namespace kalvora
