// Damaged and unusual bed files, most of them turned up by fuzzing: each is
// read, saved the way the console saves, and read again; the beds must come
// back as they were read, and the backup must be the old file byte for byte.

#include "FaultSupport.h"
#include "plan/BedFile.h"
#include "plan/BedLine.h"
#include "settings/TextFile.h"

#include <QTemporaryDir>
#include <QTest>

using namespace kalvora;
using namespace kalvora::test;

namespace {

// The bytes of a literal, zero bytes included (without its terminating one).
template<qsizetype N> QByteArray bytes(const char (&literal)[N])
{
    return QByteArray(literal, N - 1);
}

} // namespace

class TestDamagedText : public QObject {
    Q_OBJECT

private slots:
    void readSaveRead_keepsBedsAndBackup_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QString>("firstCode");

        const QByteArray bed =
            "101;307;110;3;\xd0\x9f\xd0\xb0\xd0\xbb\xd0\xb0\xd1\x82\xd0\xb0 1;101C\r\n";
        // A NUL ends the text: bytes after it (junk after a crash) must not
        // turn a UTF-8 file into a Windows-1251 one.
        QTest::addRow("junk after a NUL in a UTF-8 file")
            << bed + bytes("\0\xff\xfe junk") << int(TextEncoding::Utf8) << QStringLiteral("101");
        QTest::addRow("junk after a NUL in a Windows-1251 file")
            << bytes("101;1;2;3;\xcf\xe0\xeb\xe0\xf2\xe0;C\r\n\0\xd0\x90")
            << int(TextEncoding::Cp1251) << QStringLiteral("101");
        // A second byte-order mark is text: the first bed's code begins with it.
        QTest::addRow("UTF-8 file with two byte-order marks") << "\xef\xbb\xbf\xef\xbb\xbf"
                + bed << int(TextEncoding::Utf8Bom) << QStringLiteral("\ufeff101");
        QTest::addRow("UTF-16 file with two byte-order marks")
            << bytes("\xff\xfe\xff\xfe"
                     "1\0;\0"
                     "1\0;\0"
                     "2\0;\0"
                     "3\0;\0")
            << int(TextEncoding::Utf16Le) << QStringLiteral("\ufeff1");
        // An unpaired surrogate cannot be written in any encoding: it reads
        // as U+FFFD, like ill-formed UTF-8.
        QTest::addRow("UTF-16 file with an unpaired surrogate")
            << bytes("\xff\xfe"
                     "1\0\x35\xdc;\0"
                     "1\0;\0"
                     "2\0;\0"
                     "3\0")
            << int(TextEncoding::Utf16Le) << QStringLiteral("1\ufffd");
        QTest::addRow("UTF-16 BE file with a high surrogate at its end")
            << bytes("\xfe\xff\0"
                     "7\0;\0"
                     "1\0;\0"
                     "2\0;\0"
                     "3\0;\xd8\x3d")
            << int(TextEncoding::Utf16Be) << QStringLiteral("7");
        // One stray byte must not make every name Windows-1251 (and garble
        // it at the next close): the file is UTF-8, the byte U+FFFD.
        QTest::addRow("UTF-8 file with one stray 0xFF")
            << bed + bed.repeated(10).replace("101;", "102;") + "103;1;1;1;x\xff;C\r\n"
            << int(TextEncoding::Utf8) << QStringLiteral("101");
        // A NUL at the start of line 3 hides the 22 beds after it; the backup
        // keeps them.
        QTest::addRow("NUL at the start of line 3 of 24")
            << bed + bed + bytes("\0") + bed.repeated(22) << int(TextEncoding::Utf8)
            << QStringLiteral("101");
    }
    void readSaveRead_keepsBedsAndBackup()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, encoding);
        QFETCH(QString, firstCode);

        const TextLines read = decodeTextLines(file);
        QCOMPARE(int(read.encoding), encoding);
        QVERIFY(!read.lines.isEmpty());
        const auto first = parseBedLine(read.lines.first());
        QVERIFY(first.ok());
        QCOMPARE(first->code, firstCode);
        for (const QString &line : read.lines) {
            for (qsizetype i = 0; i < line.size(); ++i) {
                if (line[i].isHighSurrogate() && i + 1 < line.size()
                    && line[i + 1].isLowSurrogate())
                    ++i;
                else
                    QVERIFY2(!line[i].isSurrogate(), "an unpaired surrogate was kept");
            }
        }

        QTemporaryDir dir;
        const BedFile bedFile { dir.path() };
        QVERIFY(writeAll(bedFile.path(), file));
        const auto before = loadBeds(dir.path());
        QVERIFY2(before.ok(), qPrintable(before.error()));
        QStringList saved;
        for (const BedRecord &b : *before)
            saved.append(formatBedLine(b));
        QVERIFY(!bedFile.save(saved));

        const auto after = loadBeds(dir.path());
        QVERIFY2(after.ok(), qPrintable(after.error()));
        QCOMPARE(*after, *before);
        // The backup is the old file, byte for byte.
        QCOMPARE(readAll(bedFile.backupPath()), file);
    }
};

QTEST_MAIN(TestDamagedText)
#include "tst_damagedtext.moc"
