#include "connectiondrop.h"

#include <QDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

namespace Varnel::RefBackend {

namespace {

int portOf(const sockaddr_storage &address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
    return -1;
}

bool hasPorts(int fd, int localPort, int remotePort)
{
    sockaddr_storage local{};
    sockaddr_storage remote{};
    socklen_t localSize = sizeof local;
    socklen_t remoteSize = sizeof remote;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localSize) != 0
        || getpeername(fd, reinterpret_cast<sockaddr *>(&remote), &remoteSize) != 0)
        return false;
    return portOf(local) == localPort && portOf(remote) == remotePort;
}

// Plain HTTP: find the accepted socket by its two ports among the process's descriptors.
int socketByPorts(int localPort, int remotePort)
{
    const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System
                                                                           | QDir::Files | QDir::Dirs);
    for (const QString &name : fds) {
        bool ok = false;
        const int fd = name.toInt(&ok);
        if (ok && hasPorts(fd, localPort, remotePort))
            return fd;
    }
    return -1;
}

} // namespace

bool dropConnection(const httplib::Request &request)
{
    const int fd = request.ssl ? SSL_get_fd(request.ssl) : socketByPorts(request.local_port, request.remote_port);
    return fd >= 0 && ::shutdown(fd, SHUT_RDWR) == 0;
}

} // namespace Varnel::RefBackend
