#include "service/controlserver.h"

#include "service/log.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Varnel::Service {

namespace {

// Replies waiting for a client that does not read them: beyond this the
// client's further requests wait in its own socket.
constexpr std::size_t kMaxBacklog = 65536;
// Reads at most per wake-up of one connection, so that one busy
// client cannot hold the others up.
constexpr int kReadsPerWakeUp = 8;

std::string failure(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

std::string who(const Peer &peer)
{
    return "uid " + std::to_string(peer.uid) + " pid " + std::to_string(peer.pid);
}

// Qt objects of a connection may be what is running right now (its timer's
// timeout, its notifier's activation): they go once the event loop is back.
template <typename T>
void dropLater(std::unique_ptr<T> &object)
{
    if (object) {
        object->setEnabled(false);
        object.release()->deleteLater();
    }
}

template <>
void dropLater(std::unique_ptr<QTimer> &timer)
{
    if (timer) {
        timer->stop();
        timer.release()->deleteLater();
    }
}

} // namespace

ControlServer::ControlServer(RequestHandler onRequest, EndHandler onEnd, QObject *parent)
    : QObject(parent), m_onRequest(std::move(onRequest)), m_onEnd(std::move(onEnd))
{
}

ControlServer::~ControlServer()
{
    for (auto &entry : m_connections)
        ::close(entry.second->fd);
    if (m_listener >= 0) {
        ::close(m_listener);
        ::unlink(m_path.c_str());
    }
}

bool ControlServer::listen(const std::string &path, std::string *error)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        *error = "the socket path is empty or too long";
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size());

    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0755) == 0)
        ::chmod(folder.c_str(), 0755);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        *error = failure(folder);
        return false;
    }
    // Whoever may write the folder may put another socket in our place.
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH))) {
        *error = folder + " is not a folder that only this service's user may change";
        return false;
    }
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            *error = path + " exists and is not a socket";
            return false;
        }
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool taken = probe >= 0
                           && ::connect(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        if (probe >= 0)
            ::close(probe);
        if (taken) {
            *error = "another service listens on " + path;
            return false;
        }
        // Left by a service that was killed.
        ::unlink(path.c_str());
    }

    m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listener < 0) {
        *error = failure("socket");
        return false;
    }
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        *error = failure(path);
        ::close(m_listener);
        m_listener = -1;
        return false;
    }
    m_path = path;
    // Every user may connect; what each may do is decided per request.
    if (::chmod(path.c_str(), 0666) != 0 || ::listen(m_listener, kMaxConnections) != 0) {
        *error = failure(path);
        return false;
    }
    m_incoming = std::make_unique<QSocketNotifier>(m_listener, QSocketNotifier::Read);
    connect(m_incoming.get(), &QSocketNotifier::activated, this, &ControlServer::accept);
    return true;
}

void ControlServer::disconnect(std::uint64_t id, const std::string &lastWord)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    if (!lastWord.empty()) {
        ServiceProtocol::Message ended("ended");
        ended.add("message", lastWord);
        // Written now, before the shutdown; a peer too slow to take it
        // still sees the end.
        send(*it->second, ended);
    }
    // The peer sees the end now; the connection goes from the event loop,
    // out of whatever request is being answered.
    ::shutdown(it->second->fd, SHUT_RDWR);
    QMetaObject::invokeMethod(this, [this, id] { end(id); }, Qt::QueuedConnection);
}

void ControlServer::accept()
{
    for (int i = 0; i < kMaxConnections; ++i) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
                Log::error(failure("accepting a connection"));
            return;
        }
        ucred credentials {};
        socklen_t size = sizeof credentials;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials) {
            Log::warning("a connection without readable credentials was refused");
            const std::string reply = ServiceProtocol::frame(
                ServiceProtocol::error("malformed", "the credentials of this connection cannot be read"));
            (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            ::close(fd);
            continue;
        }
        Peer peer {m_nextId++, credentials.uid, credentials.gid, credentials.pid};
        if (m_connections.size() >= std::size_t(kMaxConnections) || m_perUid[peer.uid] >= kMaxPerUid) {
            Log::warning(who(peer) + ": connection refused: too many connections");
            ::close(fd);
            if (m_perUid[peer.uid] == 0)
                m_perUid.erase(peer.uid);
            continue;
        }
        ++m_perUid[peer.uid];
        auto connection = std::make_unique<Connection>();
        connection->peer = peer;
        connection->fd = fd;
        const std::uint64_t id = peer.connection;
        connection->readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(connection->readable.get(), &QSocketNotifier::activated, this, [this, id] { read(id); });
        connection->writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        connection->writable->setEnabled(false);
        connect(connection->writable.get(), &QSocketNotifier::activated, this, [this, id] { write(id); });
        connection->deadline = std::make_unique<QTimer>();
        connection->deadline->setSingleShot(true);
        connection->deadline->setInterval(kFrameTimeoutMs);
        connect(connection->deadline.get(), &QTimer::timeout, this,
                [this, id] { refuseAndEnd(id, "the frame was not complete within 5 s"); });
        m_connections.emplace(id, std::move(connection));
    }
}

