#include "OverflowRow.h"

namespace kalvora {

QString overflowText(qint32 notShown)
{
    return u'+' + QString::number(notShown) + QStringLiteral(" вызовов не показано");
}

} // namespace kalvora
