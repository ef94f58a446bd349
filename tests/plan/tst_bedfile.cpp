#include "TestFiles.h"
#include "plan/BedFile.h"
#include "plan/BedLine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

using namespace kalvora;
using namespace Qt::StringLiterals;
using kalvora::test::entries;
using kalvora::test::readAll;
using kalvora::test::writeAll;

namespace {

QByteArray utf16(QStringView text, bool bigEndian)
{
    QByteArray out(bigEndian ? "\xFE\xFF" : "\xFF\xFE");
    for (QChar c : text) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}
const QByteArray kBom8("\xEF\xBB\xBF");
const QByteArray kPalata1251("\xCF\xE0\xEB\xE0\xF2\xE0"); // "Палата" in Windows-1251

} // namespace

class TestBedFile : public QObject {
    Q_OBJECT

private slots:
    void unreadableFileFailsNamingPathAndReason_data();
    void unreadableFileFailsNamingPathAndReason();
    void loadKeepsLinesThatHoldBeds_data();
    void loadKeepsLinesThatHoldBeds();
    void saveKeepsPreviousFileAsBackup_data();
    void saveKeepsPreviousFileAsBackup();
    void runWithoutChangesKeepsBedsAndDropsBlankLines();
    void failedSaveLeavesBedFileAsItWas_data();
    void failedSaveLeavesBedFileAsItWas();
};

void TestBedFile::unreadableFileFailsNamingPathAndReason_data()
{
    QTest::addColumn<bool>("relativeFolder");
    QTest::addColumn<bool>("fileIsFolder");
    QTest::addRow("missing file, absolute data folder") << false << false;
    QTest::addRow("missing file, relative data folder") << true << false;
    QTest::addRow("bed file is a folder") << false << true;
}

void TestBedFile::unreadableFileFailsNamingPathAndReason()
{
    QFETCH(bool, relativeFolder);
    QFETCH(bool, fileIsFolder);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(fileIsFolder ? u"data/tables.txt"_s : u"data"_s));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const QString absolute = (relativeFolder ? QDir::currentPath() : dir.path()) + u"/data";
    errno = EAGAIN; // left over from an earlier call, as in a running event loop
    const Expected<QStringList> lines =
        BedFile { relativeFolder ? u"data"_s : absolute }.loadLines();
    QDir::setCurrent(previous);

    QVERIFY(!lines.ok());
    const QString prefix = u"Cannot open file \"" + absolute + u"/tables.txt\". ";
    QVERIFY2(lines.error().startsWith(prefix), qPrintable(lines.error()));
    const QString reason = lines.error().mid(prefix.size());
    if (fileIsFolder)
        QVERIFY2(reason.contains(u"directory"), qPrintable(reason));
    else
        QCOMPARE(reason, QString::fromLocal8Bit(std::strerror(ENOENT)));
}

void TestBedFile::loadKeepsLinesThatHoldBeds_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::addRow("blank lines skipped, others untrimmed")
        << QByteArray("101;1;2;3;A;\r\n\r\n   \r\n\t \r\n\x01\x02\r\n  102;1;2;3;B;  \r\n")
        << QStringList { u"101;1;2;3;A;"_s, u"  102;1;2;3;B;  "_s };
    QTest::addRow("LF and CR line ends")
        << QByteArray("a\nb\rc") << QStringList { u"a"_s, u"b"_s, u"c"_s };
    QTest::addRow("empty file") << QByteArray() << QStringList();
    QTest::addRow("blank lines only") << QByteArray("\r\n \r\n\r\n") << QStringList();
    QTest::addRow("text after a NUL ignored") << QByteArray("a;1;2;3;;\r\nb\0c;1;2;3;;\r\n", 23)
                                              << QStringList { u"a;1;2;3;;"_s, u"b"_s };
    QTest::addRow("UTF-16 LE") << utf16(u"П;1;2;3;Палата;\r\n\r\n", false)
                               << QStringList { u"П;1;2;3;Палата;"_s };
    QTest::addRow("Windows-1251") << "1;1;2;3;" + kPalata1251 + ";\r\n"
                                  << QStringList { u"1;1;2;3;Палата;"_s };
}

