#pragma once

// What a client may ask of the service, read and checked in one place:
// every field is parsed into a typed value here, and what does not parse,
// is out of range or is not expected is refused before anything acts on it.

#include "common/serviceprotocol.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace Varnel::Service {

// An IPv4 or IPv6 address in network byte order.
struct Address
{
    int family = 0; // AF_INET or AF_INET6
    std::array<unsigned char, 16> bytes {};

    bool isV4() const;
    bool isV6() const;
    std::string text() const;
    bool operator==(const Address &other) const { return family == other.family && bytes == other.bytes; }
    bool operator!=(const Address &other) const { return !(*this == other); }
};

// An address with a prefix length (0..32 or 0..128).
struct Prefix
{
    Address address;
    int length = 0;

    std::string text() const;
    // True for 0.0.0.0/0 and ::/0: everything into the tunnel.
    bool isDefault() const { return length == 0; }
};

enum class Protocol { OpenVpn, OpenConnect };
enum class Transport { Udp, Tcp, Both };

struct StatusRequest
{
};

struct OpenRequest
{
    Protocol protocol = Protocol::OpenVpn;
    Address endpoint;
    std::uint16_t port = 0;
    Transport transport = Transport::Both;
    bool killSwitch = false;
};

// What the VPN server pushed for a device ("configure").
struct TunnelSettings
{
    std::string device;
    std::optional<Prefix> address4;
    std::optional<Prefix> address6;
    int mtu = 0; // 0: left as it is
    std::vector<Prefix> routes;
    std::vector<Prefix> excludes;
    std::vector<Address> dns;
};

struct CloseRequest
{
    std::string device; // empty: the tunnel this connection opened
};

struct KillSwitchRequest
{
    bool on = false;
};

using Request = std::variant<StatusRequest, OpenRequest, TunnelSettings, CloseRequest, KillSwitchRequest>;

// Why a request is refused: the reply's code (service/README.md), the field
// at fault when there is one, and a text for people.
struct Refusal
{
    std::string code;
    std::string field;
    std::string text;

    ServiceProtocol::Message reply() const;
};

inline constexpr std::size_t kMaxRoutes = 1000; // routes and excludes together
inline constexpr std::size_t kMaxDns = 8;
inline constexpr int kMinMtu = 576;
inline constexpr int kMaxMtu = 9000;

// Reads one payload (the frame without its length prefix).
std::variant<Request, Refusal> readRequest(std::string_view payload);

// Strict readers: the whole text must be the value, nothing before or after.
std::optional<Address> parseAddress(std::string_view text);
std::optional<Prefix> parsePrefix(std::string_view text);

// Device names the service gives ("vvpn0" ... "vvpn99"); nothing else is
// ever accepted as a device.
bool isServiceDeviceName(std::string_view name);
std::string serviceDeviceName(int index);
inline constexpr int kMaxDevices = 100;

} // namespace Varnel::Service
