#include "NetworkGuard.h"

#include <QNetworkInterface>

namespace kalvora::test {

bool inPrivateNetwork()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (iface.type() != QNetworkInterface::Loopback
            && !(iface.flags() & QNetworkInterface::IsLoopBack))
            return false;
    }
    return true;
}

QString privateNetworkSkipReason()
{
    return QStringLiteral("this test opens sockets and runs only inside a private network "
                          "namespace (run the suite with scripts/test.sh, which makes one); "
                          "this machine's network namespace has other interfaces");
}

} // namespace kalvora::test
