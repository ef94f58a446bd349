#include "settings/TextFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kalvora;
using namespace Qt::StringLiterals;
using Enc = kalvora::TextEncoding;

Q_DECLARE_METATYPE(kalvora::TextEncoding)

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
QByteArray le(QStringView text)
{
    return utf16(text, false);
}
QByteArray be(QStringView text)
{
    return utf16(text, true);
}
QByteArray bom8(QStringView text)
{
    return "\xEF\xBB\xBF" + text.toUtf8();
}
const QByteArray kPalata1251("\xCF\xE0\xEB\xE0\xF2\xE0"); // "Палата" in Windows-1251

// Lines joined by "|".
QStringList L(const QString &joined)
{
    return joined.isEmpty() ? QStringList() : joined.split(u'|');
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden);
}

} // namespace

class TestTextFile : public QObject {
    Q_OBJECT

private slots:
    void decodesLinesAndEncoding_data();
    void decodesLinesAndEncoding();
    void encodesEveryLineWithCrLf_data();
    void encodesEveryLineWithCrLf();
    void encodedLinesDecodeBack_data();
    void encodedLinesDecodeBack();
    void cp1251BytesRoundTrip();
    void atomicWriteReplacesTheFile();
    void atomicWriteIntoMissingFolderFails();
};

void TestTextFile::decodesLinesAndEncoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Enc>("encoding");
    const auto row = [](const char *name, const QByteArray &bytes, const QString &lines, Enc e) {
        QTest::addRow("%s", name) << bytes << L(lines) << e;
    };
    const QStringView text = u"Палата 1\r\nb";
    row("UTF-8 without BOM", text.toUtf8(), u"Палата 1|b"_s, Enc::Utf8);
    row("UTF-8 with BOM", bom8(text), u"Палата 1|b"_s, Enc::Utf8Bom);
    row("UTF-16 LE with BOM", le(text), u"Палата 1|b"_s, Enc::Utf16Le);
    row("UTF-16 BE with BOM", be(text), u"Палата 1|b"_s, Enc::Utf16Be);
    row("invalid UTF-8 is Windows-1251", kPalata1251 + " 1\r\nb", u"Палата 1|b"_s, Enc::Cp1251);
    row("Windows-1251 letter last in the file", "1;1;2;3;;\xE0", u"1;1;2;3;;а"_s, Enc::Cp1251);
    row("Windows-1251 yo and number sign", "\xA8\xB8\xB9", u"Ёё№"_s, Enc::Cp1251);
    row("plain ASCII is UTF-8", "a;1\r\n", u"a;1"_s, Enc::Utf8);
    row("empty file", "", u""_s, Enc::Utf8);
    row("UTF-8 BOM only", bom8(u""), u""_s, Enc::Utf8Bom);
    row("UTF-16 BOM only", le(u""), u""_s, Enc::Utf16Le);
    row("mixed line ends", "a\r\nb\n\nc\r", u"a|b||c"_s, Enc::Utf8);
    row("lone CR ends a line", "a\rb", u"a|b"_s, Enc::Utf8);
    row("LF CR is two line ends", "a\n\rb", u"a||b"_s, Enc::Utf8);
    row("trailing line end opens no line", "a\r\n", u"a"_s, Enc::Utf8);
    row("two trailing line ends", "a\r\n\r\n", u"a|"_s, Enc::Utf8);
    QTest::addRow("line end only") << QByteArray("\n") << QStringList { QString() } << Enc::Utf8;
    row("UTF-16 line ends", le(u"a\rb\nc\r\n"), u"a|b|c"_s, Enc::Utf16Le);
    row("NUL ends UTF-8 text", QByteArray("a\r\nb\0c\r\nd", 10), u"a|b"_s, Enc::Utf8);
    row("NUL ends UTF-16 text", be(QStringView(u"a\nb\0c\nd", 7)), u"a|b"_s, Enc::Utf16Be);
    row("NUL ends Windows-1251 text", kPalata1251 + QByteArray("\0\r\nx", 4), u"Палата"_s,
        Enc::Cp1251);
    row("NUL first", QByteArray("\0abc", 4), u""_s, Enc::Utf8);
}

void TestTextFile::decodesLinesAndEncoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QFETCH(Enc, encoding);
    const TextLines text = decodeTextLines(bytes);
    QCOMPARE(text.lines, lines);
    QCOMPARE(text.encoding, encoding);
}

