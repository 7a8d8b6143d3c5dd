#include "vpn/openconnectsession.h"

#include "common/appinfo.h"
#include "platform/vpnplatform.h"
#include "vpn/enginelog.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"
#include "vpn/peerpin.h"
#include "vpn/tunnelinfo.h"
#include "vpn/tunnellease.h"

#include <QFile>

#include <QDebug>
#include <QFutureInterface>
#include <QMutexLocker>
#include <QThread>
#include <QThreadPool>

#include <openconnect.h>

#include <cstdarg>
#include <cstring>

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Varnel {

namespace {

using Connection = OpenConnectConnection;

// After a cancel the session thread needs a moment to wind down; at the
// program's end it is waited for at most kShutdownPolls times.
constexpr unsigned long kSettleMs = 200;
constexpr int kShutdownPolls = 10;

// The tun device of that name, as the library would open it.
int openTunnelDevice(const QByteArray &name)
{
    const int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    ifreq request {};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(request.ifr_name, name.constData(), IFNAMSIZ - 1);
    if (::ioctl(fd, TUNSETIFF, &request) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

OpenConnectSession *sessionOf(void *privdata)
{
    return static_cast<OpenConnectSession *>(privdata);
}

} // namespace

OpenConnectSession::OpenConnectSession(OpenConnectConnection *results,
                                       const std::shared_ptr<OpenConnectServer> &profile,
                                       const AuthFormInput &input, AuthFormState &formState)
    : m_results(results)
    , m_profile(profile)
    , m_input(input)
    , m_formState(formState)
{
    QObject::connect(&m_watcher, &QFutureWatcher<void>::finished, this, &OpenConnectSession::release);
}

OpenConnectSession::~OpenConnectSession()
{
    // Only reached once the thread is done with the library session.
    if (m_session)
        openconnect_vpninfo_free(m_session);
    if (m_tunFd >= 0)
        ::close(m_tunFd);
}

bool OpenConnectSession::prepare()
{
    m_session = openconnect_vpninfo_new(applicationName().toLatin1().constData(), validatePeerCert, nullptr,
                                        processAuthForm, progress, this);
    if (!m_session) {
        engineLog(QStringLiteral("initial setup fails"));
        m_results->setLastError(QStringLiteral("initial setup fails"));
        return false;
    }
    m_commandSocket = openconnect_setup_cmd_pipe(m_session);
    // The library reports a failure as a negative error code, not only -1.
    if (m_commandSocket < 0) {
        m_commandSocket = kInvalidCommandSocket;
        engineLog(Connection::tr("invalid socket"));
        engineLog(QStringLiteral("pipe setup fails"));
        m_results->setLastError(QStringLiteral("pipe setup fails"));
        return false;
    }
    if (const int error = setCommandSocketBlocking(m_commandSocket))
        engineLog(QStringLiteral("Could not make the command channel blocking: %1").arg(error));
    // Trace messages are never logged; without this the library would still
    // produce them, several for every packet.
    openconnect_set_loglevel(m_session, PRG_DEBUG);
    openconnect_set_stats_handler(m_session, statsHandler);
    m_profile->protocol = QStringLiteral("anyconnect");
    openconnect_set_protocol(m_session, m_profile->protocol.toLatin1().constData());
    openconnect_set_setup_tun_handler(m_session, setupTun);
    openconnect_parse_url(m_session, m_profile->gateway.toLocal8Bit().constData());
    return true;
}

void OpenConnectSession::start(const QString &device)
{
    m_device = device;
    m_state = Running;
    QFutureInterface<void> running;
    running.reportStarted();
    m_watcher.setFuture(running.future());
    QThreadPool::globalInstance()->start([this, running]() mutable {
        run();
        running.reportFinished();
    });
}

void OpenConnectSession::stop()
{
    qDebug() << "Disconnecting Open Connect";
    if (m_commandSocket == kInvalidCommandSocket) {
        emit statusChanged(Connection::Disconnected);
        return;
    }
    emit statusChanged(Connection::Disconnecting);
    int running = Running;
    if (!m_state.compare_exchange_strong(running, Stopping)) {
        // The session ended by itself just now; its Disconnected may already
        // be queued ahead of our Disconnecting, so report the end again.
        m_commandSocket = kInvalidCommandSocket;
        emit statusChanged(Connection::Disconnected);
        return;
    }
    if (const int error = sendCommandByte(m_commandSocket, OC_CMD_CANCEL))
        engineLog(QStringLiteral("term_thread: IPC error: ") + QString::number(error));
    m_commandSocket = kInvalidCommandSocket;
    // The session thread reports Disconnected once its main loop has ended.
    QThread::msleep(kSettleMs);
}

void OpenConnectSession::stopFailed(TunnelFailure failure, const QString &detail)
{
    noteFailure(failure, detail);
    stop();
}

OpenConnectConnection::ConnectResult OpenConnectSession::busy() const
{
    // A thread that is done leaves nothing to wait for: its release is only
    // still queued.
    if (!m_watcher.isRunning())
        return Connection::Started;
    return m_commandSocket != kInvalidCommandSocket ? Connection::AlreadyActive : Connection::AlreadyRunning;
}

int OpenConnectSession::requestStatistics()
{
    if (m_commandSocket == kInvalidCommandSocket) {
        engineLog(Connection::tr("update_stats: invalid socket"));
        return -1;
    }
    if (const int error = sendCommandByte(m_commandSocket, OC_CMD_STATS)) {
        engineLog(QStringLiteral("update_stats: IPC error: ") + QString::number(error));
        return -1;
    }
    return 0;
}

void OpenConnectSession::shutDown()
{
    if (m_watcher.isRunning())
        stop();
    for (int poll = 0; poll < kShutdownPolls && m_watcher.isRunning(); ++poll)
        QThread::msleep(kSettleMs);
}

void OpenConnectSession::release()
{
    // Freeing closes both ends of the command channel.
    m_commandSocket = kInvalidCommandSocket;
    openconnect_vpninfo_free(m_session);
    m_session = nullptr;
    // The library uses the device we handed it but leaves it open.
    if (m_tunFd >= 0)
        ::close(m_tunFd);
    m_tunFd = -1;
    deleteLater();
}

void OpenConnectSession::noteFailure(TunnelFailure failure, const QString &detail)
{
    QMutexLocker locker(&m_failureLock);
    if (m_failure != TunnelFailure::None)
        return;
    m_failure = failure;
    m_failureDetail = detail;
}

void OpenConnectSession::reportEnd()
{
    TunnelFailure failure;
    QString detail;
    {
        QMutexLocker locker(&m_failureLock);
        failure = m_failure;
        detail = m_failureDetail;
    }
    m_state = Ended;
    if (failure != TunnelFailure::None)
        emit failed(failure, detail);
    emit statusChanged(Connection::Disconnected);
}

void OpenConnectSession::endEarly(const QString &error)
{
    m_results->setLastError(error);
    engineLog(error);
    // Unless a callback found the cause already (a changed key, refused
    // credentials), the server could not be reached or broke off; or the
    // user cancelled, which is no failure.
    if (!stopRequested())
        noteFailure(TunnelFailure::ServerUnreachable);
    reportEnd();
}

void OpenConnectSession::run()
{
    emit statusChanged(Connection::Connecting);
    openconnect_set_reported_os(m_session, reportedOsName());

    if (openconnect_obtain_cookie(m_session) != 0) {
        endEarly(Connection::tr("Authentication error; cannot obtain cookie"));
        return;
    }
    if (openconnect_make_cstp_connection(m_session) != 0) {
        endEarly(Connection::tr("Error establishing the CSTP channel"));
        return;
    }
    const int dtls = openconnect_setup_dtls(m_session, 25);
    if (dtls != 0) {
        // The tunnel runs over the main channel alone.
        const QString error = Connection::tr("Error setting up DTLS (%1)").arg(dtls);
        m_results->setLastError(error);
        engineLog(error);
    }

    TunnelInfo info;
    const oc_ip_info *addresses = nullptr;
    const oc_vpn_option *cstpOptions = nullptr;
    const oc_vpn_option *dtlsOptions = nullptr;
    if (openconnect_get_ip_info(m_session, &addresses, &cstpOptions, &dtlsOptions) == 0 && addresses)
        info.readAddresses(*addresses);
    if (const char *cipher = openconnect_get_cstp_cipher(m_session))
        info.cstpCipher = QString::fromLatin1(cipher);
    if (const char *cipher = openconnect_get_dtls_cipher(m_session))
        info.dtlsCipher = QString::fromLatin1(cipher);
    info.device = m_device;
    m_results->setTunnelInfo(info);

    // The device now, not when the main loop's first turn would ask for it
    // (after the DTLS handshake): traffic flows over the main channel until
    // DTLS is up, and Connected means the tunnel carries it.
    if (!setUpDevice()) {
        reportEnd();
        return;
    }
    m_connected = true;
    emit statusChanged(Connection::Connected);
    // kReconnectSeconds to reconnect after a loss, a try every 10 s; the
    // loop ends on a cancel command, a server disconnect or when
    // reconnecting gives up.
    while (openconnect_mainloop(m_session, kReconnectSeconds, 10) == 0) {
    }
    if (!stopRequested())
        noteFailure(m_connected ? TunnelFailure::ConnectionLost : TunnelFailure::ServerUnreachable);
    m_results->setLastError(Connection::tr("Disconnected"));
    reportEnd();
}

int OpenConnectSession::validatePeerCert(void *privdata, const char *)
{
    OpenConnectSession *self = sessionOf(privdata);
    unsigned char *der = nullptr;
    const int length = openconnect_get_peer_cert_DER(self->m_session, &der);
    if (length <= 0) {
        engineLog(Connection::tr("Peer's certificate has invalid size!"));
        return -1;
    }
    const QByteArray certificate(reinterpret_cast<const char *>(der), length);
    openconnect_free_cert_info(self->m_session, der);

    if (!openconnect_get_peer_cert_hash(self->m_session)) {
        engineLog(Connection::tr("Error getting peer's certificate hash"));
        return -1;
    }
    switch (checkPeerKey(certificate, QString::fromUtf8(openconnect_get_hostname(self->m_session)),
                         QString::number(openconnect_get_port(self->m_session)), *self->m_profile)) {
    case PeerKey::Accepted:
        return 0;
    case PeerKey::Changed:
        self->noteFailure(TunnelFailure::ServerKeyChanged);
        return -1;
    case PeerKey::Refused:
        break;
    }
    return -1;
}

int OpenConnectSession::processAuthForm(void *privdata, oc_auth_form *form)
{
    OpenConnectSession *self = sessionOf(privdata);
    const int result = fillAuthForm(form, self->m_formState, self->m_input);
    if (self->m_formState.rejected)
        self->noteFailure(TunnelFailure::CredentialsRejected);
    return result;
}

void OpenConnectSession::progress(void *, int level, const char *format, ...)
{
    if (level == PRG_TRACE)
        return;
    va_list arguments;
    va_start(arguments, format);
    const QString text = formatProgress(format, arguments);
    va_end(arguments);
    engineLog(text);
}

void OpenConnectSession::statsHandler(void *privdata, const oc_stats *stats)
{
    emit sessionOf(privdata)->statsChanged(stats->tx_bytes, stats->rx_bytes);
}

void OpenConnectSession::setupTun(void *privdata)
{
    // The library asks only when the device is not set up yet; run() sets
    // it up before the main loop, so this is the rare late case.
    OpenConnectSession *self = sessionOf(privdata);
    if (!self->setUpDevice())
        sendCommandByte(self->m_commandSocket, OC_CMD_CANCEL);
}

bool OpenConnectSession::setUpDevice()
{
    // The device is the one the service made for us, owned by our user, so
    // it opens without privilege. The settings go to the service from here:
    // a script would cost two forks of this process and two shells on every
    // connect (the library runs it before and after opening the device).
    const QByteArray device = m_device.toLocal8Bit();
    const int fd = openTunnelDevice(device);
    const bool opened = fd >= 0 && openconnect_setup_tun_fd(m_session, fd) == 0;
    if (opened) {
        m_tunFd = fd;
    } else {
        if (fd >= 0)
            ::close(fd);
        const QString error = Connection::tr("Error setting up the TUN device");
        m_results->setLastError(error);
        engineLog(QStringLiteral("%1 %2").arg(error, m_device));
        noteFailure(TunnelFailure::TunnelDevice);
        return false;
    }
    const oc_ip_info *addresses = nullptr;
    QString problem;
    if (openconnect_get_ip_info(m_session, &addresses, nullptr, nullptr) != 0 || !addresses) {
        problem = Connection::tr("the server's settings could not be read");
    } else if (const auto reply = askService(configureRequest(device.toStdString(), *addresses), &problem)) {
        if (reply->verb == "ok")
            return true;
        problem = QString::fromStdString(reply->value("message"));
    }
    m_results->setLastError(Connection::tr("Error setting up the TUN device"));
    engineLog(QStringLiteral("The tunnel %1 could not be configured: %2").arg(m_device, problem));
    noteFailure(TunnelFailure::SetupFailed, problem);
    return false;
}

} // namespace Varnel
