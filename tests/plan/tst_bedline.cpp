#include "plan/BedLine.h"

#include <QTest>

using namespace kalvora;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kalvora::BedRecord)

namespace QTest {
template<> char *toString(const BedRecord &b)
{
    return QTest::toString(u'{' + b.code + u'|' + QString::number(b.dx) + u'|'
                           + QString::number(b.dy) + u'|' + QString::number(b.imagenumber) + u'|'
                           + b.l + u'|' + b.cancelcode + u'}');
}
} // namespace QTest

namespace {

BedRecord bed(const QString &code, qint32 dx, qint32 dy, qint32 k, const QString &l = {},
              const QString &cancel = {})
{
    return BedRecord { code, dx, dy, k, l, cancel };
}

constexpr qint32 kMin = -2147483647 - 1, kMax = 2147483647;

} // namespace

class TestBedLine : public QObject {
    Q_OBJECT

private slots:
    void copyFieldTakesTextUpToTheDelimiter_data();
    void copyFieldTakesTextUpToTheDelimiter();
    void splitFieldsFillsMissingFields();
    void parsesBedLines_data();
    void parsesBedLines();
    void rejectsNonIntegerNumbers_data();
    void rejectsNonIntegerNumbers();
    void formatsBedLines_data();
    void formatsBedLines();
    void bedLineNeedsVisibleText_data();
    void bedLineNeedsVisibleText();
};

void TestBedLine::copyFieldTakesTextUpToTheDelimiter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<QString>("field");
    const auto row = [](const char *name, const QString &text, qsizetype start,
                        const QString &field) {
        QTest::addRow("%s", name) << text << start << field;
    };
    const QString event = u"x101;8;Ann;Bed 2"_s;
    row("code after the marker", event, 2, u"101"_s);
    row("second field", event, 6, u"8"_s);
    row("last field runs to the end", event, 12, u"Bed 2"_s);
    row("start inside a field", event, 3, u"01"_s);
    row("start on the last character", event, 16, u"2"_s);
    row("start just past the end", event, 17, QString());
    row("start far beyond the end", event, 20, QString());
    row("start 0", event, 0, QString());
    row("negative start", event, -3, QString());
    row("delimiter at the start", event, 5, QString());
    row("delimiter first in the text", u";abc"_s, 1, QString());
    row("no delimiter", u"abc"_s, 1, u"abc"_s);
    row("empty text", QString(), 1, QString());
}

void TestBedLine::copyFieldTakesTextUpToTheDelimiter()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, start);
    QFETCH(QString, field);
    QCOMPARE(CopyField(text, start), field);
}

void TestBedLine::splitFieldsFillsMissingFields()
{
    QCOMPARE(splitFields(u"#101;8;Nurse A", 2, 4),
             (QStringList { u"101"_s, u"8"_s, u"Nurse A"_s, QString() }));
    QCOMPARE(splitFields(u";;x;", 1, 5), (QStringList { {}, {}, u"x"_s, {}, {} }));
}

void TestBedLine::parsesBedLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<BedRecord>("record");
    const auto row = [](const char *name, const QString &line, const BedRecord &record) {
        QTest::addRow("%s", name) << line << record;
    };
    row("six fields", u"101;350;420;3;Ward 1, bed 2;101C"_s,
        bed(u"101"_s, 350, 420, 3, u"Ward 1, bed 2"_s, u"101C"_s));
    row("four fields leave the texts empty", u"7;1;2;3"_s, bed(u"7"_s, 1, 2, 3));
    row("five fields leave the cancel code empty", u"7;1;2;3;N"_s, bed(u"7"_s, 1, 2, 3, u"N"_s));
    row("text after a sixth semicolon ignored", u"7;1;2;3;N;C;extra;more"_s,
        bed(u"7"_s, 1, 2, 3, u"N"_s, u"C"_s));
    row("spaces in texts kept", u" 10 1 ;1;2;3; N ; C "_s,
        bed(u" 10 1 "_s, 1, 2, 3, u" N "_s, u" C "_s));
    row("leading spaces and signs in numbers", u"a; 1;  -2;+3;;"_s, bed(u"a"_s, 1, -2, 3));
    row("hexadecimal numbers", u"a;$10;0x20;X3;;"_s, bed(u"a"_s, 16, 32, 3));
    row("extreme numbers", u"a;-2147483648;2147483647;-1;;"_s, bed(u"a"_s, kMin, kMax, -1));
    row("empty code", u";0;0;0;;"_s, bed({}, 0, 0, 0));
    row("kind outside the picture set still read", u"a;0;0;25;;"_s, bed(u"a"_s, 0, 0, 25));
    row("Cyrillic texts", u"П1;5;6;7;Палата 1;отбой"_s,
        bed(u"П1"_s, 5, 6, 7, u"Палата 1"_s, u"отбой"_s));
}

