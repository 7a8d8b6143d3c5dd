#include "vpn/openconnectserver.h"

#include <QMutexLocker>

namespace Varnel {

OpenConnectServer::OpenConnectServer(const QString &gateway)
    : gateway(gateway)
{
}

KeyPin OpenConnectServer::pin(const QString &gatewayKey) const
{
    QMutexLocker locker(&m_pinLock);
    return m_pins.value(gatewayKey);
}

void OpenConnectServer::setPin(const QString &gatewayKey, const KeyPin &pin)
{
    QMutexLocker locker(&m_pinLock);
    m_pins.insert(gatewayKey, pin);
}

} // namespace Varnel
