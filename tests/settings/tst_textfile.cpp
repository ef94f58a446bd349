#include "settings/TextFile.h"

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
    void utf8DespiteAFewDamagedBytes_data();
    void utf8DespiteAFewDamagedBytes();
    void nulEndsTextAndCountsTheLinesCut_data();
    void nulEndsTextAndCountsTheLinesCut();
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
    // A stray byte in a UTF-8 file: UTF-8 still, the byte as U+FFFD.
    row("UTF-8 with a stray 0xFF", "1;0;0;0;" + u"Палата"_s.toUtf8() + "\xFF\r\n2",
        u"1;0;0;0;Палата\uFFFD|2"_s, Enc::Utf8);
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

void TestTextFile::utf8DespiteAFewDamagedBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("utf8");
    const QByteArray names = u"Палата 1; Палата 2; Палата 3; Палата 4"_s.toUtf8(); // 24 letters
    QTest::addRow("valid UTF-8") << names << true;
    QTest::addRow("ASCII") << QByteArray("101;1;2;3;;") << true;
    QTest::addRow("one stray byte") << names + "\xFF" << true;
    QTest::addRow("cut inside its last letter") << names + "\xD0" << true;
    // E0 80 80 is three ill-formed parts: E0 needs A0 to BF next.
    QTest::addRow("24 letters, 6 damaged bytes") << "\xC0\xFF" + names + "\xE0\x80\x80\xFE" << true;
    QTest::addRow("24 letters, 7 damaged bytes")
        << "\xC0\xC0\xFF" + names + "\xE0\x80\x80\xFE" << false;
    QTest::addRow("Windows-1251") << kPalata1251 + " \xB9 1, \xEA\xEE\xE9\xEA\xE0 2" << false;
    // "ВЁ" is a well-formed UTF-8 pair (D0 A8): rare, and outnumbered.
    QTest::addRow("Windows-1251 holding one pair that is UTF-8")
        << "\xC2\xA8" + kPalata1251 << false;
    QTest::addRow("one Windows-1251 letter in ASCII") << QByteArray("101\xFF;1;2;3;;") << false;
}

void TestTextFile::utf8DespiteAFewDamagedBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, utf8);
    QCOMPARE(isMostlyUtf8(bytes), utf8);
    const TextLines text = decodeTextLines(bytes);
    QCOMPARE(text.encoding, utf8 ? Enc::Utf8 : Enc::Cp1251);
    if (utf8)
        QCOMPARE(text.lines.join(u'\n'), QString::fromUtf8(bytes));
}

void TestTextFile::nulEndsTextAndCountsTheLinesCut_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("nulLine");
    QTest::addColumn<int>("linesAfterNul");
    const QByteArray bed = "101;1;2;3;Bed;C\r\n";
    QTest::addRow("no NUL") << bed + bed << 2 << 0 << 0;
    QTest::addRow("NUL at the start of line 3 of 24")
        << bed + bed + '\0' + bed.repeated(22) << 2 << 3 << 22;
    QTest::addRow("NUL inside line 2, blank lines after it")
        << bed + "102;1;2" + '\0' + ";3;;\r\n\r\n \t\r\n" + bed << 2 << 2 << 2;
    QTest::addRow("NULs at the end, as a crash can leave")
        << bed + QByteArray(4096, '\0') << 1 << 2 << 0;
    QTest::addRow("NUL in a UTF-16 file")
        << le(QStringView(u"a\r\nb\0c\r\nd\r\n\r\n", 12)) << 2 << 2 << 2;
    QTest::addRow("NUL in a Windows-1251 file")
        << kPalata1251 + QByteArray("\0\r\n\xE0\r\n", 6) << 1 << 1 << 1;
}

void TestTextFile::nulEndsTextAndCountsTheLinesCut()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, lines);
    QFETCH(int, nulLine);
    QFETCH(int, linesAfterNul);
    const TextLines text = decodeTextLines(bytes);
    QCOMPARE(text.lines.size(), lines);
    QCOMPARE(text.nulLine, nulLine);
    QCOMPARE(text.linesAfterNul, linesAfterNul);
}

QTEST_APPLESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
