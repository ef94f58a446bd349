// Reading and replacing the console's files: only regular files, never
// through a link where links are refused, never blocking on a FIFO or a
// device, never more than a limit; and a replacement that leaves the old file
// or the whole new one, with the old file's mode.

#include "TestFiles.h"
#include "settings/FileAccess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kalvora;
using namespace Qt::StringLiterals;
using kalvora::test::readAll;
using kalvora::test::writeAll;

Q_DECLARE_METATYPE(kalvora::Links)
Q_DECLARE_METATYPE(kalvora::ReadProblem)

namespace {

// Sockets and FIFOs count too.
QStringList entries(const QString &folder)
{
    return kalvora::test::entries(folder, QDir::System);
}

// Puts something of the given kind at `path`: "file" (holding "content"),
// "link" (to the file "victim" beside it), "dangling link", "zero link" (to
// /dev/zero), "fifo", "socket", "device" (a node of /dev/zero's numbers,
// root only), "folder". Returns an empty string or why it could not.
QString make(const QString &kind, const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const QString victim = QFileInfo(path).absolutePath() + u"/victim"_s;
    if (kind == u"file")
        return writeAll(path, "content") ? QString() : u"cannot write"_s;
    if (kind == u"link")
        return writeAll(victim, "victim's own") && QFile::link(victim, path) ? QString()
                                                                             : u"no link"_s;
    if (kind == u"dangling link")
        return QFile::link(victim, path) ? QString() : u"no link"_s;
    if (kind == u"zero link")
        return QFile::link(u"/dev/zero"_s, path) ? QString() : u"no link"_s;
    if (kind == u"fifo")
        return ::mkfifo(name.constData(), 0644) == 0 ? QString() : u"no FIFO"_s;
    if (kind == u"folder")
        return QDir().mkdir(path) ? QString() : u"no folder"_s;
    if (kind == u"device")
        return ::mknod(name.constData(), S_IFCHR | 0644, makedev(1, 5)) == 0
            ? QString()
            : u"no device node (needs root)"_s;
    if (kind == u"socket") {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (size_t(name.size()) >= sizeof address.sun_path)
            return u"path too long for a socket"_s;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(fd);
        return bound ? QString() : u"no socket"_s;
    }
    return u"unknown kind"_s;
}

} // namespace

class TestFileAccess : public QObject {
    Q_OBJECT

private slots:
    void readsOnlyRegularFiles_data();
    void readsOnlyRegularFiles();
    void readStopsAtTheLimit_data();
    void readStopsAtTheLimit();
    void replaceRefusesLinksAndSpecialFiles_data();
    void replaceRefusesLinksAndSpecialFiles();
    void replaceKeepsTheModeAndLeavesNoOtherFile_data();
    void replaceKeepsTheModeAndLeavesNoOtherFile();
    void replaceIntoMissingFolderFails();
};

void TestFileAccess::readsOnlyRegularFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<Links>("links");
    QTest::addColumn<ReadProblem>("problem");
    QTest::addColumn<QString>("reason"); // the error text's end
    const auto row = [](const char *name, const char *kind, Links links, ReadProblem problem,
                        const QString &reason) {
        QTest::addRow("%s", name) << QString::fromLatin1(kind) << links << problem << reason;
    };
    const QString noFile = QString::fromLocal8Bit(std::strerror(ENOENT));
    row("regular file", "file", Links::Refuse, ReadProblem::None, {});
    row("missing", "none", Links::Refuse, ReadProblem::CannotOpen, noFile);
    row("link refused", "link", Links::Refuse, ReadProblem::Link, u"Is a symbolic link"_s);
    row("link followed", "link", Links::Follow, ReadProblem::None, {});
    row("dangling link refused", "dangling link", Links::Refuse, ReadProblem::Link,
        u"Is a symbolic link"_s);
    row("dangling link followed", "dangling link", Links::Follow, ReadProblem::CannotOpen, noFile);
    row("link to /dev/zero followed", "zero link", Links::Follow, ReadProblem::NotRegular,
        u"Is not a regular file"_s);
    row("FIFO", "fifo", Links::Follow, ReadProblem::NotRegular, u"Is not a regular file"_s);
    row("socket", "socket", Links::Refuse, ReadProblem::NotRegular, u"Is not a regular file"_s);
    row("device", "device", Links::Refuse, ReadProblem::NotRegular, u"Is not a regular file"_s);
    row("folder", "folder", Links::Follow, ReadProblem::NotRegular,
        QString::fromLocal8Bit(std::strerror(EISDIR)));
}