void TestBedFile::loadKeepsLinesThatHoldBeds()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QTemporaryDir dir;
    const BedFile file { dir.path() };
    QVERIFY(writeAll(file.path(), bytes));
    const Expected<QStringList> loaded = file.loadLines();
    QVERIFY2(loaded.ok(), qPrintable(loaded.error()));
    QCOMPARE(*loaded, lines);
}

void TestBedFile::saveKeepsPreviousFileAsBackup_data()
{
    QTest::addColumn<bool>("hadFile");
    QTest::addColumn<QByteArray>("previous");
    QTest::addColumn<bool>("keepBackup");
    const auto row = [](const char *name, const QByteArray &previous) {
        QTest::addRow("%s", name) << true << previous << false;
    };
    // The backup is the previous file byte for byte, whatever it holds.
    QTest::addRow("no previous file, no backup") << false << QByteArray() << false;
    // After a save that failed past its backup, the bed file may be cut short.
    QTest::addRow("backup kept after a failed save") << true << QByteArray("1;2;3") << true;
    row("plain UTF-8, blank lines, no last line end", u"a\r\n\r\nПалата\n  "_s.toUtf8());
    row("UTF-8 BOM", kBom8 + u"a\n\nПалата"_s.toUtf8());
    row("UTF-16 LE", utf16(u"a\n\rПалата", false));
    row("UTF-16 BE", utf16(u"a\r\n\r\nb\r\n", true));
    row("Windows-1251", kPalata1251 + "\r\n\r\n \r\nx");
    row("UTF-8 with a stray byte", u"1;2;3;4;Палата"_s.toUtf8() + "\xFF\r\n");
    row("beds after a NUL", QByteArray("a;1;2;3;;\r\nb\0junk\r\nc;1;2;3;;\r\n", 30));
    row("empty file", "");
    row("UTF-16 BOM only", utf16(u"", false));
}

void TestBedFile::saveKeepsPreviousFileAsBackup()
{
    QFETCH(bool, hadFile);
    QFETCH(QByteArray, previous);
    QFETCH(bool, keepBackup);
    QTemporaryDir dir;
    const BedFile file { dir.path() };
    const QByteArray olderBackup = "an older backup\r\n";
    if (hadFile) {
        QVERIFY(writeAll(file.path(), previous));
        QVERIFY(writeAll(file.backupPath(), olderBackup));
    }
    const BedFile::SaveOutcome saved =
        file.save({ u"Ё;1;2;3;Палата 1;"_s, u"b;0;0;0;;"_s }, keepBackup);
    QCOMPARE(saved.error, std::nullopt);
    QCOMPARE(saved.backupWritten, hadFile && !keepBackup);
    QCOMPARE(readAll(file.path()), u"Ё;1;2;3;Палата 1;\r\nb;0;0;0;;\r\n"_s.toUtf8());
    if (hadFile) {
        QCOMPARE(readAll(file.backupPath()), keepBackup ? olderBackup : previous);
        QCOMPARE(entries(dir.path()), (QStringList { u"tables.bac"_s, u"tables.txt"_s }));
    } else {
        QCOMPARE(entries(dir.path()), QStringList { u"tables.txt"_s });
    }
}

void TestBedFile::runWithoutChangesKeepsBedsAndDropsBlankLines()
{
    const QByteArray original = u"101;350;420;3;Ward 1, bed 2;101C\r\n"
                                u"\r\n"
                                u"  B2 ;1;2;0;Палата;\r\n"
                                u"   \r\n"
                                u"b2;-5;6;19;;x\r\n"_s.toUtf8();
    QTemporaryDir dir;
    const BedFile file { dir.path() };
    QVERIFY(writeAll(file.path(), original));

    const Expected<QStringList> loaded = file.loadLines();
    QVERIFY2(loaded.ok(), qPrintable(loaded.error()));
    QStringList lines;
    for (const QString &line : *loaded) {
        const Expected<BedRecord> bed = parseBedLine(line);
        QVERIFY2(bed.ok(), qPrintable(bed.error()));
        lines.append(formatBedLine(*bed));
    }
    QCOMPARE(file.save(lines), std::nullopt);

    QCOMPARE(readAll(file.path()),
             u"101;350;420;3;Ward 1, bed 2;101C\r\n"
             u"  B2 ;1;2;0;Палата;\r\n"
             u"b2;-5;6;19;;x\r\n"_s.toUtf8());
    QCOMPARE(readAll(file.backupPath()), original);
}

