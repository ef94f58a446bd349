// The road of a call: datagrams over loopback, event dispatch, call timing,
// the call list, the presence ping and the server search, and what the call
// journal records of it.

#include "ConsoleFixture.h"
#include "JournalTestSupport.h"
#include "LogCapture.h"
#include "NetworkGuard.h"
#include "app/TkrdoMF.h"
#include "link/UdpListener.h"
#include "plan/Ttable.h"
#include "ui/Errors.h"
#include "ui/Fonts.h"
#include "ui/LinkBanner.h"
#include "ui/PictureControl.h"
#include "ui/TextLabel.h"

#include <QAction>
#include <QLabel>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

using namespace kalvora;
using namespace Qt::StringLiterals;
using kalvora::test::ConsoleFixture;
using kalvora::test::LogCapture;

namespace {

QString str(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

using SettingValues = QMap<QString, QString>; // [section/key] => value

bool unexpectedBox(const BoxRecord &box)
{
    qWarning("unexpected box: %s", qPrintable(box.text));
    return true;
}

} // namespace

class TestDispatch : public QObject {
    Q_OBJECT

    std::unique_ptr<ConsoleFixture> m_fixture;
    TkrdoMF *w = nullptr;
    QUdpSocket m_server; // plays the call server

    void startConsole(const QMap<QString, QString> &settings = {})
    {
        m_fixture = std::make_unique<ConsoleFixture>();
        m_fixture->writeSettings(settings);
        w = &m_fixture->start();
        QVERIFY(w->isinit);
        w->TimerPlus->stop(); // the tests tick by hand
    }

    void send(const QByteArray &datagram)
    {
        QCOMPARE(m_server.writeDatagram(datagram, QHostAddress::LocalHost, w->FromServerPort),
                 qint64(datagram.size()));
    }

    Ttable *bed(const char *code) const { return w->sl.find(QString::fromLatin1(code)); }

    QStringList listedCodes() const
    {
        QStringList codes;
        for (const auto &item : w->sinc)
            codes.append(item.key);
        return codes;
    }

    void tick(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            w->TimerPlusTimer();
    }

private slots:
    void initTestCase()
    {
        KALVORA_REQUIRE_PRIVATE_NETWORK();
        QVERIFY(m_server.bind(QHostAddress::LocalHost, 0));
        setBoxObserver(unexpectedBox);
    }
    void cleanup()
    {
        w = nullptr;
        m_fixture.reset();
    }

    void callDatagram_turnsBedCallingAndListsIt()
    {
        startConsole();
        Ttable *b = bed("101");
        send("#101;8;Nurse A;Bed 2");
        QTRY_VERIFY(b->isOn);
        QCOMPARE(b->curT, 0);
        QCOMPARE(b->l, QStringLiteral("Bed 2"));
        QCOMPARE(b->iT->holder().picture(), w->iGreenTable[size_t(b->imagenumber)].picture());
        QVERIFY(b->iB->isHidden());
        QCOMPARE(listedCodes(), QStringList { QStringLiteral("101") });
        QCOMPARE(w->sinc.at(0)->responsible(), QStringLiteral("Nurse A"));
        QCOMPARE(w->sinc.at(0)->bedText(), QStringLiteral("Bed 2"));
        QVERIFY(w->sounds().lastRequested().endsWith(QLatin1String("/bill.wav")));

        // The next tick shows it on the first row with one second waited.
        tick();
        tincoming *entry = w->sinc.at(0);
        QCOMPARE(entry->lastN, 1);
        QCOMPARE(entry->l3->text(), str("1 сек."));
        QCOMPARE(entry->l1->text(), QStringLiteral("Nurse A"));
        QCOMPARE(entry->l1->pos(), QPoint(w->iPanel->x() + 20, 20 + (w->l1->height() + 5)));
        QCOMPARE(entry->l2->x(), w->iPanel->x() + 240);
        QCOMPARE(entry->l3->x(), w->iPanel->x() + 400);
        QVERIFY(entry->l1->isVisible() || !w->isVisible());
        QCOMPARE(b->lab->text(), QStringLiteral("Bed 2"));
    }

    void billCall_showsOverlayAndPlaysTheOtherSound()
    {
        startConsole();
        w->AddSinc(QStringLiteral("#101;4;Nurse A;Bed 2"));
        QVERIFY(bed("101")->isOn);
        QVERIFY(!bed("101")->iB->isHidden());
        QVERIFY(w->sounds().lastRequested().endsWith(QLatin1String("/call.wav")));
    }

