#include "vpn/tunnellease.h"

#include "vpn/enginelog.h"

#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include <sys/socket.h>
#endif

namespace Varnel {

namespace {

using ServiceProtocol::Message;

QString fieldOf(const Message &message, const char *key)
{
    return QString::fromStdString(message.value(key));
}

} // namespace

TunnelLease::~TunnelLease()
{
    close();
}

bool TunnelLease::open(const Request &request, TunnelFailure *failure, QString *detail)
{
    QString error;
    if (!m_client.open(&error)) {
        engineLog(QStringLiteral("VPN service: %1").arg(error));
        *failure = TunnelFailure::ServiceUnavailable;
        *detail = error;
        return false;
    }
    Message open("open");
    open.add("protocol", request.protocol.toStdString())
        .add("endpoint", request.endpoint.toString().toStdString())
        .add("port", std::to_string(request.port))
        .add("transport", request.transport.toStdString())
        .add("killswitch", request.killSwitch ? "on" : "off");
    const std::optional<Message> reply = m_client.request(open, &error);
    if (!reply) {
        engineLog(QStringLiteral("VPN service: %1").arg(error));
        *failure = TunnelFailure::ServiceUnavailable;
        *detail = error;
        return false;
    }
    if (reply->verb != "ok" || !reply->has("device")) {
        *detail = fieldOf(*reply, "message");
        engineLog(QStringLiteral("VPN service refused the tunnel (%1): %2").arg(fieldOf(*reply, "code"), *detail));
        *failure = TunnelFailure::ServiceRefused;
        m_client.close();
        return false;
    }
    m_device = fieldOf(*reply, "device");
    // Readable only when the service says something by itself: that it
    // ended the tunnel, or by closing the connection.
    m_watch = new QSocketNotifier(m_client.descriptor(), QSocketNotifier::Read, this);
    QObject::connect(m_watch, &QSocketNotifier::activated, this, &TunnelLease::onReadable);
    return true;
}

void TunnelLease::close()
{
    delete m_watch;
    m_watch = nullptr;
    if (!m_client.isOpen())
        return;
    QString error;
    const std::optional<Message> reply = m_client.request(Message("close"), &error);
    if (!reply || reply->verb != "ok")
        engineLog(QStringLiteral("VPN service: closing %1: %2")
                      .arg(m_device, reply ? fieldOf(*reply, "message") : error));
    m_client.close();
}

void TunnelLease::onReadable()
{
    delete m_watch;
    m_watch = nullptr;
    // Whatever arrives unasked is the end: a last word, or the end of file.
    QString error;
    QString why;
#ifndef Q_OS_WIN
    char buffer[4096];
    const ssize_t n = ::recv(m_client.descriptor(), buffer, sizeof buffer, MSG_DONTWAIT);
    ServiceProtocol::FrameReader reader;
    if (n > 0)
        reader.feed(buffer, std::size_t(n));
    std::string payload;
    Message last;
    if (reader.next(&payload) == ServiceProtocol::FrameReader::Status::Frame
        && ServiceProtocol::parse(payload, &last) == ServiceProtocol::ParseError::None && last.verb == "ended")
        why = fieldOf(last, "message");
#endif
    m_client.close();
    engineLog(why.isEmpty() ? QStringLiteral("VPN service: the connection ended; the tunnel %1 is gone").arg(m_device)
                            : QStringLiteral("VPN service ended the tunnel %1: %2").arg(m_device, why));
    // The service ends a tunnel by itself only when it broke (its device gone):
    // for the user the connection was lost.
    if (why.isEmpty())
        emit lost(TunnelFailure::ServiceUnavailable, tr("the VarnelVPN service stopped"));
    else
        emit lost(TunnelFailure::ConnectionLost, why);
}

} // namespace Varnel
