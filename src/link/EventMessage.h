#pragma once

#include <QByteArray>
#include <QString>

namespace kalvora {

// The text of a datagram: its bytes as UTF-8, ill-formed sequences replaced
// by U+FFFD, zero bytes kept as U+0000 and a leading byte-order mark kept as
// U+FEFF.   "\xEF\xBB\xBF#101;8" => "\uFEFF#101;8"
QString decodeDatagram(const QByteArray &bytes);

// An event message: one prefix character (ignored), then
// code;type;responsible;name;cancelcode. Missing fields are empty; nothing is
// trimmed.   "#101;8;Nurse A;Bed 2" => {"101", "8", "Nurse A", "Bed 2", ""}
struct EventMessage {
    QString code;
    QString type;
    QString responsible;
    QString name;
    QString cancelcode;
};
EventMessage parseEventMessage(QStringView text);

// Event types, compared exactly.
inline const QString kAnnounce = QStringLiteral("0");
inline const QString kCancel = QStringLiteral("2");
inline const QString kCallWithBill = QStringLiteral("4");
inline const QString kCall = QStringLiteral("8");

// Datagrams longer than this are discarded whole.
constexpr qsizetype kMaxDatagramSize = 8192;

} // namespace kalvora
