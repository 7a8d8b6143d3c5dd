#include "service/controller.h"

#include "service/log.h"
#include "service/tundevice.h"

namespace Varnel::Service {

namespace {

using ServiceProtocol::Message;

constexpr const char *kOtherUsersTunnel = "another user's VPN connection is active";

template <class... Ts>
struct Overloaded : Ts...
{
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

std::string who(const Peer &peer)
{
    return "uid " + std::to_string(peer.uid) + " pid " + std::to_string(peer.pid);
}

// A text from the system (nftables, netlink) as a reply may carry it: one
// line of printable ASCII within the protocol's bound.
std::string replyText(const std::string &text)
{
    std::string out;
    for (char c : text) {
        const char printable = (c >= 0x20 && c <= 0x7e) ? c : ' ';
        if (printable != ' ' || (!out.empty() && out.back() != ' '))
            out += printable;
        if (out.size() >= 400)
            break;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out.empty() ? std::string("no reason given") : out;
}

Message refuse(std::string code, std::string text, std::string field = {})
{
    return Refusal {std::move(code), std::move(field), replyText(text)}.reply();
}

const char *protocolName(Protocol protocol)
{
    return protocol == Protocol::OpenVpn ? "openvpn" : "openconnect";
}

const char *transportName(Transport transport)
{
    return transport == Transport::Udp ? "udp" : transport == Transport::Tcp ? "tcp" : "both";
}

const char *verbOf(const Request &request)
{
    return std::visit(Overloaded {[](const StatusRequest &) { return "status"; },
                                  [](const OpenRequest &) { return "open"; },
                                  [](const TunnelSettings &) { return "configure"; },
                                  [](const CloseRequest &) { return "close"; },
                                  [](const KillSwitchRequest &) { return "killswitch"; }},
                      request);
}

} // namespace

Controller::Controller(std::string dataDir, const Access &access, KillSwitch &killSwitch, QObject *parent)
    : QObject(parent), m_dataDir(std::move(dataDir)), m_access(access), m_killSwitch(killSwitch)
{
}

Message Controller::handle(const Peer &peer, const std::string &payload)
{
    const auto parsed = readRequest(payload);
    const char *verb = "request";
    Message reply;
    if (const auto *refusal = std::get_if<Refusal>(&parsed)) {
        reply = refusal->reply();
    } else {
        const Request &request = std::get<Request>(parsed);
        verb = verbOf(request);
        reply = std::visit(Overloaded {[&](const StatusRequest &) { return status(peer); },
                                       [&](const OpenRequest &r) { return open(peer, r); },
                                       [&](const TunnelSettings &r) { return configure(peer, r); },
                                       [&](const CloseRequest &r) { return close(peer, r); },
                                       [&](const KillSwitchRequest &r) { return killSwitch(peer, r); }},
                           request);
    }
    std::string line = who(peer) + ": " + verb + ": ";
    if (reply.verb == "ok") {
        line += "ok";
    } else {
        line += "refused " + reply.value("code");
        if (reply.has("field"))
            line += " (" + reply.value("field") + ")";
        line += ": " + reply.value("message");
    }
    Log::info(line);
    return reply;
}

void Controller::connectionEnded(const Peer &peer)
{
    if (m_tunnel && m_tunnel->connection == peer.connection)
        endTunnel("the connection that opened it ended (" + who(peer) + ")");
}

void Controller::stop()
{
    if (m_tunnel)
        endTunnel("the service stops");
}

Message Controller::status(const Peer &peer) const
{
    Message reply = ServiceProtocol::ok();
    reply.add("tunnel", m_tunnel ? "up" : "none");
    if (m_tunnel) {
        reply.add("device", m_tunnel->device);
        reply.add("owner", std::to_string(m_tunnel->owner));
        reply.add("protocol", protocolName(m_tunnel->protocol));
        const bool yours = m_tunnel->owner == peer.uid;
        reply.add("yours", yours ? "yes" : "no");
        // Whether the tunnel script's settings took: for the tunnel's owner.
        if (yours || peer.uid == 0) {
            reply.add("configured", m_tunnel->configured ? "yes" : "no");
            if (!m_tunnel->problem.empty())
                reply.add("problem", replyText(m_tunnel->problem));
        }
    }
    reply.add("block", m_killSwitch.inPlace() ? "on" : "off");
    return reply;
}

Message Controller::open(const Peer &peer, const OpenRequest &request)
{
    if (!m_access.mayOpen(peer.uid))
        return refuse("denied", "VPN connections are for the members of the group " + m_access.allowedGroup());
    if (m_tunnel) {
        return refuse("busy", m_tunnel->owner == peer.uid ? "a VPN connection is already active"
                                                          : kOtherUsersTunnel);
    }
    const std::string device = TunDevice::freeName();
    std::string error;
    if (device.empty())
        return refuse("failed", "no tunnel device name is free");
    if (!TunDevice::make(device, peer.uid, &error))
        return refuse("failed", "the tunnel device could not be made: " + error);

    Tunnel tunnel;
    tunnel.serial = ++m_lastSerial;
    tunnel.owner = peer.uid;
    tunnel.connection = peer.connection;
    tunnel.device = device;
    tunnel.protocol = request.protocol;
    tunnel.endpoint = Endpoint {request.endpoint, request.port, request.transport};
    tunnel.killSwitch = request.killSwitch;
    tunnel.network = std::make_unique<TunnelNetwork>(m_dataDir);
    // Queued: the tunnel is not ended from inside one of its own calls.
    const std::uint64_t serial = tunnel.serial;
    connect(tunnel.network.get(), &TunnelNetwork::broken, this,
            [this, serial](const QString &reason) {
                if (!m_tunnel || m_tunnel->serial != serial)
                    return;
                const std::uint64_t connection = m_tunnel->connection;
                endTunnel("it broke: " + reason.toStdString());
                if (m_server)
                    m_server->disconnect(connection, replyText(reason.toStdString()));
            },
            Qt::QueuedConnection);
    m_tunnel = std::move(tunnel);
    Log::info("tunnel " + device + " opened for " + who(peer) + ": " + protocolName(request.protocol) + " to "
              + request.endpoint.text() + " port " + std::to_string(request.port) + " "
              + transportName(request.transport) + ", kill switch " + (request.killSwitch ? "on" : "off"));

    // The attempt passes the block (when there is one) from now on; the
    // caller's own kill switch holds the block, or no longer does. Another
    // user's hold is never touched.
    m_killSwitch.setTunnel(device, m_tunnel->endpoint);
    const KillSwitch::Outcome outcome =
        request.killSwitch ? m_killSwitch.hold(peer.uid) : m_killSwitch.release(peer.uid);
    if (!outcome.ok())
        Log::error("tunnel " + device + ": the kill switch could not follow: " + outcome.text);

    Message reply = ServiceProtocol::ok();
    reply.add("device", device);
    reply.add("block", m_killSwitch.inPlace() ? "on" : "off");
    return reply;
}

std::optional<Refusal> Controller::mayChange(const Peer &peer, const std::string &device) const
{
    if (!m_tunnel)
        return Refusal {"no-tunnel", {}, "no VPN connection is active"};
    if (peer.uid != 0 && peer.uid != m_tunnel->owner)
        return Refusal {"denied", {}, kOtherUsersTunnel};
    if (device != m_tunnel->device)
        return Refusal {"invalid", "device", "not the device of the active VPN connection"};
    return std::nullopt;
}

Message Controller::configure(const Peer &peer, const TunnelSettings &settings)
{
    if (const auto refusal = mayChange(peer, settings.device))
        return refusal->reply();
    std::string error;
    if (!m_tunnel->network->apply(m_tunnel->endpoint, settings, &error)) {
        Log::error("tunnel " + settings.device + ": the server's settings could not be applied: " + error);
        m_tunnel->configured = false;
        m_tunnel->problem = "the server's settings could not be applied: " + error;
        return refuse("failed", error);
    }
    m_tunnel->configured = true;
    m_tunnel->problem.clear();
    Log::info("tunnel " + settings.device + " configured by " + who(peer) + ": "
              + std::to_string(settings.routes.size()) + " routes, " + std::to_string(settings.excludes.size())
              + " excluded, " + std::to_string(settings.dns.size()) + " DNS servers");
    return ServiceProtocol::ok();
}

Message Controller::close(const Peer &peer, const CloseRequest &request)
{
    // Without a name only the connection that opened the tunnel means it.
    std::string device = request.device;
    if (device.empty() && m_tunnel && m_tunnel->connection == peer.connection)
        device = m_tunnel->device;
    if (const auto refusal = mayChange(peer, device))
        return refusal->reply();
    // Answered first, taken down right after: the client does not wait for
    // the kernel to remove the device (tens of milliseconds), and the next
    // request is read only after the teardown, so a new open finds no tunnel.
    const std::uint64_t serial = m_tunnel->serial;
    const std::string why = "closed by " + who(peer);
    QMetaObject::invokeMethod(
        this,
        [this, serial, why] {
            if (m_tunnel && m_tunnel->serial == serial)
                endTunnel(why);
        },
        Qt::QueuedConnection);
    return ServiceProtocol::ok();
}

Message Controller::killSwitch(const Peer &peer, const KillSwitchRequest &request)
{
    KillSwitch::Outcome outcome;
    if (request.on) {
        outcome = m_killSwitch.hold(peer.uid);
    } else {
        outcome = peer.uid == 0 ? m_killSwitch.releaseAll() : m_killSwitch.release(peer.uid);
    }
    if (m_tunnel && (m_tunnel->owner == peer.uid || (peer.uid == 0 && !request.on)))
        m_tunnel->killSwitch = request.on;
    if (!outcome.ok())
        return refuse(outcome.code, outcome.text);
    Message reply = ServiceProtocol::ok();
    reply.add("block", m_killSwitch.inPlace() ? "on" : "off");
    return reply;
}

void Controller::endTunnel(const std::string &why)
{
    Tunnel tunnel = std::move(*m_tunnel);
    m_tunnel.reset();
    // Fail closed: the block is in place before the tunnel's routes go, so
    // that nothing takes the physical link meanwhile.
    if (tunnel.killSwitch) {
        const KillSwitch::Outcome outcome = m_killSwitch.hold(tunnel.owner);
        if (!outcome.ok())
            Log::error("tunnel " + tunnel.device + ": the block could not be held: " + outcome.text);
    }
    m_killSwitch.clearTunnel();
    tunnel.network->remove();
    tunnel.network.reset();
    std::string error;
    if (!TunDevice::remove(tunnel.device, &error))
        Log::error("tunnel " + tunnel.device + ": the device could not be removed: " + error);
    Log::info("tunnel " + tunnel.device + " of uid " + std::to_string(tunnel.owner) + " ended: " + why
              + (tunnel.killSwitch ? "; the block holds" : ""));
}

} // namespace Varnel::Service
