#pragma once

// The control socket: a Unix stream socket where every connection is one
// peer, known by its kernel-given credentials (SO_PEERCRED) and by nothing
// it says. It cuts the byte stream into bounded frames, hands each to the
// request handler and sends the one reply back, in order.
//
// Limits, so that no client can starve another: 64 connections at once, 16
// per uid; a frame must be whole 5 s after its first byte; a client that
// does not read its replies is not read from either.

#include "common/serviceprotocol.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace Varnel::Service {

struct Peer
{
    std::uint64_t connection = 0; // unique for the service's life
    uid_t uid = 0;
    gid_t gid = 0;
    pid_t pid = 0;
};

class ControlServer : public QObject
{
    Q_OBJECT
public:
    using RequestHandler = std::function<ServiceProtocol::Message(const Peer &, const std::string &payload)>;
    using EndHandler = std::function<void(const Peer &)>;

    static constexpr int kMaxConnections = 64;
    static constexpr int kMaxPerUid = 16;
    static constexpr int kFrameTimeoutMs = 5000;

    ControlServer(RequestHandler onRequest, EndHandler onEnd, QObject *parent = nullptr);
    ~ControlServer() override; // closes every connection, removes the socket

    // Makes the socket's folder (0755) when it is missing, and the socket
    // (0666). A folder that others may write is refused, and so is a
    // socket another service still listens on.
    bool listen(const std::string &path, std::string *error);

    // Ends a connection as if its peer had closed it (onEnd follows, from
    // the event loop).
    // Ends a connection, with a last message ("ended") for the peer when
    // one is given.
    void disconnect(std::uint64_t connection, const std::string &lastWord = {});

private:
    struct Connection
    {
        Peer peer;
        int fd = -1;
        ServiceProtocol::FrameReader reader;
        std::string output;
        std::unique_ptr<QSocketNotifier> readable;
        std::unique_ptr<QSocketNotifier> writable;
        std::unique_ptr<QTimer> deadline;
    };

    void accept();
    void read(std::uint64_t id);
    void write(std::uint64_t id);
    // Answers frames until none is whole; false when the stream cannot go on.
    bool serve(Connection &connection);
    void send(Connection &connection, const ServiceProtocol::Message &reply);
    void refuseAndEnd(std::uint64_t id, const char *text);
    void end(std::uint64_t id);

    RequestHandler m_onRequest;
    EndHandler m_onEnd;
    std::string m_path;
    int m_listener = -1;
    std::unique_ptr<QSocketNotifier> m_incoming;
    std::map<std::uint64_t, std::unique_ptr<Connection>> m_connections;
    std::map<uid_t, int> m_perUid;
    std::uint64_t m_nextId = 1;
};

} // namespace Varnel::Service