    void repeatedCall_movesEntryToTheEndWithoutSound()
    {
        startConsole();
        w->AddSinc(QStringLiteral("#101;8;A;Bed 1"));
        w->AddSinc(QStringLiteral("#102;8;B;Bed 2"));
        tick(3);
        const int sounds = w->sounds().requests();
        w->AddSinc(QStringLiteral("#101;4;Other;Renamed"));
        QCOMPARE(w->sounds().requests(), sounds);
        QCOMPARE(listedCodes(), (QStringList { QStringLiteral("102"), QStringLiteral("101") }));
        QCOMPARE(bed("101")->curT, 3);
        QVERIFY(!bed("101")->iB->isHidden()); // a bill on a repeat shows the overlay
        QCOMPARE(w->sinc.at(1)->responsible(), QStringLiteral("A")); // texts unchanged
        QCOMPARE(bed("101")->l, QStringLiteral("Renamed"));
        tick();
        QCOMPARE(w->sinc.at(1)->lastN, 1); // the repeated call is on top
        QCOMPARE(w->sinc.at(0)->lastN, 2);
    }

    void cancel_endsCallAndTickRemovesEntry()
    {
        startConsole();
        w->AddSinc(QStringLiteral("#101;4;A;Bed 1"));
        w->AddSinc(QStringLiteral("#101;2;;Named"));
        QVERIFY(!bed("101")->isOn);
        QVERIFY(bed("101")->iB->isHidden());
        QCOMPARE(bed("101")->iT->holder().picture(),
                 w->iTable[size_t(bed("101")->imagenumber)].picture());
        QCOMPARE(w->sinc.size(), 1); // until the next tick
        tick();
        QCOMPARE(w->sinc.size(), 0);
        // A new call creates a new entry.
        w->AddSinc(QStringLiteral("#101;8;B;Bed"));
        QCOMPARE(w->sinc.size(), 1);
        QCOMPARE(w->sinc.at(0)->responsible(), QStringLiteral("B"));
    }

    void callAfterEndedCall_startsANewCall_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("call");
        QTest::addColumn<bool>("acknowledged"); // the ended call, by a first click
        QTest::addRow("call after a click") << "click"
                                            << "#101;8;B;Again" << false;
        QTest::addRow("bill call after a click") << "click"
                                                 << "#101;4;B;Again" << false;
        QTest::addRow("call after a cancel") << "#101;2;;Cancelled"
                                             << "#101;8;B;Again" << false;
        QTest::addRow("bill call after a cancel") << "#101;2;;Cancelled"
                                                  << "#101;4;B;Again" << false;
        QTest::addRow("call after a second click") << "click"
                                                   << "#101;8;B;Again" << true;
        QTest::addRow("call after an acknowledged call's cancel") << "#101;2;;Cancelled"
                                                                  << "#101;8;B;Again" << true;
    }
    void callAfterEndedCall_startsANewCall()
    {
        QFETCH(QString, end);
        QFETCH(QString, call);
        QFETCH(bool, acknowledged);
        SettingValues settings;
        if (acknowledged)
            settings.insert(QStringLiteral("Safety/ClickAction"), QStringLiteral("acknowledge"));
        startConsole(settings);
        Ttable *b = bed("101");
        w->AddSinc(QStringLiteral("#101;4;A;Bed 1"));
        w->AddSinc(QStringLiteral("#102;8;A;Bed 2"));
        tick(3);
        const QPointer<TextLabel> oldLine = w->sinc.at(0)->l1;
        QVERIFY(oldLine);
        w->curTable = b;
        if (acknowledged) {
            w->FormMouseDown(Qt::LeftButton);
            QVERIFY(b->isOn);
            QCOMPARE(oldLine->text(), str("✓ A"));
        }
        if (end == u"click")
            w->FormMouseDown(Qt::LeftButton);
        else
            w->AddSinc(end);
        QVERIFY(!b->isOn);
        const int sounds = w->sounds().requests();

        // Before the tick sweeps the ended call's line, a new call comes in:
        // it is a call like any first one, with a line of its own on top.
        w->AddSinc(call);
        const bool bill = call.contains(u";4;");
        QVERIFY(b->isOn);
        QCOMPARE(b->curT, 0);
        QCOMPARE(b->iT->holder().picture(), w->iGreenTable[size_t(b->imagenumber)].picture());
        QCOMPARE(b->iB->isHidden(), !bill);
        QCOMPARE(w->sounds().requests(), sounds + 1);
        QVERIFY(w->sounds().lastRequested().endsWith(bill ? u"/call.wav" : u"/bill.wav"));
        QCOMPARE(listedCodes(), (QStringList { QStringLiteral("102"), QStringLiteral("101") }));
        QCOMPARE(w->sinc.at(1)->responsible(), QStringLiteral("B"));
        QCOMPARE(w->sinc.at(1)->bedText(), QStringLiteral("Again"));
        QVERIFY(!oldLine); // the old line is gone, not shown twice

        tick();
        QVERIFY(b->isOn);
        QCOMPARE(listedCodes(), (QStringList { QStringLiteral("102"), QStringLiteral("101") }));
        QCOMPARE(w->sinc.at(1)->lastN, 1);
        QCOMPARE(w->sinc.at(1)->l3->text(), str("1 сек."));
        QCOMPARE(w->sinc.at(1)->l1->text(), QStringLiteral("B")); // not acknowledged
        QCOMPARE(w->sinc.at(0)->lastN, 2);

        // A repeat while the new call runs is only a repeat.
        w->AddSinc(QStringLiteral("#101;8;C;Repeat"));
        QCOMPARE(w->sounds().requests(), sounds + 1);
        QCOMPARE(b->curT, 1);
        QCOMPARE(w->sinc.at(1)->responsible(), QStringLiteral("B"));
    }

