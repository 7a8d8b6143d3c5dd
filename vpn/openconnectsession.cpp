#include "vpn/openconnectsession.h"

#include "platform/privileges.h"
#include "platform/vpnplatform.h"
#include "vpn/enginelog.h"
#include "vpn/openconnectconnection.h"
#include "vpn/peerpin.h"
#include "vpn/scriptlog.h"
#include "vpn/tunnelinfo.h"

#include <QDir>

#include <openconnect.h>

#include <cstdarg>

namespace Varnel {

namespace {

using Connection = OpenConnectConnection;

Connection *controllerOf(void *privdata)
{
    return static_cast<Connection *>(privdata);
}

} // namespace

void OpenConnectSession::endEarly(OpenConnectConnection *controller, const QString &error)
{
    controller->setLastError(error);
    engineLog(error);
    // Unless a callback found the cause already (a changed key, refused
    // credentials), the server could not be reached or broke off; or the
    // user cancelled, which is no failure.
    if (!controller->stopRequested())
        controller->noteSessionFailure(TunnelFailure::ServerUnreachable);
    controller->reportSessionEnd();
}

void OpenConnectSession::run(OpenConnectConnection *controller)
{
    // For the session's life this thread may configure the network (the
    // library makes the tun device here) and the tunnel script it starts
    // from here inherits that; the thread goes back to the pool without it.
    const Privileges::NetworkAdminScope rights(Privileges::NetworkAdminScope::Effective
                                               | Privileges::NetworkAdminScope::Inherited);
    openconnect_info *session = controller->m_session;
    emit controller->statusChanged(Connection::Connecting);
    openconnect_set_reported_os(session, reportedOsName());

    if (openconnect_obtain_cookie(session) != 0) {
        endEarly(controller, Connection::tr("Authentication error; cannot obtain cookie"));
        return;
    }
    if (openconnect_make_cstp_connection(session) != 0) {
        endEarly(controller, Connection::tr("Error establishing the CSTP channel"));
        return;
    }
    const int dtls = openconnect_setup_dtls(session, 25);
    if (dtls != 0) {
        // The tunnel runs over the main channel alone.
        const QString error = Connection::tr("Error setting up DTLS (%1)").arg(dtls);
        controller->setLastError(error);
        engineLog(error);
    }

    TunnelInfo info;
    const oc_ip_info *addresses = nullptr;
    const oc_vpn_option *cstpOptions = nullptr;
    const oc_vpn_option *dtlsOptions = nullptr;
    if (openconnect_get_ip_info(session, &addresses, &cstpOptions, &dtlsOptions) == 0 && addresses)
        info.readAddresses(*addresses);
    if (const char *cipher = openconnect_get_cstp_cipher(session))
        info.cstpCipher = QString::fromLatin1(cipher);
    if (const char *cipher = openconnect_get_dtls_cipher(session))
        info.dtlsCipher = QString::fromLatin1(cipher);
    controller->setTunnelInfo(info);

    emit controller->statusChanged(Connection::Connected);
    // kReconnectSeconds to reconnect after a loss, a try every 10 s; the
    // loop ends on a cancel command, a server disconnect or when
    // reconnecting gives up.
    while (openconnect_mainloop(session, kReconnectSeconds, 10) == 0) {
    }
    if (!controller->stopRequested())
        controller->noteSessionFailure(TunnelFailure::ConnectionLost);
    controller->setLastError(Connection::tr("Disconnected"));
    forwardScriptLog(QDir::tempPath());
    controller->reportSessionEnd();
}

int OpenConnectSession::validatePeerCert(void *privdata, const char *)
{
    Connection *controller = controllerOf(privdata);
    openconnect_info *session = controller->m_session;

    unsigned char *der = nullptr;
    const int length = openconnect_get_peer_cert_DER(session, &der);
    if (length <= 0) {
        engineLog(Connection::tr("Peer's certificate has invalid size!"));
        return -1;
    }
    const QByteArray certificate(reinterpret_cast<const char *>(der), length);
    openconnect_free_cert_info(session, der);

    if (!openconnect_get_peer_cert_hash(session)) {
        engineLog(Connection::tr("Error getting peer's certificate hash"));
        return -1;
    }
    switch (checkPeerKey(certificate, QString::fromUtf8(openconnect_get_hostname(session)),
                         QString::number(openconnect_get_port(session)), *controller->m_sessionProfile)) {
    case PeerKey::Accepted:
        return 0;
    case PeerKey::Changed:
        controller->noteSessionFailure(TunnelFailure::ServerKeyChanged);
        return -1;
    case PeerKey::Refused:
        break;
    }
    return -1;
}

int OpenConnectSession::processAuthForm(void *privdata, oc_auth_form *form)
{
    Connection *controller = controllerOf(privdata);
    const int result = fillAuthForm(form, controller->m_formState, controller->m_sessionInput);
    if (controller->m_formState.rejected)
        controller->noteSessionFailure(TunnelFailure::CredentialsRejected);
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
    emit controllerOf(privdata)->statsChanged(stats->tx_bytes, stats->rx_bytes);
}

void OpenConnectSession::setupTun(void *privdata)
{
    Connection *controller = controllerOf(privdata);
    const QByteArray script = tunnelScriptPath().toUtf8();
    if (openconnect_setup_tun_device(controller->m_session, script.constData(), nullptr) != 0) {
        // The library gives up on the session by itself when it has no tunnel.
        const QString error = Connection::tr("Error setting up the TUN device");
        controller->setLastError(error);
        const bool mayConfigure = canConfigureNetwork();
        engineLog(mayConfigure ? error
                               : error + QStringLiteral(": tunnels need root or the CAP_NET_ADMIN capability"));
        controller->noteSessionFailure(mayConfigure ? TunnelFailure::TunnelDevice
                                                    : TunnelFailure::NeedsAdministrator);
    } else if (const char *device = openconnect_get_ifname(controller->m_session)) {
        controller->setTunnelDevice(QString::fromLocal8Bit(device));
    }
    forwardScriptLog(QDir::tempPath());
}

} // namespace Varnel