void ControlServer::read(std::uint64_t id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Connection &connection = *it->second;
    char buffer[16384];
    for (int i = 0; i < kReadsPerWakeUp && connection.readable->isEnabled(); ++i) {
        // Never more than one frame's worth: a whole frame is taken out as
        // soon as it is there, so the buffer stays bounded.
        const std::size_t room = ServiceProtocol::kPrefixSize + ServiceProtocol::kMaxPayload
                                 - connection.reader.buffered();
        const ssize_t n = ::recv(connection.fd, buffer, std::min(sizeof buffer, room), 0);
        if (n > 0) {
            connection.reader.feed(buffer, std::size_t(n));
            if (!serve(connection)) {
                refuseAndEnd(id, "not a frame of this protocol");
                return;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // The peer is gone (or its socket broke): whatever it left half
        // sent is dropped.
        end(id);
        return;
    }
}

void ControlServer::write(std::uint64_t id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Connection &connection = *it->second;
    send(connection, {});
    if (connection.output.size() < kMaxBacklog && !connection.readable->isEnabled()) {
        // The client reads again: go on with what it sent meanwhile.
        connection.readable->setEnabled(true);
        if (!serve(connection))
            refuseAndEnd(id, "not a frame of this protocol");
    }
}

bool ControlServer::serve(Connection &connection)
{
    std::string payload;
    while (connection.output.size() < kMaxBacklog) {
        switch (connection.reader.next(&payload)) {
        case ServiceProtocol::FrameReader::Status::Frame:
            connection.deadline->stop();
            send(connection, m_onRequest(connection.peer, payload));
            break;
        case ServiceProtocol::FrameReader::Status::Invalid:
            return false;
        case ServiceProtocol::FrameReader::Status::NeedMore:
            if (connection.reader.buffered() == 0)
                connection.deadline->stop();
            else if (!connection.deadline->isActive())
                connection.deadline->start();
            return true;
        }
    }
    // Replies pile up: read nothing more until the client takes them.
    connection.deadline->stop();
    connection.readable->setEnabled(false);
    return true;
}

void ControlServer::send(Connection &connection, const ServiceProtocol::Message &reply)
{
    if (!reply.verb.empty()) {
        std::string bytes = ServiceProtocol::frame(reply);
        if (bytes.empty())
            bytes = ServiceProtocol::frame(ServiceProtocol::error("failed", "the reply could not be written"));
        connection.output += bytes;
    }
    while (!connection.output.empty()) {
        const ssize_t n = ::send(connection.fd, connection.output.data(), connection.output.size(),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            connection.output.erase(0, std::size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            connection.writable->setEnabled(true);
            return;
        }
        // The peer is gone: its end is seen on the read side.
        connection.output.clear();
        ::shutdown(connection.fd, SHUT_RDWR);
        connection.readable->setEnabled(true);
        break;
    }
    connection.writable->setEnabled(false);
}

void ControlServer::refuseAndEnd(std::uint64_t id, const char *text)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Log::warning(who(it->second->peer) + ": connection closed: " + text);
    // One try: a client that does not read is not waited for.
    send(*it->second, ServiceProtocol::error("malformed", text));
    end(id);
}

void ControlServer::end(std::uint64_t id)
{
    auto node = m_connections.extract(id);
    if (node.empty())
        return;
    Connection &connection = *node.mapped();
    dropLater(connection.readable);
    dropLater(connection.writable);
    dropLater(connection.deadline);
    ::close(connection.fd);
    if (--m_perUid[connection.peer.uid] <= 0)
        m_perUid.erase(connection.peer.uid);
    m_onEnd(connection.peer);
}

} // namespace Varnel::Service
