#pragma once

#include "vpn/tunnel.h"

#include <QPointer>

namespace Varnel {

class OpenVpnRunner;

// OpenVPN behind the controller's tunnel interface: one OpenVpnRunner and
// the controller's wiring of its signals. Goes with its runner.
class OpenVpnTunnel : public Tunnel
{
    Q_OBJECT
public:
    OpenVpnTunnel(const QString &config, const QString &username, const QString &password, QObject *parent);

    void start(const QString &device) override;
    void stop() override;
    void stopFailed(TunnelFailure failure, const QString &detail) override;
    QString device() const override { return m_device; }
    OpenConnectConnection::ConnectResult busy() const override;
    int requestStatistics() override;

protected:
    void childEvent(QChildEvent *event) override;

private:
    QString m_config;
    QString m_username;
    QString m_password;
    QString m_device;
    // The runner deletes itself when its process ends.
    QPointer<OpenVpnRunner> m_runner;
};

} // namespace Varnel
