#include "common/netinfo.h"

#include <QNetworkInterface>

namespace Varnel {

QString localIpv4()
{
    QString last;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const auto flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsRunning) || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                last = entry.ip().toString();
        }
    }
    return last;
}

} // namespace Varnel
