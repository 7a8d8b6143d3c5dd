#include "vpn/openconnectconnection.h"

#include "common/config.h"
#include "vpn/enginelog.h"
#include "vpn/openconnectserver.h"
#include "vpn/openconnectsession.h"
#include "vpn/openvpnconfig.h"
#include "vpn/openvpntunnel.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHostInfo>
#include <QMutexLocker>
#include <QNetworkInterface>
#include <QUrl>

#include <gnutls/gnutls.h>
#include <openconnect.h>

namespace Varnel {

std::shared_ptr<OpenConnectConnection> OpenConnectConnection::instance()
{
    // Not make_shared: the constructor is private.
    static std::shared_ptr<OpenConnectConnection> connection(new OpenConnectConnection);
    return connection;
}

OpenConnectConnection::OpenConnectConnection()
{
    qRegisterMetaType<OpenConnectConnection::Status>("Status");
    qRegisterMetaType<OpenConnectConnection::Status>("OpenConnectConnection::Status");
    qRegisterMetaType<OpenConnectConnection::Status>();
    qRegisterMetaType<TunnelFailure>();

    // Queued, because the session thread emits too: the field is then only
    // ever written on the thread that owns the controller.
    QObject::connect(this, &OpenConnectConnection::statusChanged, this, &OpenConnectConnection::storeStatus,
                     Qt::QueuedConnection);
    m_deviceCheck.setInterval(kDeviceCheckMs);
    QObject::connect(&m_deviceCheck, &QTimer::timeout, this, &OpenConnectConnection::checkTunnelDevice);
    // The process-wide thread pool is torn down before this object at exit
    // and would wait for a running session without limit: stop the session
    // when the event loop ends, or at the latest with the application object.
    if (QCoreApplication *application = QCoreApplication::instance())
        QObject::connect(application, &QCoreApplication::aboutToQuit, this, &OpenConnectConnection::shutDown);
    qAddPostRoutine([] { instance()->shutDown(); });
}

OpenConnectConnection::~OpenConnectConnection()
{
    shutDown();
}

void OpenConnectConnection::shutDown()
{
    if (auto *session = qobject_cast<OpenConnectSession *>(m_tunnel.data()))
        session->shutDown();
    else
        delete m_tunnel;
    // The service ends the tunnel with this connection in any case; asked,
    // it does so at once.
    m_lease.reset();
}

void OpenConnectConnection::storeStatus(OpenConnectConnection::Status status)
{
    m_status = status;
    if (status == Connected) {
        // A reconnection may bring a new device.
        m_watchedDevice.clear();
        m_watchedIndex = 0;
        m_deviceCheck.start();
    } else {
        m_deviceCheck.stop();
    }
}

bool OpenConnectConnection::initTls()
{
    const int tls = gnutls_global_init();
    if (tls < 0) {
        engineLog(QStringLiteral("GnuTLS initialisation failed: %1").arg(QString::fromUtf8(gnutls_strerror(tls))));
        return false;
    }
    const int ssl = openconnect_init_ssl();
    if (ssl != 0) {
        engineLog(QStringLiteral("OpenConnect SSL initialisation failed: %1").arg(ssl));
        return false;
    }
    return true;
}

void OpenConnectConnection::setOpenVpnConfig(const QString &encodedConfig, const QString &address)
{
    m_openVpnConfig = openVpnConfigFromTemplate(encodedConfig, address);
    m_openVpnAddress = address;
}

bool OpenConnectConnection::isSessionRunning() const
{
    // Until the session is released: its thread may be done while its
    // library session, device and sockets are still held.
    return qobject_cast<const OpenConnectSession *>(m_tunnel.data()) != nullptr;
}

QString OpenConnectConnection::lastError() const
{
    QMutexLocker locker(&m_resultLock);
    return m_lastError;
}

void OpenConnectConnection::setLastError(const QString &text)
{
    QMutexLocker locker(&m_resultLock);
    m_lastError = text;
}

TunnelInfo OpenConnectConnection::tunnelInfo() const
{
    QMutexLocker locker(&m_resultLock);
    return m_tunnelInfo;
}

void OpenConnectConnection::setTunnelInfo(const TunnelInfo &info)
{
    QMutexLocker locker(&m_resultLock);
    m_tunnelInfo = info;
}

QString OpenConnectConnection::tunnelDevice() const
{
    return m_tunnel ? m_tunnel->device() : QString();
}

void OpenConnectConnection::checkTunnelDevice()
{
    const QString name = tunnelDevice();
    if (name.isEmpty())
        return;
    // Compared by index as well: a device of the same name made anew is
    // not the one our routes went to.
    const int index = QNetworkInterface::interfaceIndexFromName(name);
    if (name != m_watchedDevice) {
        m_watchedDevice = name;
        m_watchedIndex = index;
    }
    if (index > 0 && index == m_watchedIndex)
        return;
    m_deviceCheck.stop();
    engineLog(QStringLiteral("The tunnel device %1 is gone; ending the session").arg(name));
    m_tunnel->stopFailed(TunnelFailure::ConnectionLost, tr("the tunnel device %1 was removed").arg(name));
}

OpenConnectConnection::ConnectResult OpenConnectConnection::connect()
{
    if (m_protocol != kOpenConnect && m_protocol != kOpenVpn)
        return Started;
    ConnectResult refusal = Started;
    Tunnel *tunnel = makeTunnel(&refusal);
    if (!tunnel)
        return refusal;

    // The device comes from the service, before the server is contacted:
    // with the kill switch on, the service lets this server (and nothing
    // else) through from here on.
    TunnelLease::Request request;
    QString error;
    if (!leaseRequest(&request, &error)) {
        delete tunnel;
        refuse(TunnelFailure::ServerUnreachable, error);
        return Started;
    }
    auto lease = std::make_unique<TunnelLease>();
    TunnelFailure failure = TunnelFailure::None;
    if (!lease->open(request, &failure, &error)) {
        delete tunnel;
        refuse(failure, error);
        return Started;
    }

    m_tunnel = tunnel;
    m_lease = std::move(lease);
    const TunnelLease *current = m_lease.get();
    // Direct: the session thread's emissions reach our receivers queued,
    // as every receiver connects.
    QObject::connect(tunnel, &Tunnel::statusChanged, this, &OpenConnectConnection::statusChanged,
                     Qt::DirectConnection);
    QObject::connect(tunnel, &Tunnel::statsChanged, this, &OpenConnectConnection::statsChanged,
                     Qt::DirectConnection);
    QObject::connect(tunnel, &Tunnel::failed, this, &OpenConnectConnection::failed, Qt::DirectConnection);
    // The device and its routes go once the tunnel has let go of everything
    // (the library session freed, the OpenVPN program ended): from then on
    // isSessionRunning() is false and nothing of the session is left open.
    QObject::connect(tunnel, &QObject::destroyed, this, [this, current] { releaseLease(current); });
    QObject::connect(m_lease.get(), &TunnelLease::lost, tunnel, &Tunnel::stopFailed);
    tunnel->start(m_lease->device());
    return Started;
}

Tunnel *OpenConnectConnection::makeTunnel(ConnectResult *refusal)
{
    const bool openConnect = m_protocol == kOpenConnect;
    qDebug() << (openConnect ? "Connecting Via Open Connect" : "Connecting Via Open VPN");
    if (openConnect ? (!m_profile || m_profile->gateway.isEmpty()) : m_openVpnConfig.isEmpty()) {
        *refusal = InvalidServer;
        return nullptr;
    }
    if (m_username.isEmpty() || m_password.isEmpty()) {
        *refusal = InvalidCredentials;
        return nullptr;
    }
    if (m_tunnel) {
        // Only one tunnel at a time; one that has only its release still
        // queued gives its device back now.
        *refusal = m_tunnel->busy();
        if (*refusal != Started)
            return nullptr;
        releaseLease(m_lease.get());
    }
    if (!openConnect)
        return new OpenVpnTunnel(m_openVpnConfig, m_username, m_password, this);

    m_formState.formAttempt = 0;
    m_formState.formPasswordAttempt = 0;
    m_formState.rejected = false;
    setTunnelInfo(TunnelInfo());
    auto *session = new OpenConnectSession(this, m_profile, AuthFormInput {m_username, m_password, m_profile->groupName},
                                           m_formState);
    if (!session->prepare()) {
        delete session;
        *refusal = SetupFailed;
        return nullptr;
    }
    return session;
}

bool OpenConnectConnection::leaseRequest(TunnelLease::Request *request, QString *error) const
{
    QString host;
    if (m_protocol == kOpenConnect) {
        // The gateway as the library reads it: a URL, or host[:port].
        const QString gateway = m_profile->gateway;
        const QUrl url = QUrl::fromUserInput(gateway.contains(QLatin1String("://"))
                                                 ? gateway
                                                 : QStringLiteral("https://") + gateway);
        host = url.host();
        request->protocol = QStringLiteral("openconnect");
        request->port = quint16(url.port(443));
        // The main channel over TCP, DTLS over UDP on the same port.
        request->transport = QStringLiteral("both");
    } else {
        const QStringList parts = m_openVpnAddress.split(QLatin1Char(':'));
        host = parts.value(0);
        bool numeric = false;
        const uint port = parts.value(1).toUInt(&numeric);
        request->protocol = QStringLiteral("openvpn");
        request->port = quint16(numeric && port > 0 && port < 65536 ? port : 1194);
        request->transport = openVpnTransport(m_openVpnConfig);
    }
    request->endpoint = QHostAddress(host);
    if (request->endpoint.isNull()) {
        // A name: the service lets an address through, not a name.
        const QHostInfo found = QHostInfo::fromName(host);
        if (!found.addresses().isEmpty())
            request->endpoint = found.addresses().constFirst();
    }
    if (request->endpoint.isNull()) {
        *error = tr("the server address %1 could not be resolved").arg(host);
        engineLog(QStringLiteral("VPN server %1: no address").arg(host));
        return false;
    }
    request->killSwitch = Config::instance()->killSwitch();
    return true;
}

void OpenConnectConnection::refuse(TunnelFailure failure, const QString &detail)
{
    emit failed(failure, detail);
    emit statusChanged(Disconnected);
}

void OpenConnectConnection::releaseLease(const TunnelLease *lease)
{
    if (m_lease && m_lease.get() == lease)
        m_lease.reset();
}

void OpenConnectConnection::disconnect()
{
    if (m_protocol != kOpenConnect && m_protocol != kOpenVpn)
        return;
    if (m_tunnel) {
        m_tunnel->stop();
        return;
    }
    // A session that is gone reports its end again; an OpenVPN runner that
    // is gone has ended and reported so already.
    if (m_protocol == kOpenConnect) {
        qDebug() << "Disconnecting Open Connect";
        emit statusChanged(Disconnected);
    } else {
        qDebug() << "Disconnecting OpenVPN";
    }
}

int OpenConnectConnection::update_stats()
{
    if (!m_tunnel) {
        engineLog(tr("update_stats: invalid socket"));
        return -1;
    }
    return m_tunnel->requestStatistics();
}

} // namespace Varnel
