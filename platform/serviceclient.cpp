#include "platform/serviceclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace Varnel {

QString ServiceClient::notRunningText()
{
    return QCoreApplication::translate("ServiceClient",
                                       "The VarnelVPN service is not running. Start it with "
                                       "\"sudo systemctl start varnelvpn\" and try again.");
}

ServiceClient::~ServiceClient()
{
    close();
}

#ifdef Q_OS_WIN

// The Windows client configures its tunnel driver itself.
bool ServiceClient::open(QString *error)
{
    *error = notRunningText();
    return false;
}

void ServiceClient::close()
{
}

std::optional<ServiceProtocol::Message> ServiceClient::request(const ServiceProtocol::Message &, QString *error)
{
    *error = notRunningText();
    return std::nullopt;
}

#else

bool ServiceClient::open(QString *error)
{
    close();
    const std::string path = ServiceProtocol::socketPath();
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        *error = QStringLiteral("the service socket path is too long");
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // A local connect completes at once or fails at once (no listener, a
    // full backlog), so it needs no bound of its own.
    int result;
    do {
        result = ::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address));
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        *error = QStringLiteral("%1 (%2)").arg(notRunningText(), QString::fromLocal8Bit(std::strerror(errno)));
        close();
        return false;
    }
    m_reader = ServiceProtocol::FrameReader();
    return true;
}

void ServiceClient::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::optional<ServiceProtocol::Message> ServiceClient::request(const ServiceProtocol::Message &request,
                                                               QString *error)
{
    if (m_fd < 0) {
        *error = notRunningText();
        return std::nullopt;
    }
    const std::string bytes = ServiceProtocol::frame(request);
    if (bytes.empty()) {
        *error = QStringLiteral("a request that cannot be sent (%1)").arg(QString::fromStdString(request.verb));
        return std::nullopt;
    }
    const auto fail = [this, error](const QString &why) {
        *error = why;
        close();
        return std::nullopt;
    };
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(QStringLiteral("the service closed the connection (%1)")
                            .arg(QString::fromLocal8Bit(std::strerror(errno))));
        sent += std::size_t(n);
    }
    QElapsedTimer clock;
    clock.start();
    std::string payload;
    for (;;) {
        switch (m_reader.next(&payload)) {
        case ServiceProtocol::FrameReader::Status::Frame: {
            ServiceProtocol::Message reply;
            if (ServiceProtocol::parse(payload, &reply) != ServiceProtocol::ParseError::None)
                return fail(QStringLiteral("the service sent a reply that cannot be read"));
            return reply;
        }
        case ServiceProtocol::FrameReader::Status::Invalid:
            return fail(QStringLiteral("the service sent a reply that cannot be read"));
        case ServiceProtocol::FrameReader::Status::NeedMore:
            break;
        }
        const qint64 left = kReplyTimeoutMs - clock.elapsed();
        if (left <= 0)
            return fail(QStringLiteral("the service did not answer within %1 s").arg(kReplyTimeoutMs / 1000));
        pollfd watch {m_fd, POLLIN, 0};
        const int ready = ::poll(&watch, 1, int(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(QStringLiteral("the service closed the connection"));
        m_reader.feed(buffer, std::size_t(n));
    }
}

#endif

std::optional<ServiceProtocol::Message> askService(const ServiceProtocol::Message &request, QString *error)
{
    ServiceClient client;
    if (!client.open(error))
        return std::nullopt;
    return client.request(request, error);
}

} // namespace Varnel