void TestBedLine::parsesBedLines()
{
    QFETCH(QString, line);
    QFETCH(BedRecord, record);
    const Expected<BedRecord> parsed = parseBedLine(line);
    QVERIFY2(parsed.ok(), qPrintable(parsed.error()));
    QCOMPARE(*parsed, record);
}

void TestBedLine::rejectsNonIntegerNumbers_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("text"); // the field the error names
    QTest::addRow("code only") << u"101"_s << QString();
    QTest::addRow("y missing") << u"101;350"_s << QString();
    QTest::addRow("kind missing") << u"101;350;420"_s << QString();
    QTest::addRow("empty x") << u"101;;420;3;;"_s << QString();
    QTest::addRow("space after a number") << u"101;350 ;420;3;;"_s << u"350 "_s;
    QTest::addRow("kind in words") << u"101;1;2;three;;"_s << u"three"_s;
    QTest::addRow("first bad field named") << u"101;a;b;c"_s << u"a"_s;
    QTest::addRow("out of range") << u"101;0;2147483648;0;;"_s << u"2147483648"_s;
    QTest::addRow("fraction") << u"101;1.5;2;3;;"_s << u"1.5"_s;
}

void TestBedLine::rejectsNonIntegerNumbers()
{
    QFETCH(QString, line);
    QFETCH(QString, text);
    const Expected<BedRecord> parsed = parseBedLine(line);
    QVERIFY(!parsed.ok());
    QCOMPARE(parsed.error(), u'\'' + text + u"' is not a valid integer value");
}

void TestBedLine::formatsBedLines_data()
{
    QTest::addColumn<BedRecord>("record");
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("parsesBack"); // to the same record
    const auto row = [](const char *name, const BedRecord &record, const QString &line,
                        bool back = true) { QTest::addRow("%s", name) << record << line << back; };
    row("all fields", bed(u"101"_s, 350, 420, 3, u"Ward 1, bed 2"_s, u"101C"_s),
        u"101;350;420;3;Ward 1, bed 2;101C"_s);
    row("empty name", bed(u"101"_s, 1, 2, 3, {}, u"C"_s), u"101;1;2;3;;C"_s);
    row("empty texts", bed({}, 0, 0, 0), u";0;0;0;;"_s);
    row("extreme numbers", bed(u"a"_s, -5, kMin, kMax), u"a;-5;-2147483648;2147483647;;"_s);
    row("spaces and Cyrillic kept", bed(u" П1 "_s, 0, 0, 19, u" Палата №1 "_s, u" "_s),
        u" П1 ;0;0;19; Палата №1 ; "_s);
    row("line ends and NUL become spaces", bed(u"a\rb"_s, 1, 2, 3, u"x\r\ny"_s, u"c\0d"_s),
        u"a b;1;2;3;x  y;c d"_s, false);
    // A code with a tab or another control character stays the same code.
    row("tab and other control characters kept",
        bed(u"\t101\x01"_s, 0, 0, 0, u"\x0B\x0C\x1B\x1F"_s, u"\x7F\u0085\u2028"_s),
        u"\t101\x01;0;0;0;\x0B\x0C\x1B\x1F;\x7F\u0085\u2028"_s);
    row("unpaired surrogate becomes U+FFFD",
        bed(QString(QChar(0xD800)) + u"1"_s, 0, 0, 0, u"\U0001F600"_s, QString(QChar(0xDC00))),
        u"\uFFFD1;0;0;0;\U0001F600;\uFFFD"_s, false);
}

void TestBedLine::formatsBedLines()
{
    QFETCH(BedRecord, record);
    QFETCH(QString, line);
    QFETCH(bool, parsesBack);
    QCOMPARE(formatBedLine(record), line);
    if (parsesBack) {
        const Expected<BedRecord> parsed = parseBedLine(line);
        QVERIFY2(parsed.ok(), qPrintable(parsed.error()));
        QCOMPARE(*parsed, record);
    }
}

void TestBedLine::bedLineNeedsVisibleText_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("holdsBed");
    QTest::addRow("empty") << QString() << false;
    QTest::addRow("spaces") << u"    "_s << false;
    QTest::addRow("spaces and tabs") << u" \t \t"_s << false;
    QTest::addRow("control characters") << u"\x01\x1F \0"_s << false;
    QTest::addRow("a bed line") << u"101;1;2;3;;"_s << true;
    QTest::addRow("text between spaces") << u"  a\t"_s << true;
    QTest::addRow("a lone semicolon") << u";"_s << true;
    QTest::addRow("no-break space is text") << u"\u00A0"_s << true;
    QTest::addRow("delete character is text") << u"\x7F"_s << true;
}

void TestBedLine::bedLineNeedsVisibleText()
{
    QFETCH(QString, line);
    QFETCH(bool, holdsBed);
    QCOMPARE(isBedLine(line), holdsBed);
}

QTEST_APPLESS_MAIN(TestBedLine)
#include "tst_bedline.moc"