void TestTextFile::encodesEveryLineWithCrLf_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Enc>("encoding");
    QTest::addColumn<QByteArray>("bytes");
    const auto row = [](const char *name, const QStringList &lines, Enc e, const QByteArray &b) {
        QTest::addRow("%s", name) << lines << e << b;
    };
    const QStringList lines = L(u"Палата 1||b"_s);
    const QStringView text = u"Палата 1\r\n\r\nb\r\n";
    row("UTF-8", lines, Enc::Utf8, text.toUtf8());
    row("UTF-8 with BOM", lines, Enc::Utf8Bom, bom8(text));
    row("UTF-16 LE", lines, Enc::Utf16Le, le(text));
    row("UTF-16 BE", lines, Enc::Utf16Be, be(text));
    row("Windows-1251", lines, Enc::Cp1251, kPalata1251 + " 1\r\n\r\nb\r\n");
    row("Windows-1251 beyond the alphabet", L(u"Ёё№€"_s), Enc::Cp1251, "\xA8\xB8\xB9\x88\r\n");
    row("question mark for CJK", L(u"a中b"_s), Enc::Cp1251, "a?b\r\n");
    row("one question mark per character", L(u"a✓😀b"_s), Enc::Cp1251, "a??b\r\n");
    row("lone surrogate",
        { QString::fromUtf16(u"a\xD800"
                             u"b",
                             3) },
        Enc::Cp1251, "a?b\r\n");
    row("no lines in UTF-8", {}, Enc::Utf8, "");
    row("no lines keep the UTF-8 BOM", {}, Enc::Utf8Bom, bom8(u""));
    row("no lines keep the UTF-16 LE BOM", {}, Enc::Utf16Le, le(u""));
    row("no lines keep the UTF-16 BE BOM", {}, Enc::Utf16Be, be(u""));
    row("one empty line", { QString() }, Enc::Utf8, "\r\n");
}

void TestTextFile::encodesEveryLineWithCrLf()
{
    QFETCH(QStringList, lines);
    QFETCH(Enc, encoding);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encodeTextLines(lines, encoding), bytes);
}

void TestTextFile::encodedLinesDecodeBack_data()
{
    QTest::addColumn<Enc>("encoding");
    QTest::addRow("UTF-8") << Enc::Utf8;
    QTest::addRow("UTF-8 with BOM") << Enc::Utf8Bom;
    QTest::addRow("UTF-16 LE") << Enc::Utf16Le;
    QTest::addRow("UTF-16 BE") << Enc::Utf16Be;
    QTest::addRow("Windows-1251") << Enc::Cp1251;
}

void TestTextFile::encodedLinesDecodeBack()
{
    QFETCH(Enc, encoding);
    const QStringList lines = L(u"101;350;420;3;Палата 1, койка 2;101C||  |Ёжик;"_s);
    const TextLines text = decodeTextLines(encodeTextLines(lines, encoding));
    QCOMPARE(text.lines, lines);
    QCOMPARE(text.encoding, encoding);
}

void TestTextFile::cp1251BytesRoundTrip()
{
    // Every byte but 0x98 (unassigned) stands for one character and comes back.
    QByteArray all;
    for (int b = 1; b < 256; ++b) {
        if (b != 0x98)
            all += char(b);
    }
    const QString text = decodeCp1251(all);
    QCOMPARE(text.size(), all.size());
    QCOMPARE(text.mid(0xC0 - 2, 2), u"АБ"_s); // 0x00 and 0x98 left out
    QCOMPARE(encodeCp1251(text), all);
}

void TestTextFile::atomicWriteReplacesTheFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"tables.txt"_s);
    QCOMPARE(writeFileAtomically(path, "first version, rather long\r\n"), std::nullopt);
    QCOMPARE(writeFileAtomically(path, "second\r\n"), std::nullopt);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("second\r\n"));
    QCOMPARE(entries(dir.path()), QStringList { u"tables.txt"_s });
}

void TestTextFile::atomicWriteIntoMissingFolderFails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"missing/tables.txt"_s);
    const Status error = writeFileAtomically(path, "x");
    QVERIFY(error.has_value());
    const QString prefix = u"Cannot create file \"" + path + u"\". ";
    QVERIFY2(error->startsWith(prefix) && error->size() > prefix.size(), qPrintable(*error));
    QCOMPARE(entries(dir.path()), QStringList());
}

QTEST_APPLESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
