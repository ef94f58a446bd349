// StrToInt against a reference written the other way round: the significant
// digits are counted first and the number is built in 64-bit arithmetic only
// when it can fit, so an overflow check that is off by one shows up.

#include "FuzzSupport.h"
#include "settings/IntConvert.h"

#include <QString>

#include <cstdint>
#include <cstring>
#include <optional>

using namespace kalvora;
using kalvora::fuzz::check;
using kalvora::fuzz::visible;

namespace {

std::optional<qint32> reference(QStringView s)
{
    qsizetype i = 0;
    while (i < s.size() && s[i] == u' ')
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
        negative = s[i++] == u'-';
    int base = 10;
    const QStringView rest = s.mid(i);
    if (rest.startsWith(u'$') || rest.startsWith(u'x') || rest.startsWith(u'X')) {
        base = 16;
        i += 1;
    } else if (rest.startsWith(u"0x") || rest.startsWith(u"0X")) {
        base = 16;
        i += 2;
    }
    const QStringView digits = s.mid(i);
    if (digits.isEmpty())
        return std::nullopt;
    const auto digitValue = [base](QChar c) -> int {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9')
            return u - u'0';
        if (base == 16 && u >= u'a' && u <= u'f')
            return u - u'a' + 10;
        if (base == 16 && u >= u'A' && u <= u'F')
            return u - u'A' + 10;
        return -1;
    };
    qsizetype significant = 0;
    bool leading = true;
    for (QChar c : digits) {
        const int d = digitValue(c);
        if (d < 0)
            return std::nullopt;
        if (d != 0)
            leading = false;
        if (!leading)
            ++significant;
    }
    // 2^31 has ten decimal digits, 2^32 - 1 eight hexadecimal ones.
    if (significant > (base == 10 ? 10 : 8))
        return std::nullopt;
    std::int64_t value = 0;
    for (QChar c : digits)
        value = value * base + digitValue(c);
    if (base == 16) {
        std::uint32_t pattern = std::uint32_t(value);
        if (negative)
            pattern = ~pattern + 1u;
        return qint32(pattern);
    }
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return qint32(value);
}

QByteArray show(std::optional<qint32> v)
{
    return v ? QByteArray::number(*v) : QByteArray("none");
}

void compare(QStringView text)
{
    const std::optional<qint32> got = StrToInt(text);
    const std::optional<qint32> want = reference(text);
    check(got == want, "StrToInt differs from the reference",
          "text \"" + visible(text) + "\": StrToInt " + show(got) + ", reference " + show(want));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    // The same bytes as the settings or bed file would give them, and as
    // Latin-1 (every byte one character, so each prefix and digit is reached).
    compare(QString::fromUtf8(bytes));
    compare(QString::fromLatin1(bytes));

    // Every 32-bit value written back in decimal and in hexadecimal reads as itself.
    if (size >= 4) {
        qint32 v;
        std::memcpy(&v, data, 4);
        const auto number = QString::number(v);
        check(StrToInt(number) == v, "a decimal number does not read back", number.toLatin1());
        const QString hex = u'$' + QString::number(quint32(v), 16);
        check(StrToInt(hex) == v, "a hexadecimal pattern does not read back", hex.toLatin1());
    }
    return 0;
}
