#include "settings/IntConvert.h"

#include <QTest>

using namespace kalvora;
using namespace Qt::StringLiterals;

class TestIntConvert : public QObject {
    Q_OBJECT

private slots:
    void convertsOnlyWholeIntegers_data();
    void convertsOnlyWholeIntegers();
    void errorTextQuotesTheText();
};

void TestIntConvert::convertsOnlyWholeIntegers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint32>("value");
    const auto ok = [](const char *name, const QString &text, qint32 value) {
        QTest::addRow("%s", name) << text << true << value;
    };
    const auto bad = [](const char *name, const QString &text) {
        QTest::addRow("%s", name) << text << false << 0;
    };
    constexpr qint32 min = -2147483647 - 1;

    ok("decimal", u"350"_s, 350);
    ok("leading zeros", u"007"_s, 7);
    ok("leading spaces and minus", u"   -12"_s, -12);
    ok("plus sign", u"+5"_s, 5);
    ok("minus zero", u"-0"_s, 0);
    ok("largest decimal", u"2147483647"_s, 2147483647);
    ok("smallest decimal", u"-2147483648"_s, min);
    ok("dollar hex", u"$ff"_s, 255);
    ok("x hex", u"x1A"_s, 26);
    ok("X hex", u"X1a"_s, 26);
    ok("0x hex", u"0x10"_s, 16);
    ok("0X hex", u"0XfF"_s, 255);
    ok("hex after spaces and plus", u"  +$10"_s, 16);
    ok("hex leading zeros beyond eight digits", u"0x000000001"_s, 1);
    ok("hex all ones is minus one", u"$FFFFFFFF"_s, -1);
    ok("hex sign bit", u"0x80000000"_s, min);
    ok("hex largest positive", u"$7FFFFFFF"_s, 2147483647);
    ok("negated dollar hex", u"-$10"_s, -16);
    ok("negated x hex", u"-x10"_s, -16);
    ok("negated all ones", u"-0xFFFFFFFF"_s, 1);
    ok("negated sign bit wraps", u"-$80000000"_s, min);

    bad("empty", QString());
    bad("spaces only", u"   "_s);
    bad("lone minus", u"-"_s);
    bad("lone plus", u"+"_s);
    bad("two signs", u"+-1"_s);
    bad("space after the sign", u"- 1"_s);
    bad("lone dollar", u"$"_s);
    bad("lone x", u"x"_s);
    bad("lone 0x", u"0x"_s);
    bad("minus and lone prefix", u"-0X"_s);
    bad("sign after the prefix", u"0x-1"_s);
    bad("two prefixes", u"$0x1"_s);
    bad("one past the largest", u"2147483648"_s);
    bad("one below the smallest", u"-2147483649"_s);
    bad("far too large", u"99999999999999999999999"_s);
    bad("33 significant hex bits", u"0x100000000"_s);
    bad("trailing space", u"12 "_s);
    bad("trailing letter", u"12a"_s);
    bad("hex trailing space", u"$1f "_s);
    bad("not a hex digit", u"0x1g"_s);
    bad("exponent", u"1e3"_s);
    bad("decimal point", u"1.0"_s);
    bad("hex digits without prefix", u"ff"_s);
    bad("leading tab", u"\t1"_s);
    bad("digit grouping", u"1 000"_s);
    bad("fullwidth digits", u"\uFF11\uFF12"_s);
    bad("arabic-indic digits", u"\u0661\u0662"_s);
    bad("fullwidth hex digit", u"$\uFF21"_s);
}

void TestIntConvert::convertsOnlyWholeIntegers()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(qint32, value);
    const std::optional<qint32> result = StrToInt(text);
    QCOMPARE(result.has_value(), valid);
    if (valid)
        QCOMPARE(*result, value);
}

void TestIntConvert::errorTextQuotesTheText()
{
    QCOMPARE(invalidIntegerError(u"12a"), u"'12a' is not a valid integer value"_s);
    QCOMPARE(invalidIntegerError(u""), u"'' is not a valid integer value"_s);
    // A long field (a damaged bed file's 50 MB number) is quoted in part.
    QCOMPARE(invalidIntegerError(QString(QString(50000000, u'9') + u'x')),
             u'\'' + QString(48, u'9') + u"\u2026' is not a valid integer value"_s);
    // A surrogate pair at the cut stays whole or goes.
    QCOMPARE(invalidIntegerError(QString(QString(47, u'9') + u"\U0001F600z"_s)),
             u'\'' + QString(47, u'9') + u"\u2026' is not a valid integer value"_s);
}

QTEST_APPLESS_MAIN(TestIntConvert)
#include "tst_intconvert.moc"
