// The single-instance guard: one console per log-on session, its lock in a
// folder only the user can write, so that nobody else can plant a lock that
// refuses every start.

#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kalvora;
using namespace Qt::StringLiterals;

namespace {

int modeOf(const QString &path)
{
    struct stat st { };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void oneConsolePerSession_data();
    void oneConsolePerSession();
    void lockLivesInAFolderOnlyTheUserWrites_data();
    void lockLivesInAFolderOnlyTheUserWrites();
};

void TestSingleInstance::oneConsolePerSession_data()
{
    QTest::addColumn<QString>("sessionId");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("secondRuns");
    QTest::addRow("same session: refused") << u"3"_s << u":0"_s << u"ward-pc"_s << false;
    QTest::addRow("same user at another display") << u"3"_s << u":1"_s << u"ward-pc"_s << true;
    QTest::addRow("another log-on session") << u"4"_s << u":0"_s << u"ward-pc"_s << true;
    QTest::addRow("another PC sharing the home folder")
        << u"3"_s << u":0"_s << u"ward-pc2"_s << true;
}

void TestSingleInstance::oneConsolePerSession()
{
    QFETCH(QString, sessionId);
    QFETCH(QString, display);
    QFETCH(QString, host);
    QFETCH(bool, secondRuns);
    QTemporaryDir runtime;
    const SessionIdentity first { runtime.path(), QString(), u"3"_s, u":0"_s, u"ward-pc"_s };
    const SessionIdentity second { runtime.path(), QString(), sessionId, display, host };
    const auto firstPath = SingleInstance::lockPathFor(first);
    const auto secondPath = SingleInstance::lockPathFor(second);
    QVERIFY(firstPath.ok() && secondPath.ok());
    QCOMPARE(*firstPath, runtime.filePath(u"Tesmarin_CHECKEXIST-ward%2Dpc-3-%3A0"_s));

    std::optional<SingleInstance> running;
    running.emplace(*firstPath);
    QVERIFY(running->acquire());
    {
        SingleInstance next(*secondPath);
        QCOMPARE(next.acquire(), secondRuns);
    }
    // However the first copy ends, the system drops its lock: the next one starts.
    running.reset();
    SingleInstance afterwards(*secondPath);
    QVERIFY(afterwards.acquire());
}

void TestSingleInstance::lockLivesInAFolderOnlyTheUserWrites_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QString>("where"); // "runtime" or "home"
    // Without a runtime folder the lock used to be a predictable name in the
    // shared temporary folder, where another user could plant and hold it.
    QTest::addRow("no runtime folder: a private folder at home") << u"none"_s << true << u"home"_s;
    QTest::addRow("lock planted in the shared temporary folder")
        << u"planted in tmp"_s << true << u"home"_s;
    QTest::addRow("home folder made readable for others is made private")
        << u"home folder 0777"_s << true << u"home"_s;
    QTest::addRow("runtime folder that others may write is made private")
        << u"runtime 0777"_s << true << u"runtime"_s;
    QTest::addRow("runtime folder of another user is not used")
        << u"runtime of another user"_s << true << u"home"_s;
    QTest::addRow("home folder that is a link is refused") << u"home link"_s << false << u"home"_s;
    QTest::addRow("lock file that is a link is refused") << u"lock link"_s << false << u"runtime"_s;
}

void TestSingleInstance::lockLivesInAFolderOnlyTheUserWrites()
{
    QFETCH(QString, setUp);
    QFETCH(bool, starts);
    QFETCH(QString, where);
    QTemporaryDir runtime;
    QTemporaryDir home;
    QTemporaryDir elsewhere;
    SessionIdentity session { runtime.path(), home.path(), u"3"_s, u":0"_s, u"ward-pc"_s };
    const QString homeLocks = home.filePath(u".cache/kalvora"_s);
    const QByteArray runtimeName = QFile::encodeName(runtime.path());

    int planted = -1;
    QByteArray plantedName;
    if (setUp == u"none" || setUp == u"planted in tmp") {
        session.runtimeDir.clear();
    }
    if (setUp == u"planted in tmp") {
        // Held by "someone else" (another descriptor) under the old name.
        plantedName = QFile::encodeName(QDir::tempPath() + u"/Tesmarin_CHECKEXIST-"
                                        + QString::number(::getuid()));
        planted = ::open(plantedName.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(planted >= 0);
        QCOMPARE(::flock(planted, LOCK_EX | LOCK_NB), 0);
    } else if (setUp == u"home folder 0777") {
        session.runtimeDir.clear();
        QVERIFY(QDir().mkpath(homeLocks));
        QCOMPARE(::chmod(QFile::encodeName(homeLocks).constData(), 0777), 0);
    } else if (setUp == u"runtime 0777") {
        QCOMPARE(::chmod(runtimeName.constData(), 0777), 0);
    } else if (setUp == u"runtime of another user") {
        if (::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        QCOMPARE(::chown(runtimeName.constData(), 65534, 65534), 0);
    } else if (setUp == u"home link") {
        session.runtimeDir.clear();
        QVERIFY(QDir().mkpath(home.filePath(u".cache"_s)));
        QVERIFY(QFile::link(elsewhere.path(), homeLocks));
    } else if (setUp == u"lock link") {
        const auto path = SingleInstance::lockPathFor(session);
        QVERIFY(path.ok());
        QVERIFY(QFile::link(elsewhere.filePath(u"lock"_s), *path));
    }

    const auto path = SingleInstance::lockPathFor(session);
    bool acquired = false;
    if (path.ok()) {
        QVERIFY(path->startsWith((where == u"home" ? homeLocks : runtime.path()) + u'/'));
        SingleInstance guard(*path);
        acquired = guard.acquire();
        QCOMPARE(modeOf(QFileInfo(*path).absolutePath()), 0700);
    }
    QCOMPARE(acquired, starts);
    if (setUp == u"home link")
        QVERIFY(!path.ok());
    if (setUp == u"lock link")
        QVERIFY(!QFile::exists(elsewhere.filePath(u"lock"_s))); // nothing created through it
    if (planted >= 0) {
        ::close(planted);
        ::unlink(plantedName.constData());
    }
    if (setUp == u"runtime of another user")
        ::chown(runtimeName.constData(), ::geteuid(), ::getegid());
}

QTEST_APPLESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
