#include "vpn/openvpntunnel.h"

#include "vpn/enginelog.h"
#include "vpn/openvpnrunner.h"

#include <QChildEvent>
#include <QDebug>

namespace Varnel {

OpenVpnTunnel::OpenVpnTunnel(const QString &config, const QString &username, const QString &password,
                             QObject *parent)
    : Tunnel(parent)
    , m_config(config)
    , m_username(username)
    , m_password(password)
{
}

void OpenVpnTunnel::start(const QString &device)
{
    m_device = device;
    auto *runner = new OpenVpnRunner(this);
    m_runner = runner;
    runner->setDevice(device);
    QObject::connect(runner, &OpenVpnRunner::transfer, this,
                     [this](qint64 down, qint64 up) { emit statsChanged(quint64(up), quint64(down)); });
    QObject::connect(runner, &OpenVpnRunner::disconnected, this, [this, runner] {
        if (runner->failure() != TunnelFailure::None)
            emit failed(runner->failure(), runner->failureDetail());
        emit statusChanged(OpenConnectConnection::Disconnected);
    });
    QObject::connect(runner, &OpenVpnRunner::connected, this,
                     [this] { emit statusChanged(OpenConnectConnection::Connected); });
    QObject::connect(runner, &OpenVpnRunner::connecting, this,
                     [this] { emit statusChanged(OpenConnectConnection::Connecting); });

    if (runner->connect(m_config, m_username, m_password))
        engineLog(QStringLiteral("OpenVPN Connect Success"));
    else
        engineLog(QStringLiteral("OpenVPN Connect Failed"));
}

void OpenVpnTunnel::childEvent(QChildEvent *event)
{
    // The runner deletes itself once its program has ended (and tells
    // nobody, it disconnects everything first): the tunnel is over then.
    if (event->removed() && m_runner.isNull())
        deleteLater();
    Tunnel::childEvent(event);
}

void OpenVpnTunnel::stop()
{
    qDebug() << "Disconnecting OpenVPN";
    if (m_runner)
        m_runner->stop();
}

void OpenVpnTunnel::stopFailed(TunnelFailure failure, const QString &detail)
{
    if (m_runner)
        m_runner->stopFailed(failure, detail);
}

OpenConnectConnection::ConnectResult OpenVpnTunnel::busy() const
{
    // A second start while one runs would leave a program (and its tunnel)
    // that nothing stops any more; one that is only finishing may go on.
    return m_runner && !m_runner->hasEnded() ? OpenConnectConnection::AlreadyActive : OpenConnectConnection::Started;
}

int OpenVpnTunnel::requestStatistics()
{
    // OpenVPN reports its byte counts by itself.
    engineLog(OpenConnectConnection::tr("update_stats: invalid socket"));
    return -1;
}

} // namespace Varnel