void TestFileAccess::readsOnlyRegularFiles()
{
    QFETCH(QString, kind);
    QFETCH(Links, links);
    QFETCH(ReadProblem, problem);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"tables.txt"_s);
    if (kind != u"none") {
        if (const QString why = make(kind, path); !why.isEmpty())
            QSKIP(qPrintable(why));
    }
    // A FIFO or a device would block or never end if it were read: this returns at once.
    const FileRead read = readRegularFile(path, 1024, links);
    QCOMPARE(read.problem, problem);
    if (problem == ReadProblem::None) {
        QCOMPARE(read.bytes, kind == u"link" ? QByteArray("victim's own") : QByteArray("content"));
        QVERIFY(readFailureText(path, read).isEmpty());
        return;
    }
    QVERIFY(read.bytes.isEmpty());
    QCOMPARE(readFailureText(path, read), u"Cannot open file \"" + path + u"\". " + reason);
}

void TestFileAccess::readStopsAtTheLimit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("fits");
    QTest::addRow("empty") << 0 << true;
    QTest::addRow("one byte under the limit") << 999 << true;
    QTest::addRow("at the limit") << 1000 << true;
    QTest::addRow("one byte over the limit") << 1001 << false;
    QTest::addRow("far over the limit") << 100000 << false;
}

void TestFileAccess::readStopsAtTheLimit()
{
    QFETCH(int, size);
    QFETCH(bool, fits);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"plan.jpg"_s);
    QVERIFY(writeAll(path, QByteArray(size, 'x')));
    const FileRead read = readRegularFile(path, 1000, Links::Follow);
    QCOMPARE(read.ok(), fits);
    QCOMPARE(read.bytes.size(), fits ? size : 0);
    if (!fits)
        QCOMPARE(readFailureText(path, read),
                 u"Cannot open file \"" + path + u"\". "
                     + QString::fromLocal8Bit(std::strerror(EFBIG)));
}

void TestFileAccess::replaceRefusesLinksAndSpecialFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::addRow("link to another file") << u"link"_s << u"Is a symbolic link"_s;
    QTest::addRow("dangling link") << u"dangling link"_s << u"Is a symbolic link"_s;
    QTest::addRow("link to /dev/zero") << u"zero link"_s << u"Is a symbolic link"_s;
    QTest::addRow("FIFO") << u"fifo"_s << u"Is not a regular file"_s;
    QTest::addRow("socket") << u"socket"_s << u"Is not a regular file"_s;
    QTest::addRow("folder") << u"folder"_s << QString::fromLocal8Bit(std::strerror(EISDIR));
}

void TestFileAccess::replaceRefusesLinksAndSpecialFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"tables.bac"_s);
    if (const QString why = make(kind, path); !why.isEmpty())
        QSKIP(qPrintable(why));
    const QStringList before = entries(dir.path());

    const Status error = replaceFile(path, "101;1;2;3;;\r\n");
    QCOMPARE(error, std::optional(u"Cannot create file \"" + path + u"\". " + reason));
    // Nothing written through the link, nothing left beside it.
    QCOMPARE(entries(dir.path()), before);
    if (kind == u"link")
        QCOMPARE(readAll(dir.filePath(u"victim"_s)), QByteArray("victim's own"));
    QCOMPARE(QFileInfo(path).isSymLink(), kind.contains(u"link"));
}

void TestFileAccess::replaceKeepsTheModeAndLeavesNoOtherFile_data()
{
    QTest::addColumn<int>("oldMode"); // -1: no old file
    QTest::addColumn<int>("newMode");
    const int umasked = 0666 & ~0022;
    QTest::addRow("new file") << -1 << umasked;
    QTest::addRow("group-writable file stays so") << 0664 << 0664;
    QTest::addRow("private file stays private") << 0600 << 0600;
}

void TestFileAccess::replaceKeepsTheModeAndLeavesNoOtherFile()
{
    QFETCH(int, oldMode);
    QFETCH(int, newMode);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"tables.txt"_s);
    const mode_t umaskBefore = ::umask(0022);
    if (oldMode >= 0) {
        QVERIFY(writeAll(path, "first version, rather long\r\n"));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(oldMode)), 0);
    }
    const Status error = replaceFile(path, "second\r\n");
    ::umask(umaskBefore);
    QCOMPARE(error, std::nullopt);
    QCOMPARE(readAll(path), QByteArray("second\r\n"));
    struct stat st { };
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), newMode);
    QCOMPARE(entries(dir.path()), QStringList { u"tables.txt"_s });
}

void TestFileAccess::replaceIntoMissingFolderFails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"missing/tables.txt"_s);
    const Status error = replaceFile(path, "x");
    QCOMPARE(error,
             std::optional(u"Cannot create file \"" + path + u"\". "
                           + QString::fromLocal8Bit(std::strerror(ENOENT))));
    QCOMPARE(entries(dir.path()), QStringList());
}

QTEST_APPLESS_MAIN(TestFileAccess)
#include "tst_fileaccess.moc"