    // Every way a call ends, through the handlers that end it, leaves its
    // reason in the journal; a call after the end is a new call of its own.
    void journal_recordsHowEachCallEnds_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("reason"); // calls.end_reason
        QTest::addRow("server cancel") << "cancel"
                                       << "server_cancel";
        QTest::addRow("click") << "click"
                               << "click";
        QTest::addRow("acknowledge, then click") << "acknowledge"
                                                 << "click";
        QTest::addRow("timeout") << "timeout"
                                 << "timeout";
        QTest::addRow("bed deleted") << "delete"
                                     << "bed_deleted";
        QTest::addRow("console closed") << "close"
                                        << "console_closed";
    }
    void journal_recordsHowEachCallEnds()
    {
        QFETCH(QString, end);
        QFETCH(QString, reason);
        startConsole({ { QStringLiteral("Journal/File"), QStringLiteral("journal.sqlite") },
                       { QStringLiteral("Logic/redSec"), QStringLiteral("2") },
                       { QStringLiteral("Logic/maxSec"), QStringLiteral("4") },
                       { QStringLiteral("Safety/ClickAction"),
                         end == u"acknowledge" ? QStringLiteral("acknowledge")
                                               : QStringLiteral("cancel") } });
        Ttable *b = bed("101");
        w->AddSinc(QStringLiteral("#101;8;Nurse A;Bed 1"));
        w->AddSinc(QStringLiteral("#101;4;Nurse B;Bed 1b")); // a repeat, with the bill
        w->AddSinc(QStringLiteral("#102;8;Nurse C;Bed 2"));
        tick(2); // both overdue
        w->curTable = b;
        if (end == u"cancel") {
            w->AddSinc(QStringLiteral("#101;2;;Bed 1"));
        } else if (end == u"click" || end == u"acknowledge") {
            w->FormMouseDown(Qt::LeftButton);
            QCOMPARE(b->isOn, end == u"acknowledge");
            w->FormMouseDown(Qt::LeftButton); // idle by now after a plain click
        } else if (end == u"timeout") {
            w->AddSinc(QStringLiteral("#102;2;;Bed 2")); // only 101 times out
            tick(3);
        } else if (end == u"delete") {
            setBoxObserver([](const BoxRecord &) { return true; }); // OK to the question
            w->N2Click();
            setBoxObserver(unexpectedBox);
        }
        const bool again = end != u"close" && end != u"delete";
        if (again) // the old line of 101 may still be listed: this is a new call
            w->AddSinc(QStringLiteral("#101;8;Nurse D;Bed 1"));
        QVERIFY(w->journalNote()->isHidden()); // all is well
        QVERIFY(w->close());

        const QString file = m_fixture->dataFile(QStringLiteral("journal.sqlite"));
        const auto row = [](const char *code, const char *responsible, const char *type,
                            int repeats, bool overdue, bool acknowledged, const QString &how) {
            return QVariantMap { { u"bed_code"_s, QString::fromLatin1(code) },
                                 { u"responsible"_s, QString::fromLatin1(responsible) },
                                 { u"call_type"_s, QString::fromLatin1(type) },
                                 { u"repeats"_s, repeats },
                                 { u"bill_by_repeat"_s, repeats }, // its repeat was type 4
                                 { u"overdue"_s, int(overdue) },
                                 { u"acknowledged"_s, int(acknowledged) },
                                 { u"end_reason"_s, how } };
        };
        QList<QVariantMap> expected {
            row("101", "Nurse A", "call", 1, true, end == u"acknowledge", reason),
            row("102", "Nurse C", "call", 0, true, false,
                end == u"timeout" ? u"server_cancel"_s : u"console_closed"_s)
        };
        if (again)
            expected.append(row("101", "Nurse D", "call", 0, false, false, u"console_closed"_s));
        QCOMPARE(test::query(file,
                             QStringLiteral("SELECT bed_code, responsible, call_type, repeats, "
                                            "bill_by_repeat, overdue_utc NOT NULL AS overdue, "
                                            "acknowledged_utc NOT NULL AS acknowledged, "
                                            "end_reason FROM calls WHERE ended_utc >= started_utc "
                                            "ORDER BY seq")),
                 expected);
        QCOMPARE(test::query(file,
                             QStringLiteral("SELECT group_concat(kind) AS kinds FROM "
                                            "(SELECT kind FROM events ORDER BY seq)")),
                 QList<QVariantMap>(
                     { { { u"kinds"_s, u"console_started,beds_saved,console_closed"_s } } }));
        QCOMPARE(test::query(file,
                             QStringLiteral("SELECT red_sec, max_sec, beds, end_kind FROM "
                                            "runs")),
                 QList<QVariantMap>({ { { u"red_sec"_s, 2 },
                                        { u"max_sec"_s, 4 },
                                        { u"beds"_s, 24 },
                                        { u"end_kind"_s, u"closed"_s } } }));
    }

    void announcementsFasterThanTheTick_neverHoldItUp()
    {
        // Overdue after 2 s, over once it has lasted more than 3 s.
        startConsole({ { QStringLiteral("Logic/redSec"), QStringLiteral("2") },
                       { QStringLiteral("Logic/maxSec"), QStringLiteral("3") } });
        w->nm2Click();
        const qsizetype beds = w->sl.size();
        w->AddSinc(QStringLiteral("#101;8;A;B"));
        Ttable *b = bed("101");
        // A server that announces a new bed every 0.3 s while the call runs.
        int announced = 0;
        QTimer announcer;
        connect(&announcer, &QTimer::timeout, this,
                [&] { w->AddSinc(QStringLiteral("#90%1;0;;new").arg(++announced)); });
        announcer.start(300);
        w->TimerPlus->start();
        QTRY_VERIFY_WITH_TIMEOUT(b->isRed, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!b->isOn, 5000);
        QVERIFY(w->sinc.isEmpty());
        QVERIFY2(announced >= 6, qPrintable(QString::number(announced)));
        QCOMPARE(w->sl.size(), beds + announced);
        announcer.stop();
        w->TimerPlus->stop();
    }

    void eventsThatChangeOnlyTheName_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("name");
        QTest::addRow("announce for a known bed")
            << QStringLiteral("#101;0;X;New name") << QStringLiteral("New name");
        QTest::addRow("cancel with CR LF after the type")
            << QStringLiteral("#101;2\r\n") << QString();
        QTest::addRow("unknown type") << QStringLiteral("#101;9;X;Nine") << QStringLiteral("Nine");
        QTest::addRow("type with a space")
            << QStringLiteral("#101;8 ;X;Spaced") << QStringLiteral("Spaced");
        QTest::addRow("code differing in case")
            << QStringLiteral("#101;0;X;Y;Z;W") << QStringLiteral("Y");
    }
    void eventsThatChangeOnlyTheName()
    {
        QFETCH(QString, event);
        QFETCH(QString, name);
        startConsole();
        w->AddSinc(QStringLiteral("#101;8;A;Calling"));
        tick(2);
        w->AddSinc(event);
        QCOMPARE(bed("101")->l, name);
        QVERIFY(bed("101")->isOn);
        QCOMPARE(bed("101")->curT, 2);
        QCOMPARE(w->sinc.size(), 1);
    }

    void addMode_announceCreatesBed()
    {
        startConsole();
        const qsizetype n = w->sl.size();
        w->AddSinc(QStringLiteral("#305;0;X;Палата 9;305C"));
        QCOMPARE(w->sl.size(), n); // add mode is off
        w->AddSinc(QStringLiteral("#305;8;X;Палата 9;305C"));
        QCOMPARE(w->sl.size(), n);

        w->nm2Click();
        QVERIFY(w->nm2->isChecked() && w->nm2_->isChecked());
        w->TimerPlus->start();
        w->AddSinc(QStringLiteral("#305;0;X;Палата 9;305C"));
        QCOMPARE(w->sl.size(), n + 1);
        Ttable *b = w->sl.at(n);
        QCOMPARE(w->sl.keyAt(n), QStringLiteral("305"));
        QCOMPARE(b->record(),
                 (BedRecord { QStringLiteral("305"), qint32(n * 10), qint32(n * 10), 1,
                              QStringLiteral("Палата 9"), QStringLiteral("305C") }));
        QCOMPARE(b->iT->pos(),
                 QPoint(int(n * 10) - b->iT->width() / 2, int(n * 10) - b->iT->height() / 2));
        QVERIFY(w->TimerPlus->isActive());
        // The new bed takes calls at once.
        w->AddSinc(QStringLiteral("#305;8;X;Палата 9"));
        QVERIFY(b->isOn);
    }

    void addMode_withThreeBeds_placesNewBedAt30()
    {
        m_fixture = std::make_unique<ConsoleFixture>();
        m_fixture->writeSettings();
        m_fixture->writeBeds({ QStringLiteral("1;100;100;0;a;"), QStringLiteral("2;200;100;0;b;"),
                               QStringLiteral("3;300;100;0;c;") });
        w = &m_fixture->start();
        w->nm2Click();
        w->AddSinc(QStringLiteral("#205;0;;Новая"));
        Ttable *b = w->sl.find(QStringLiteral("205"));
        QVERIFY(b);
        QCOMPARE(QPoint(b->dx, b->dy), QPoint(30, 30));
        QCOMPARE(b->imagenumber, 1);
    }

    void addMode_failedBedKeepsTickRunning()
    {
        startConsole();
        w->nm2Click();
        w->TimerPlus->start();
        w->apB->setPicture(std::make_shared<PictureData>()); // no readable bill picture
        const qsizetype n = w->sl.size();
        QVERIFY_THROWS_EXCEPTION(KalvoraError, w->AddSinc(QStringLiteral("#306;0;;x")));
        QCOMPARE(w->sl.size(), n);
        QVERIFY(w->TimerPlus->isActive());
    }

    void datagramText_isDecodedExactly_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("reply");
        QTest::addColumn<QString>("name"); // bed 102's name afterwards; empty: unchanged
        QTest::addRow("presence reply") << QByteArray("#FromDovrelanServer") << true << QString();
        QTest::addRow("reply with a line end")
            << QByteArray("#FromDovrelanServer\r\n") << false << QString();
        QTest::addRow("reply in other case")
            << QByteArray("#fromdovrelanserver") << false << QString();
        QTest::addRow("reply after a byte-order mark")
            << QByteArray("\xEF\xBB\xBF#FromDovrelanServer") << false << QString();
        // The mark is a character like any other, so it can be the prefix.
        QTest::addRow("byte-order mark as the prefix") << QByteArray("\xEF\xBB\xBF"
                                                                     "102;0;;Marked")
                                                       << false << QStringLiteral("Marked");
        QTest::addRow("byte-order mark before the prefix")
            << QByteArray("\xEF\xBB\xBF#102;0;;Marked") << false << QString();
    }
    void datagramText_isDecodedExactly()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, reply);
        QFETCH(QString, name);
        startConsole();
        const QString before = bed("102")->l;
        w->onServer = false;
        send(datagram);
        send("#101;0;;marker"); // arrives after the first, so that one has been handled
        QTRY_COMPARE(bed("101")->l, QStringLiteral("marker"));
        QCOMPARE(w->onServer, reply);
        QCOMPARE(bed("102")->l, name.isEmpty() ? before : name);
    }

    void serverSearch_setsTitleButNotInMoveMode()
    {
        startConsole();
        const LogCapture log;
        w->onServer = true;
        w->TimerServerSearchTimer();
        QCOMPARE(w->windowTitle(), str("Kalvora: Сервер найден."));
        QVERIFY(!w->onServer);
        w->TimerServerSearchTimer();
        QCOMPARE(w->windowTitle(), str("Kalvora: Не найден сервер."));
        w->nm1Click();
        QCOMPARE(w->windowTitle(), str("Kalvora: Режим перетаскивания коек."));
        w->onServer = true;
        w->TimerServerSearchTimer();
        QCOMPARE(w->windowTitle(), str("Kalvora: Режим перетаскивания коек."));
        QVERIFY(w->onServer);
        w->nm1Click();
        QCOMPARE(w->windowTitle(), str("Kalvora."));
        w->TimerServerSearchTimer();
        QCOMPARE(w->windowTitle(), str("Kalvora: Сервер найден."));
        w->onServer = true;
        w->TimerServerSearchTimer();
        // The log tells each change once.
        const auto line = [this](const char *text) {
            return QString::fromLatin1(text).arg(w->ToServerPort).arg(w->FromServerPort);
        };
        const QString found =
            line("kalvora.link: Call server found: the ping to port %1 is answered on port %2");
        const QString lost = line("kalvora.link: No answer from the call server: the ping to "
                                  "port %1 had no reply on port %2 for 3 s");
        QCOMPARE(LogCapture::lines(), QStringList({ found, lost, found }));
    }

    void linkLoss_bannerUntilTheFirstReply_callsWorkThroughout()
    {
        startConsole({ { QStringLiteral("Safety/LinkLossSec"), QStringLiteral("1") } });
        w->TimerServerSearch->stop(); // the title changes only with the link
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->resize(1600, 800); // the panel lies right of the plan
        QTRY_COMPARE(w->size(), QSize(1600, 800));
        auto *banner = w->findChild<LinkBanner *>(QStringLiteral("linkBanner"));
        QVERIFY(banner);
        QVERIFY(!banner->isVisible());
        const QPoint inBanner = w->iPanel->geometry().topLeft() + QPoint(3, 3);
        const auto shown = [&] { return w->grab().toImage().pixelColor(inBanner); };
        QVERIFY(shown() != LinkBanner::background());

        // No server: the link is lost a second after start-up.
        QTRY_VERIFY_WITH_TIMEOUT(banner->isVisible(), 3000);
        QCOMPARE(shown(), LinkBanner::background());
        QCOMPARE(banner->geometry().topLeft(), w->iPanel->geometry().topLeft());
        QCOMPARE(banner->width(), w->iPanel->width());
        QVERIFY(banner->height() >= 32);
        QVERIFY(banner->text().startsWith(str("Нет связи с сервером вызовов\nнет ответа ")));
        QCOMPARE(w->windowTitle(), str("Kalvora: Нет связи с сервером."));
        QCOMPARE(w->sounds().lastRequested(), m_fixture->dataFile(QStringLiteral("fault.wav")));
        QTRY_COMPARE_WITH_TIMEOUT(banner->text(),
                                  str("Нет связи с сервером вызовов\nнет ответа 2 сек."), 3000);

        // Calls are taken as ever; a new line lies under the banner.
        send("#101;8;Nurse;Bed 1");
        QTRY_VERIFY(bed("101")->isOn);
        tick();
        QVERIFY(w->sinc.at(0)->l1->isVisible());
        QVERIFY(w->children().indexOf(banner) > w->children().indexOf(w->sinc.at(0)->l1));

        send("#FromDovrelanServer");
        QTRY_VERIFY(!banner->isVisible());
        QCOMPARE(w->windowTitle(), str("Kalvora: Сервер найден."));
        QVERIFY(shown() != LinkBanner::background());
        // Silent again, lost again.
        QTRY_VERIFY_WITH_TIMEOUT(banner->isVisible(), 3000);
    }

    void ping_isBroadcastEveryHalfSecond_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addRow("default text") << QString();
        QTest::addRow("Cyrillic text") << str("#Опрос");
        QTest::addRow("empty text sends nothing") << QStringLiteral("\"\"");
    }
    void ping_isBroadcastEveryHalfSecond()
    {
        QFETCH(QString, text);
        QUdpSocket server;
        QVERIFY(server.bind(QHostAddress::AnyIPv4, 0));
        QMap<QString, QString> settings { { QStringLiteral("Server/ToServerPort"),
                                            QString::number(server.localPort()) } };
        if (!text.isEmpty())
            settings.insert(QStringLiteral("Server/ToServerPing"), text);
        startConsole(settings);
        if (text == u"\"\"") {
            QVERIFY(!server.waitForReadyRead(1200));
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingDatagrams(), 2000);
        const QNetworkDatagram ping = server.receiveDatagram();
        QCOMPARE(ping.data(),
                 (text.isEmpty() ? QStringLiteral("#ToDovrelanServer") : text).toUtf8());
    }

    void tick_turnsOverdueAndEndsOnTheRightTicks_data()
    {
        QTest::addColumn<bool>("keep");
        QTest::addRow("ends after maxSec") << false;
        QTest::addRow("kept until cancelled") << true;
    }
    void tick_turnsOverdueAndEndsOnTheRightTicks()
    {
        QFETCH(bool, keep);
        SettingValues settings;
        if (keep)
            settings.insert(QStringLiteral("Safety/KeepUntilCancelled"), QStringLiteral("1"));
        startConsole(settings);
        w->AddSinc(QStringLiteral("#101;8;A;B"));
        Ttable *b = bed("101");
        tick(19);
        QVERIFY(!b->isRed);
        QCOMPARE(w->sinc.at(0)->l1->color(), QColor(Qt::black));
        tick();
        QVERIFY(b->isRed);
        QCOMPARE(b->iT->holder().picture(), w->iRedTable[size_t(b->imagenumber)].picture());
        QCOMPARE(w->sinc.at(0)->l1->color(), maroon());
        QCOMPARE(w->sinc.at(0)->l3->text(), str("20 сек."));
        tick(40);
        QVERIFY(b->isOn);
        QCOMPARE(w->sinc.at(0)->l3->text(), str("1 мин. "));
        tick();
        if (keep) {
            // Overdue, listed and counted until the server cancels it.
            tick(3600);
            QVERIFY(b->isOn && b->isRed);
            QCOMPARE(w->sinc.at(0)->l3->text(), str("61 мин. 1 сек."));
            QCOMPARE(w->sinc.at(0)->l1->color(), maroon());
            w->AddSinc(QStringLiteral("#101;2;A;B"));
            tick();
            QCOMPARE(w->sinc.size(), 0);
            return;
        }
        QVERIFY(!b->isOn);
        QCOMPARE(b->iT->holder().picture(), w->iTable[size_t(b->imagenumber)].picture());
        QCOMPARE(w->sinc.size(), 0); // a timeout leaves the list on the same tick
    }

    void tick_showsNewestFirstAndHidesWhatDoesNotFit()
    {
        startConsole();
        w->maxn = 2;
        for (const char *code : { "101", "102", "103" })
            w->AddSinc(QStringLiteral("#%1;8;r;n").arg(QLatin1String(code)));
        tick();
        QCOMPARE(w->sinc.at(2)->lastN, 1); // 103
        QCOMPARE(w->sinc.at(1)->lastN, 2); // 102
        QCOMPARE(w->sinc.at(0)->lastN, -1); // 101 hidden
        const int row1 = w->sinc.at(2)->l1->y();
        w->AddSinc(QStringLiteral("#103;2;r;n"));
        tick();
        QCOMPARE(listedCodes(), (QStringList { QStringLiteral("101"), QStringLiteral("102") }));
        QCOMPARE(w->sinc.at(1)->lastN, 1);
        QCOMPARE(w->sinc.at(1)->l1->y(), row1);
        QCOMPARE(w->sinc.at(0)->lastN, 2);

        w->maxn = -3; // a window too low for any row: the calls still time out
        tick();
        QCOMPARE(w->sinc.at(0)->lastN, -1);
        QCOMPARE(w->sinc.at(1)->lastN, -1);
        tick(60);
        QCOMPARE(w->sinc.size(), 0);
    }

    void overflowRow_standsForTheCallsNotShown_data()
    {
        QTest::addColumn<bool>("option");
        QTest::addColumn<int>("calls"); // in 5 rows
        QTest::addColumn<bool>("oldestOverdue");
        QTest::addColumn<QString>("row"); // the last row's text; empty: no overflow row
        QTest::addRow("8 calls in 5 rows") << true << 8 << false << str("+4 вызовов не показано");
        QTest::addRow("8 calls, a hidden one overdue")
            << true << 8 << true << str("+4 вызовов не показано");
        QTest::addRow("5 calls in 5 rows") << true << 5 << true << QString();
        QTest::addRow("option off, 8 calls") << false << 8 << true << QString();
    }
    void overflowRow_standsForTheCallsNotShown()
    {
        QFETCH(bool, option);
        QFETCH(int, calls);
        QFETCH(bool, oldestOverdue);
        QFETCH(QString, row);
        startConsole({ { QStringLiteral("Safety/ShowOverflow"), QString::number(option) } });
        w->maxn = 5;
        w->AddSinc(QStringLiteral("#101;8;r;n"));
        if (oldestOverdue)
            tick(19);
        for (int i = 2; i <= calls; ++i)
            w->AddSinc(QStringLiteral("#1%1;8;r;n").arg(i, 2, 10, QLatin1Char('0')));
        tick();
        QCOMPARE(bed("101")->isRed, oldestOverdue);

        auto *overflow = w->findChild<TextLabel *>(QStringLiteral("overflowRow"));
        QVERIFY(overflow);
        QCOMPARE(!overflow->isHidden(), !row.isEmpty());
        const int shownRows = row.isEmpty() ? std::min(calls, 5) : 4;
        for (int i = 0; i < calls; ++i) // newest on row 1
            QCOMPARE(w->sinc.at(calls - 1 - i)->lastN, i < shownRows ? i + 1 : -1);
        if (row.isEmpty())
            return;
        QCOMPARE(overflow->text(), row);
        QCOMPARE(overflow->color(), oldestOverdue ? maroon() : QColor(Qt::black));
        QCOMPARE(overflow->pos(), QPoint(w->iPanel->x() + 20, 20 + 5 * (w->l1->height() + 5)));
        // Calls that end make room: the row goes once every call fits.
        for (int i = 2; i <= calls - 4; ++i)
            w->AddSinc(QStringLiteral("#1%1;2;r;n").arg(i, 2, 10, QLatin1Char('0')));
        tick();
        QVERIFY(overflow->isHidden());
        QCOMPARE(w->sinc.at(0)->lastN, 5);
    }

    void tick_soundsRemindersAndOverdue_data()
    {
        QTest::addColumn<SettingValues>("settings");
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("sounds"); // second:file of each tick that played one
        const QString reminder = QStringLiteral("Safety/ReminderSec");
        const QString overdue = QStringLiteral("Safety/OverdueSound");
        QTest::addRow("options off") << SettingValues {} << "#101;8;A;B" << QString();
        QTest::addRow("reminder of a call")
            << SettingValues { { reminder, QStringLiteral("10") } } << "#101;8;A;B"
            << "10:bill.wav 20:bill.wav";
        QTest::addRow("reminder of a bill call")
            << SettingValues { { reminder, QStringLiteral("10") } } << "#101;4;A;B"
            << "10:call.wav 20:call.wav";
        QTest::addRow("overdue on the second it times out")
            << SettingValues { { overdue, QStringLiteral("fault.wav") },
                               { QStringLiteral("Logic/redSec"), QStringLiteral("3") },
                               { QStringLiteral("Logic/maxSec"), QStringLiteral("2") } }
            << "#101;8;A;B"
            << "3:fault.wav";
    }
    void tick_soundsRemindersAndOverdue()
    {
        QFETCH(SettingValues, settings);
        QFETCH(QString, call);
        QFETCH(QString, sounds);
        startConsole(settings);
        w->AddSinc(call);
        QStringList played;
        for (int second = 1; second <= 25; ++second) {
            const int before = w->sounds().requests();
            tick();
            if (w->sounds().requests() > before)
                played << QString::number(second) + u':'
                        + w->sounds().lastRequested().section(u'/', -1);
        }
        QCOMPARE(played.join(u' '), sounds);
    }

    void resize_neverFails_data()
    {
        QTest::addColumn<int>("dd");
        QTest::addRow("default gap") << 5;
        QTest::addRow("pitch zero") << -19;
        QTest::addRow("pitch negative") << -1000;
        QTest::addRow("huge gap") << 2000000000;
    }
    void resize_neverFails()
    {
        QFETCH(int, dd);
        startConsole({ { QStringLiteral("Visualization/dd"), QString::number(dd) } });
        w->show();
        w->resize(800, 700);
        QTRY_COMPARE(w->height(), 700);
        const int pitch = w->l1->height() + dd;
        QCOMPARE(w->maxn, pitch <= 0 ? 0 : (700 - 40) / pitch - 1);
    }

    void datagramSizes_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("handled");
        QTest::addRow("exactly 8192 bytes") << 8192 << true;
        QTest::addRow("8193 bytes") << 8193 << false;
        QTest::addRow("60000 bytes") << 60000 << false;
    }
    void datagramSizes()
    {
        QFETCH(int, size);
        QFETCH(bool, handled);
        startConsole();
        QByteArray big = "#101;0;;";
        big += QByteArray(size - big.size(), 'n');
        send(big);
        send(QByteArray()); // empty datagrams are ignored
        send("#102;0;;after");
        QTRY_COMPARE(bed("102")->l, QStringLiteral("after"));
        QCOMPARE(bed("101")->l.size() == size - 8, handled);
    }

    void malformedDatagrams_neverHurtTheConsole()
    {
        startConsole();
        w->nm2Click();
        w->TimerPlus->start();
        QRandomGenerator rng(20261208);
        const QList<QByteArray> pieces {
            "#",           ";",    "101",      "102",  "0",
            "2",           "4",    "8",        "\r\n", QByteArray(1, '\0'),
            "\xff\xfe",    "\xd0", "\xd0\x9f", "A;B",  ";;;;;;",
            "FromDovrelan"
        };
        for (int i = 0; i < 3000; ++i) {
            QByteArray d;
            if (i % 2) {
                const int n = rng.bounded(1, 12);
                for (int k = 0; k < n; ++k)
                    d += pieces[rng.bounded(pieces.size())];
            } else {
                d.resize(rng.bounded(1, 300));
                for (char &c : d)
                    c = char(rng.bounded(256));
            }
            send(d);
            if (i % 100 == 0)
                QTest::qWait(1);
        }
        // A cancel and a tick clear any entry the noise left for bed 102, so
        // the final call starts a call of its own.
        send("#102;2;;cancelled");
        QTRY_VERIFY_WITH_TIMEOUT(bed("102")->l == u"cancelled", 10000);
        tick();
        send("#102;8;Nurse;final");
        QTRY_VERIFY_WITH_TIMEOUT(bed("102")->l == u"final" && bed("102")->isOn, 10000);
        tick(3);
        // Every entry belongs to a bed that is in the bed list.
        for (const auto &item : w->sinc)
            QVERIFY(w->sl.indexOf(item.object->table) >= 0);
        QVERIFY(w->isinit);
    }
};

QTEST_MAIN(TestDispatch)
#include "tst_dispatch.moc"
