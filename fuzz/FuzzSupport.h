#pragma once

// What every fuzz target shares: a check that ends the run with a message the
// fuzzer reports as a finding, and readable forms of texts for that message.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace kalvora::fuzz {

// The text with every character outside printable ASCII as \uXXXX.
inline QByteArray visible(QStringView text)
{
    QByteArray out;
    for (QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f && c != u'\\')
            out += char(c.unicode());
        else
            out += "\\u" + QByteArray::number(c.unicode(), 16).rightJustified(4, '0');
    }
    return out;
}

inline QByteArray visible(const QStringList &lines)
{
    QByteArray out = "[";
    for (const QString &line : lines)
        out += '"' + visible(line) + "\" ";
    return out + ']';
}

[[noreturn]] inline void fail(const char *what, const QByteArray &detail)
{
    std::fprintf(stderr, "\n*** invariant broken: %s\n%s\n", what, detail.constData());
    std::fflush(stderr);
    std::abort();
}

inline void check(bool condition, const char *what, const QByteArray &detail = {})
{
    if (!condition)
        fail(what, detail);
}

} // namespace kalvora::fuzz
