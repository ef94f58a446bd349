// The console under a service manager: what it reads from the environment,
// what it tells the manager and when it feeds the watchdog, over a
// notification socket of the test's own (what systemd listens on); and the
// form of the log lines.

#include "NotifySocket.h"
#include "service/LogFormat.h"
#include "service/Supervision.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace kalvora;
using kalvora::test::NotifySocket;

namespace {

constexpr const char *kVariables[] = { "NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID",
                                       "JOURNAL_STREAM" };

} // namespace

class TestSupervision : public QObject {
    Q_OBJECT

    NotifySocket m_manager;

private slots:
    void initTestCase() { QVERIFY(!m_manager.path().isEmpty()); }
    void init()
    {
        for (const char *name : kVariables)
            qunsetenv(name);
        m_manager.take();
    }
    void cleanup() { init(); }

    void environment_decidesReportsAndWatchdog_data()
    {
        QTest::addColumn<QString>("notifySocket");
        QTest::addColumn<QString>("timeoutUsec");
        QTest::addColumn<QString>("watchdogPid"); // "self": this process
        QTest::addColumn<bool>("notify");
        QTest::addColumn<qint64>("feedMs"); // 0: the watchdog is not fed
        QTest::addColumn<bool>("problem");

        const QString socket = QStringLiteral("/run/user/1000/systemd/notify");
        QTest::addRow("started by hand") << ""
                                         << ""
                                         << "" << false << 0ll << false;
        QTest::addRow("a unit without watchdog") << socket << ""
                                                 << "" << true << 0ll << false;
        QTest::addRow("watchdog of 10 s for this process") << socket << "10000000"
                                                           << "self" << true << 5000ll << false;
        QTest::addRow("watchdog for another process") << socket << "10000000"
                                                      << "1" << true << 0ll << false;
        QTest::addRow("watchdog but nobody to tell") << ""
                                                     << "10000000"
                                                     << "" << false << 0ll << false;
        QTest::addRow("odd timeout rounds down") << socket << "2999"
                                                 << "" << true << 1ll << false;
        QTest::addRow("timeout of 0") << socket << "0"
                                      << "" << true << 0ll << true;
        QTest::addRow("timeout not a number") << socket << "10s"
                                              << "" << true << 0ll << true;
    }
    void environment_decidesReportsAndWatchdog()
    {
        QFETCH(QString, notifySocket);
        QFETCH(QString, timeoutUsec);
        QFETCH(QString, watchdogPid);
        QFETCH(bool, notify);
        QFETCH(qint64, feedMs);
        QFETCH(bool, problem);
        if (watchdogPid == u"self")
            watchdogPid = QString::number(QCoreApplication::applicationPid());
        const std::pair<const char *, QString> variables[] = { { "NOTIFY_SOCKET", notifySocket },
                                                               { "WATCHDOG_USEC", timeoutUsec },
                                                               { "WATCHDOG_PID", watchdogPid } };
        for (const auto &[name, value] : variables)
            if (!value.isEmpty())
                qputenv(name, value.toLocal8Bit());

        const Supervision s = readSupervision();
        QCOMPARE(s.notify, notify);
        QCOMPARE(s.watchdog(), feedMs > 0);
        QCOMPARE(watchdogFeedInterval(s.watchdogTimeout).count(), feedMs);
        QVERIFY2(s.problem.isEmpty() != problem, qPrintable(s.problem));
        if (problem)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("^The watchdog asked for")));
        const ServiceNotifier notifier(s);
        QCOMPARE(notifier.feeding(), feedMs > 0);
        if (feedMs > 0)
            QCOMPARE(notifier.feedInterval().count(), feedMs);
    }

    void notifier_reportsAndFeedsTheWatchdog()
    {
        qputenv("NOTIFY_SOCKET", QFile::encodeName(m_manager.path()));
        qputenv("WATCHDOG_USEC", "100000"); // fed every 50 ms
        ServiceNotifier notifier(readSupervision());
        QVERIFY(notifier.feeding());
        QVERIFY(!notifier.isReady());
        // Nothing before the event loop turns; then the watchdog every 50 ms.
        QCOMPARE(m_manager.take(), QStringList());
        QStringList fed;
        QTRY_VERIFY((fed += m_manager.take()).size() >= 3);
        QCOMPARE(QSet<QString>(fed.begin(), fed.end()),
                 QSet<QString> { QStringLiteral("WATCHDOG=1") });

        notifier.ready(QStringLiteral("Listening on UDP port 5567,\n24 beds"));
        notifier.ready(QStringLiteral("Listening")); // told once; only the status changes
        QStringList told = m_manager.take();
        told.removeAll(QStringLiteral("WATCHDOG=1"));
        QCOMPARE(
            told,
            QStringList({ QStringLiteral("READY=1\nSTATUS=Listening on UDP port 5567, 24 beds"),
                          QStringLiteral("STATUS=Listening") }));

        notifier.stopping();
        QVERIFY(!notifier.feeding());
        told = m_manager.take();
        told.removeAll(QStringLiteral("WATCHDOG=1"));
        QCOMPARE(told, QStringList { QStringLiteral("STOPPING=1") });
    }

    void messagePattern_forTerminalAndJournal_data()
    {
        QTest::addColumn<bool>("journal");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("line"); // a pattern

        const QString time = QStringLiteral("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d ");
        QTest::addRow("information on a terminal")
            << false << int(QtInfoMsg) << "kalvora.beds"
            << time + QLatin1String("kalvora\\.beds: 24 beds");
        QTest::addRow("warning on a terminal")
            << false << int(QtWarningMsg) << "kalvora.link"
            << time + QLatin1String("kalvora\\.link: warning: 24 beds");
        QTest::addRow("Qt's own, without category, on a terminal")
            << false << int(QtWarningMsg) << "default" << time + QLatin1String("warning: 24 beds");
        QTest::addRow("warning in the journal") << true << int(QtWarningMsg) << "kalvora.link"
                                                << "<4>kalvora\\.link: 24 beds";
        QTest::addRow("Qt's own information, without category, in the journal")
            << true << int(QtInfoMsg) << "default"
            << "<6>24 beds";
    }
    void messagePattern_forTerminalAndJournal()
    {
        QFETCH(bool, journal);
        QFETCH(int, type);
        QFETCH(QString, category);
        QFETCH(QString, line);
        qSetMessagePattern(defaultMessagePattern(journal));
        const QByteArray name = category.toLatin1();
        const QMessageLogContext context("file.cpp", 1, "function", name.constData());
        const QString formatted =
            qFormatLogMessage(QtMsgType(type), context, QStringLiteral("24 beds"));
        qSetMessagePattern(QString());
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(line))
                     .match(formatted)
                     .hasMatch(),
                 qPrintable(formatted));
    }

    void journalStream_isStandardErrorOnly_data()
    {
        QTest::addColumn<QString>("stream"); // "stderr": standard error's own
        QTest::addColumn<bool>("journal");
        QTest::addRow("none") << "" << false;
        QTest::addRow("standard error's") << "stderr" << true;
        QTest::addRow("another file's (standard error redirected)") << "other" << false;
    }
    void journalStream_isStandardErrorOnly()
    {
        QFETCH(QString, stream);
        QFETCH(bool, journal);
        const auto id = [](int fd) {
            struct stat st { };
            if (::fstat(fd, &st) != 0)
                return QString();
            return QStringLiteral("%1:%2").arg(qulonglong(st.st_dev)).arg(qulonglong(st.st_ino));
        };
        QTemporaryDir dir;
        QFile other(dir.filePath(QStringLiteral("other")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        if (stream == u"stderr")
            stream = id(STDERR_FILENO);
        else if (stream == u"other")
            stream = id(other.handle());
        if (!stream.isEmpty())
            qputenv("JOURNAL_STREAM", stream.toLatin1());
        QCOMPARE(standardErrorIsJournal(), journal);
    }
};

QTEST_GUILESS_MAIN(TestSupervision)
#include "tst_supervision.moc"
