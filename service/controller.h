#pragma once

// What each request does and who may ask it: the one tunnel of the machine
// (its device, what its server pushed, its end) and the kill switch. The
// peer is the one the control socket identified; nothing in a request says
// who asks.

#include "service/access.h"
#include "service/controlserver.h"
#include "service/killswitch.h"
#include "service/network/tunnelnetwork.h"
#include "service/request.h"

#include <QObject>

#include <memory>
#include <optional>
#include <string>

namespace Varnel::Service {

class Controller : public QObject
{
    Q_OBJECT
public:
    Controller(std::string dataDir, const Access &access, KillSwitch &killSwitch, QObject *parent = nullptr);

    // The server that carries the requests; a tunnel that breaks ends its
    // opening connection through it.
    void setServer(ControlServer *server) { m_server = server; }

    ServiceProtocol::Message handle(const Peer &peer, const std::string &payload);
    // A connection ended: when it opened the tunnel, the tunnel ends too.
    void connectionEnded(const Peer &peer);
    // The service stops: the tunnel ends, a held block stays.
    void stop();

private:
    struct Tunnel
    {
        std::uint64_t serial = 0;
        uid_t owner = 0;
        std::uint64_t connection = 0;
        std::string device;
        Protocol protocol = Protocol::OpenVpn;
        Endpoint endpoint;
        // The owner's kill switch: on, the block holds for the owner when
        // the tunnel ends, whatever way it ends.
        bool killSwitch = false;
        // What the server pushed is applied; why not, when it failed.
        bool configured = false;
        std::string problem;
        std::unique_ptr<TunnelNetwork> network;
    };

    using Message = ServiceProtocol::Message;
    Message status(const Peer &peer) const;
    Message open(const Peer &peer, const OpenRequest &request);
    Message configure(const Peer &peer, const TunnelSettings &settings);
    Message close(const Peer &peer, const CloseRequest &request);
    Message killSwitch(const Peer &peer, const KillSwitchRequest &request);
    // Refusal for a peer that may not touch the tunnel (nothing when it may).
    std::optional<Refusal> mayChange(const Peer &peer, const std::string &device) const;
    void endTunnel(const std::string &why);

    std::string m_dataDir;
    const Access &m_access;
    KillSwitch &m_killSwitch;
    ControlServer *m_server = nullptr;
    std::optional<Tunnel> m_tunnel;
    std::uint64_t m_lastSerial = 0;
};

} // namespace Varnel::Service
