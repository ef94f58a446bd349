#include "AccessibleText.h"

#include "CallListLayout.h"

#include <QStringList>

namespace kalvora {

namespace {

// "Палата 1 (101)"; a bed without a name is its code, one without a code its name.
QString bedTitle(const QString &name, const QString &code)
{
    if (name.isEmpty())
        return code;
    if (code.isEmpty())
        return name;
    return name + QStringLiteral(" (") + code + u')';
}

// The waiting time without the list's trailing space; nothing before the
// first second.
QString spokenTime(qint32 seconds)
{
    return SecondsToText(seconds).trimmed();
}

} // namespace

QString bedAccessibleName(const BedSpeech &bed)
{
    QStringList parts;
    switch (bed.state) {
    case BedSpeech::State::Idle:
        parts << QStringLiteral("нет вызова");
        break;
    case BedSpeech::State::Calling:
        parts << QStringLiteral("вызов");
        break;
    case BedSpeech::State::Overdue:
        parts << QStringLiteral("вызов просрочен");
        break;
    }
    if (bed.bill)
        parts << QStringLiteral("счёт");
    if (bed.acknowledged)
        parts << QStringLiteral("принят");
    if (bed.state != BedSpeech::State::Idle) {
        if (const QString time = spokenTime(bed.seconds); !time.isEmpty())
            parts << time;
    }
    const QString title = bedTitle(bed.name, bed.code);
    const QString state = parts.join(QStringLiteral(", "));
    return title.isEmpty() ? state : title + QStringLiteral(": ") + state;
}

QString callLineAccessibleName(const QString &responsible, const QString &bedText,
                               const QString &time, bool overdue, bool acknowledged)
{
    QStringList columns { responsible, bedText };
    if (const QString spoken = time.trimmed(); !spoken.isEmpty())
        columns << spoken;
    QStringList marks;
    if (overdue)
        marks << QStringLiteral("вызов просрочен");
    if (acknowledged)
        marks << QStringLiteral("принят");
    if (!marks.isEmpty())
        columns << marks.join(QStringLiteral(", "));
    return columns.join(QStringLiteral("; "));
}

QString callAlertText(CallAlert alert, const QString &name, const QString &code)
{
    QString what;
    switch (alert) {
    case CallAlert::NewCall:
        what = QStringLiteral("Новый вызов");
        break;
    case CallAlert::NewBillCall:
        what = QStringLiteral("Новый вызов, счёт");
        break;
    case CallAlert::Overdue:
        what = QStringLiteral("Вызов просрочен");
        break;
    }
    return what + QStringLiteral(": ") + bedTitle(name, code);
}

} // namespace kalvora
