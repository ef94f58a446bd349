#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace kalvora {

// A value or the text of the error that prevented it. The layers below the
// window report failures this way; the window turns them into messages.
template<class T> class Expected {
public:
    Expected(T value)
        : m_value(std::move(value))
    {
    }
    static Expected failure(QString error)
    {
        Expected e;
        e.m_error = std::move(error);
        return e;
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const & { return *m_value; }
    T &value() & { return *m_value; }
    T &&value() && { return std::move(*m_value); }
    const T &operator*() const & { return *m_value; }
    const T *operator->() const { return &*m_value; }
    const QString &error() const { return m_error; }

private:
    Expected() = default;
    std::optional<T> m_value;
    QString m_error;
};

// Success or an error text.
using Status = std::optional<QString>;

// A text quoted in an error, cut to a readable length: at most `maxChars`
// characters, the cut marked by an ellipsis (a surrogate pair is never split).
// An error box holds a sentence, not a 50 MB field of a damaged file.
//   excerptForError(u"12345", 3) => "123…"     excerptForError(u"12", 3) => "12"
inline QString excerptForError(QStringView text, qsizetype maxChars = 48)
{
    if (text.size() <= maxChars)
        return text.toString();
    qsizetype cut = maxChars;
    if (cut > 0 && text[cut - 1].isHighSurrogate())
        --cut;
    return text.left(cut).toString() + QChar(0x2026);
}

} // namespace kalvora
