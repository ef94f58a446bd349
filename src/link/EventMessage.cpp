#include "EventMessage.h"

#include "plan/BedLine.h"

#include <QStringDecoder>
#include <QStringList>

namespace kalvora {

QString decodeDatagram(const QByteArray &bytes)
{
    // Embedded zero bytes stay, each ill-formed sequence becomes U+FFFD, and
    // a leading byte-order mark is a character like any other (U+FEFF): a
    // decoder drops it unless told to keep it.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless
                               | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

EventMessage parseEventMessage(QStringView text)
{
    const QStringList f = splitFields(text, 2, 5);
    return { f[0], f[1], f[2], f[3], f[4] };
}

} // namespace kalvora