void TestBedFile::failedSaveLeavesBedFileAsItWas_data()
{
    QTest::addColumn<QString>("breakage");
    QTest::addColumn<QString>("failure"); // what could not be done to which file
    QTest::addColumn<QString>("reason"); // a part of the reason
    QTest::addRow("data folder removed")
        << u"no folder"_s << u"create file/tables.txt"_s << u"directory"_s;
    QTest::addRow("bed file is a folder")
        << u"bed file is a folder"_s << u"open file/tables.txt"_s << u"directory"_s;
    QTest::addRow("backup is a folder")
        << u"backup is a folder"_s << u"create file/tables.bac"_s << u"directory"_s;
    // A member of the ward's group links the files to another member's files.
    QTest::addRow("bed file is a link to a private file")
        << u"bed file is a link"_s << u"open file/tables.txt"_s << u"Is a symbolic link"_s;
    QTest::addRow("backup is a link to a login script")
        << u"backup is a link"_s << u"create file/tables.bac"_s << u"Is a symbolic link"_s;
    QTest::addRow("bed file is a FIFO")
        << u"bed file is a FIFO"_s << u"open file/tables.txt"_s << u"Is not a regular file"_s;
}

void TestBedFile::failedSaveLeavesBedFileAsItWas()
{
    QFETCH(QString, breakage);
    QFETCH(QString, failure);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString data = dir.filePath(u"data"_s);
    const BedFile file { data };
    const QByteArray before("101;1;2;3;;\r\n");
    const QString victim = dir.filePath(u"victim"_s);
    const QByteArray victimBytes("the other member's own file\n");
    QVERIFY(writeAll(victim, victimBytes));
    if (breakage != u"no folder") {
        QVERIFY(QDir().mkdir(data));
        if (breakage == u"bed file is a folder") {
            QVERIFY(QDir().mkdir(file.path()));
            QVERIFY(writeAll(file.path() + u"/inside", "x"));
        } else if (breakage == u"bed file is a link") {
            QVERIFY(QFile::link(victim, file.path()));
        } else if (breakage == u"bed file is a FIFO") {
            QCOMPARE(::mkfifo(QFile::encodeName(file.path()).constData(), 0664), 0);
        } else {
            QVERIFY(writeAll(file.path(), before));
            if (breakage == u"backup is a link")
                QVERIFY(QFile::link(victim, file.backupPath()));
            else
                QVERIFY(QDir().mkdir(file.backupPath()));
        }
    }
    const QStringList contentBefore = entries(data);

    errno = EAGAIN; // a stale value must not become the reason
    const Status error = file.save({ u"202;0;0;0;;"_s });
    QVERIFY(error.has_value());
    const QString prefix = u"Cannot " + failure.section(u'/', 0, 0) + u" \"" + data + u'/'
        + failure.section(u'/', 1) + u"\". ";
    QVERIFY2(error->startsWith(prefix), qPrintable(*error));
    QVERIFY2(error->contains(reason), qPrintable(*error)); // "No such ..." or "Is a ..."
    // Nothing was read into the backup or written through a link.
    QCOMPARE(readAll(victim), victimBytes);

    if (breakage == u"no folder") {
        QCOMPARE(entries(dir.path()), QStringList { u"victim"_s });
        return;
    }
    QCOMPARE(entries(data), contentBefore); // no temporary files left behind
    if (breakage.startsWith(u"backup"))
        QCOMPARE(readAll(file.path()), before);
    else if (breakage == u"bed file is a folder")
        QCOMPARE(entries(file.path()), QStringList { u"inside"_s });
}

QTEST_APPLESS_MAIN(TestBedFile)
#include "tst_bedfile.moc"
