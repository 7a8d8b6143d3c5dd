#include "vpn/openconnectconnection.h"

#include "common/appinfo.h"
#include "vpn/enginelog.h"
#include "vpn/openconnectserver.h"
#include "vpn/openconnectsession.h"
#include "vpn/openvpnconfig.h"
#include "vpn/openvpnrunner.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFutureInterface>
#include <QMutexLocker>
#include <QNetworkInterface>
#include <QThread>
#include <QThreadPool>

#include <gnutls/gnutls.h>
#include <openconnect.h>

namespace Varnel {

namespace {

// After a cancel the session thread needs a moment to wind down; a
// controller that goes away waits for it at most kShutdownPolls times.
constexpr unsigned long kSettleMs = 200;
constexpr int kShutdownPolls = 10;

} // namespace

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
    QObject::connect(&m_watcher, &QFutureWatcher<void>::finished, this, &OpenConnectConnection::releaseSession);
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
    if (m_watcher.isRunning())
        disconnectOpenConnect();
    for (int poll = 0; poll < kShutdownPolls && m_watcher.isRunning(); ++poll)
        QThread::msleep(kSettleMs);
    // A session thread that is still running keeps its library session.
    releaseSession();
    delete m_runner;
}

void OpenConnectConnection::storeStatus(OpenConnectConnection::Status status)
{
    // The command channel is not dropped here: a Disconnected still queued
    // from an earlier session would take the channel of a newer one, which
    // then could not be stopped. It goes with the library session instead
    // (releaseSession).
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

void OpenConnectConnection::setTunnelDevice(const QString &name)
{
    QMutexLocker locker(&m_resultLock);
    m_tunnelInfo.device = name;
}

void OpenConnectConnection::noteSessionFailure(TunnelFailure failure, const QString &detail)
{
    QMutexLocker locker(&m_resultLock);
    if (m_sessionFailure != TunnelFailure::None)
        return;
    m_sessionFailure = failure;
    m_sessionFailureDetail = detail;
}

QString OpenConnectConnection::tunnelDevice() const
{
    if (m_protocol == kOpenVpn)
        return m_runner ? m_runner->deviceName() : QString();
    return tunnelInfo().device;
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
    const QString detail = tr("the tunnel device %1 was removed").arg(name);
    if (m_protocol == kOpenVpn) {
        if (m_runner)
            m_runner->stopFailed(TunnelFailure::ConnectionLost, detail);
        return;
    }
    noteSessionFailure(TunnelFailure::ConnectionLost, detail);
    disconnectOpenConnect();
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

OpenConnectConnection::ConnectResult OpenConnectConnection::connect()
{
    switch (m_protocol) {
    case kOpenConnect:
        return connectOpenConnect();
    case kOpenVpn:
        return connectOpenVpn();
    default:
        return Started;
    }
}

OpenConnectConnection::ConnectResult OpenConnectConnection::connectOpenConnect()
{
    qDebug() << "Connecting Via Open Connect";
    if (!m_profile || m_profile->gateway.isEmpty())
        return InvalidServer;
    if (m_username.isEmpty() || m_password.isEmpty())
        return InvalidCredentials;
    // The previous session's thread may be done with its finished signal
    // still queued.
    releaseSession();
    if (m_commandSocket != kInvalidCommandSocket)
        return AlreadyActive;
    if (m_watcher.isRunning())
        return AlreadyRunning;

    m_session = openconnect_vpninfo_new(applicationName().toLatin1().constData(), OpenConnectSession::validatePeerCert,
                                        nullptr, OpenConnectSession::processAuthForm, OpenConnectSession::progress,
                                        this);
    if (!m_session) {
        engineLog(QStringLiteral("initial setup fails"));
        setLastError(QStringLiteral("initial setup fails"));
        return SetupFailed;
    }
    m_commandSocket = openconnect_setup_cmd_pipe(m_session);
    // The library reports a failure as a negative error code, not only -1.
    if (m_commandSocket < 0) {
        m_commandSocket = kInvalidCommandSocket;
        engineLog(tr("invalid socket"));
        engineLog(QStringLiteral("pipe setup fails"));
        setLastError(QStringLiteral("pipe setup fails"));
        openconnect_vpninfo_free(m_session);
        m_session = nullptr;
        return SetupFailed;
    }
    if (const int error = setCommandSocketBlocking(m_commandSocket))
        engineLog(QStringLiteral("Could not make the command channel blocking: %1").arg(error));
    // Trace messages are never logged; without this the library would still
    // produce them, several for every packet.
    openconnect_set_loglevel(m_session, PRG_DEBUG);
    openconnect_set_stats_handler(m_session, OpenConnectSession::statsHandler);
    m_profile->protocol = QStringLiteral("anyconnect");
    openconnect_set_protocol(m_session, m_profile->protocol.toLatin1().constData());
    openconnect_set_setup_tun_handler(m_session, OpenConnectSession::setupTun);
    openconnect_parse_url(m_session, m_profile->gateway.toLocal8Bit().constData());

    m_sessionInput = AuthFormInput {m_username, m_password, m_profile->groupName};
    m_sessionProfile = m_profile;
    m_formState.formAttempt = 0;
    m_formState.formPasswordAttempt = 0;
    m_formState.rejected = false;
    setTunnelInfo(TunnelInfo());
    {
        QMutexLocker locker(&m_resultLock);
        m_sessionFailure = TunnelFailure::None;
        m_sessionFailureDetail.clear();
    }

    m_sessionState = SessionRunning;
    QFutureInterface<void> running;
    running.reportStarted();
    m_watcher.setFuture(running.future());
    QThreadPool::globalInstance()->start([this, running]() mutable {
        OpenConnectSession::run(this);
        running.reportFinished();
    });
    return Started;
}

OpenConnectConnection::ConnectResult OpenConnectConnection::connectOpenVpn()
{
    qDebug() << "Connecting Via Open VPN";
    if (m_openVpnConfig.isEmpty())
        return InvalidServer;
    if (m_username.isEmpty() || m_password.isEmpty())
        return InvalidCredentials;
    // A second start while one runs would leave a program (and its tunnel)
    // that nothing stops any more; one that is only finishing may go on.
    if (m_runner && !m_runner->hasEnded())
        return AlreadyActive;

    auto *runner = new OpenVpnRunner(this);
    m_runner = runner;
    QObject::connect(runner, &OpenVpnRunner::transfer, this,
                     [this](qint64 down, qint64 up) { emit statsChanged(quint64(up), quint64(down)); });
    QObject::connect(runner, &OpenVpnRunner::disconnected, this, [this, runner] {
        if (runner->failure() != TunnelFailure::None)
            emit failed(runner->failure(), runner->failureDetail());
        emit statusChanged(Disconnected);
    });
    QObject::connect(runner, &OpenVpnRunner::connected, this, [this] { emit statusChanged(Connected); });
    QObject::connect(runner, &OpenVpnRunner::connecting, this, [this] { emit statusChanged(Connecting); });

    if (runner->connect(m_openVpnConfig, m_username, m_password))
        engineLog(QStringLiteral("OpenVPN Connect Success"));
    else
        engineLog(QStringLiteral("OpenVPN Connect Failed"));
    return Started;
}

void OpenConnectConnection::disconnect()
{
    switch (m_protocol) {
    case kOpenConnect:
        disconnectOpenConnect();
        break;
    case kOpenVpn:
        disconnectOpenVpn();
        break;
    default:
        break;
    }
}

void OpenConnectConnection::disconnectOpenConnect()
{
    qDebug() << "Disconnecting Open Connect";
    if (m_commandSocket == kInvalidCommandSocket) {
        emit statusChanged(Disconnected);
        return;
    }
    emit statusChanged(Disconnecting);
    int running = SessionRunning;
    if (!m_sessionState.compare_exchange_strong(running, SessionStopping)) {
        // The session ended by itself just now; its Disconnected may already
        // be queued ahead of our Disconnecting, so report the end again.
        m_commandSocket = kInvalidCommandSocket;
        emit statusChanged(Disconnected);
        return;
    }
    if (const int error = sendCommandByte(m_commandSocket, OC_CMD_CANCEL))
        engineLog(QStringLiteral("term_thread: IPC error: ") + QString::number(error));
    m_commandSocket = kInvalidCommandSocket;
    // The session thread reports Disconnected once its main loop has ended.
    QThread::msleep(kSettleMs);
}

void OpenConnectConnection::disconnectOpenVpn()
{
    qDebug() << "Disconnecting OpenVPN";
    // A runner that is gone has ended and reported so already.
    if (m_runner)
        m_runner->stop();
}

int OpenConnectConnection::update_stats()
{
    if (m_commandSocket == kInvalidCommandSocket) {
        engineLog(tr("update_stats: invalid socket"));
        return -1;
    }
    if (const int error = sendCommandByte(m_commandSocket, OC_CMD_STATS)) {
        engineLog(QStringLiteral("update_stats: IPC error: ") + QString::number(error));
        return -1;
    }
    return 0;
}

void OpenConnectConnection::reportSessionEnd()
{
    TunnelFailure failure;
    QString detail;
    {
        QMutexLocker locker(&m_resultLock);
        failure = m_sessionFailure;
        detail = m_sessionFailureDetail;
    }
    m_sessionState = SessionEnded;
    if (failure != TunnelFailure::None)
        emit failed(failure, detail);
    emit statusChanged(Disconnected);
}

void OpenConnectConnection::releaseSession()
{
    if (!m_session || m_watcher.isRunning())
        return;
    // Freeing closes both ends of the command channel.
    m_commandSocket = kInvalidCommandSocket;
    openconnect_vpninfo_free(m_session);
    m_session = nullptr;
    m_sessionProfile.reset();
}

} // namespace Varnel
