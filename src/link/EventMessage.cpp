#include "EventMessage.h"

#include "plan/BedLine.h"

#include <QStringList>

namespace kalvora {

QString decodeDatagram(const QByteArray &bytes)
{
    // QString::fromUtf8 keeps embedded zero bytes and replaces each ill-formed
    // sequence with U+FFFD.
    return QString::fromUtf8(bytes.constData(), bytes.size());
}

EventMessage parseEventMessage(QStringView text)
{
    const QStringList f = splitFields(text, 2, 5);
    return { f[0], f[1], f[2], f[3], f[4] };
}

} // namespace kalvora
