#pragma once

#include <QString>

#include <exception>
#include <functional>

class QWidget;

namespace kalvora {

// An error raised by an operation of the console (a file that cannot be
// opened, a picture that cannot be copied, ...). It never crosses Qt's event
// loop: every handler runs inside guarded(), which shows it and goes on.
class KalvoraError : public std::exception {
public:
    explicit KalvoraError(QString message)
        : m_message(std::move(message))
        , m_utf8(m_message.toUtf8())
    {
    }
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// Caption of the console's error boxes: the executable's file name up to its
// first ".", every letter after the first in lower case.   "KALVORA.bin" => "Kalvora"
QString errorCaption(const QString &executableName);

// The text of an error box: a full stop is added when the last character
// sorts above ".".   "No such file" => "No such file."   "(x)" => "(x)"
QString withFullStop(const QString &text);

// The text of an error as a box shows it: cut to kMaxErrorTextLength
// characters (an ellipsis marks the cut), so that no error, whatever it
// quotes, makes a box that takes minutes and gigabytes to lay out.
constexpr qsizetype kMaxErrorTextLength = 1000;
QString readableErrorText(const QString &text);

// Shows an error the way the console reports every unexpected failure: a box
// with an error icon, the error caption and an OK button, its text readable
// and with its full stop.
void showError(const QString &text);

// Runs a handler; an error it raises is shown by showError and the program
// goes on. Returns false when the handler failed.
bool guarded(const std::function<void()> &handler);

// Modal boxes of the console. With the environment variable
// KALVORA_NONINTERACTIVE=1 (automated runs and tests) a box is not shown: its
// caption and text go to standard error and it answers OK.
enum class BoxIcon { None, Error, Question, Warning };
void messageBox(const QString &caption, const QString &text, BoxIcon icon);
bool confirmBox(const QString &caption, const QString &text); // OK => true
// A notice that does not block: a box with a warning icon that stays beside
// the window, which goes on working, until its OK button closes it.
void noticeBox(QWidget *window, const QString &caption, const QString &text);

// In non-interactive runs an observer may watch the boxes and give the answer
// (true for OK); without one every box answers OK. Tests use it.
struct BoxRecord {
    QString caption;
    QString text;
};
void setBoxObserver(std::function<bool(const BoxRecord &)> observer);

} // namespace kalvora
