#include "service/request.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace Varnel::Service {

namespace {

using ServiceProtocol::Message;

Refusal malformed(std::string text)
{
    return {"malformed", {}, std::move(text)};
}

Refusal invalid(std::string_view field, std::string text)
{
    return {"invalid", std::string(field), std::move(text)};
}

// A decimal number without sign, blanks or leading zeros, in [min, max].
std::optional<long> parseNumber(std::string_view text, long min, long max)
{
    if (text.empty() || text.size() > 6 || (text.size() > 1 && text.front() == '0'))
        return std::nullopt;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

// An address a host may have or talk to: not "any", not multicast, not the
// IPv4 broadcast, not an IPv4 address dressed as IPv6 (the firewall and the
// routes would read it as neither).
bool isUnicastHost(const Address &a)
{
    static const std::array<unsigned char, 16> zero {};
    if (a.isV4()) {
        const bool any = a.bytes[0] == 0 && a.bytes[1] == 0 && a.bytes[2] == 0 && a.bytes[3] == 0;
        const bool broadcast = a.bytes[0] == 255 && a.bytes[1] == 255 && a.bytes[2] == 255 && a.bytes[3] == 255;
        return !any && !broadcast && (a.bytes[0] & 0xf0) != 0xe0;
    }
    const bool mapped = std::all_of(a.bytes.begin(), a.bytes.begin() + 10, [](unsigned char b) { return b == 0; })
                        && a.bytes[10] == 0xff && a.bytes[11] == 0xff;
    return a.bytes != zero && a.bytes[0] != 0xff && !mapped;
}

// The fields each verb takes: how many times each may come. Anything else,
// a field missing or one too many, is refused before a value is read.
struct FieldRule
{
    const char *key;
    std::size_t min;
    std::size_t max;
};

const std::map<std::string_view, std::vector<FieldRule>> &fieldRules()
{
    static const std::map<std::string_view, std::vector<FieldRule>> rules = {
        {"status", {}},
        {"open",
         {{"protocol", 1, 1}, {"endpoint", 1, 1}, {"port", 1, 1}, {"transport", 1, 1}, {"killswitch", 1, 1}}},
        // Route counts are checked as values (the reply names the field),
        // the frame's own bound keeps them finite here.
        {"configure",
         {{"device", 1, 1},
          {"address4", 0, 1},
          {"address6", 0, 1},
          {"mtu", 0, 1},
          {"route", 0, ServiceProtocol::kMaxFields},
          {"exclude", 0, ServiceProtocol::kMaxFields},
          {"dns", 0, ServiceProtocol::kMaxFields}}},
        {"close", {{"device", 0, 1}}},
        {"killswitch", {{"state", 1, 1}}},
    };
    return rules;
}

std::optional<Refusal> checkFields(const Message &message)
{
    const auto rules = fieldRules().find(message.verb);
    if (rules == fieldRules().end())
        return malformed("unknown request \"" + message.verb + "\"");
    for (const auto &field : message.fields) {
        const bool known = std::any_of(rules->second.begin(), rules->second.end(),
                                       [&](const FieldRule &rule) { return field.first == rule.key; });
        if (!known)
            return malformed("\"" + field.first + "\" is not a field of " + message.verb);
    }
    for (const FieldRule &rule : rules->second) {
        const std::size_t n = message.count(rule.key);
        if (n < rule.min)
            return malformed(std::string("\"") + rule.key + "\" is missing");
        if (n > rule.max)
            return malformed(std::string("\"") + rule.key + "\" may come only once");
    }
    return std::nullopt;
}

// One word of a fixed choice; the reply names the field otherwise.
template <typename T>
std::variant<T, Refusal> choose(const Message &message, std::string_view key,
                                std::initializer_list<std::pair<std::string_view, T>> choices)
{
    const std::string text = message.value(key);
    for (const auto &choice : choices) {
        if (text == choice.first)
            return choice.second;
    }
    std::string allowed;
    for (const auto &choice : choices)
        allowed += (allowed.empty() ? "" : ", ") + std::string(choice.first);
    return invalid(key, std::string(key) + " must be one of " + allowed);
}

std::variant<Request, Refusal> readOpen(const Message &message)
{
    OpenRequest open;
    const auto protocol = choose<Protocol>(message, "protocol",
                                           {{"openvpn", Protocol::OpenVpn}, {"openconnect", Protocol::OpenConnect}});
    if (const auto *refusal = std::get_if<Refusal>(&protocol))
        return *refusal;
    open.protocol = std::get<Protocol>(protocol);

    const auto endpoint = parseAddress(message.value("endpoint"));
    if (!endpoint || !isUnicastHost(*endpoint))
        return invalid("endpoint", "the endpoint is not the unicast address of a host");
    open.endpoint = *endpoint;

    const auto port = parseNumber(message.value("port"), 1, 65535);
    if (!port)
        return invalid("port", "the port is not a number from 1 to 65535");
    open.port = std::uint16_t(*port);

    const auto transport = choose<Transport>(
        message, "transport", {{"udp", Transport::Udp}, {"tcp", Transport::Tcp}, {"both", Transport::Both}});
    if (const auto *refusal = std::get_if<Refusal>(&transport))
        return *refusal;
    open.transport = std::get<Transport>(transport);

    const auto killSwitch = choose<bool>(message, "killswitch", {{"on", true}, {"off", false}});
    if (const auto *refusal = std::get_if<Refusal>(&killSwitch))
        return *refusal;
    open.killSwitch = std::get<bool>(killSwitch);
    return open;
}

// A route's prefix names a network: no bit set beyond its length, as the
// kernel expects it, so that what is removed later is what was added.
bool isNetwork(const Prefix &prefix)
{
    const int size = prefix.address.isV4() ? 4 : 16;
    for (int bit = prefix.length; bit < size * 8; ++bit) {
        if (prefix.address.bytes[std::size_t(bit / 8)] & (0x80 >> (bit % 8)))
            return false;
    }
    return true;
}

std::variant<Request, Refusal> readConfigure(const Message &message)
{
    TunnelSettings settings;
    settings.device = message.value("device");
    if (!isServiceDeviceName(settings.device))
        return invalid("device", "not a device of this service");

    // The interface's own address: a host address with a prefix of at least one bit.
    const auto address = [&](std::string_view key, int family) -> std::variant<std::optional<Prefix>, Refusal> {
        if (!message.has(key))
            return std::optional<Prefix>();
        const auto prefix = parsePrefix(message.value(key));
        if (!prefix || prefix->address.family != family || prefix->length == 0 || !isUnicastHost(prefix->address))
            return invalid(key, std::string(key) + " is not an address with its prefix length");
        return prefix;
    };
    const auto address4 = address("address4", AF_INET);
    if (const auto *refusal = std::get_if<Refusal>(&address4))
        return *refusal;
    settings.address4 = std::get<std::optional<Prefix>>(address4);
    const auto address6 = address("address6", AF_INET6);
    if (const auto *refusal = std::get_if<Refusal>(&address6))
        return *refusal;
    settings.address6 = std::get<std::optional<Prefix>>(address6);

    if (message.has("mtu")) {
        const auto mtu = parseNumber(message.value("mtu"), kMinMtu, kMaxMtu);
        if (!mtu)
            return invalid("mtu", "the MTU is not a number from " + std::to_string(kMinMtu) + " to "
                                      + std::to_string(kMaxMtu));
        settings.mtu = int(*mtu);
    }

    if (message.count("route") + message.count("exclude") > kMaxRoutes)
        return invalid("route", "more than " + std::to_string(kMaxRoutes) + " routes");
    for (const auto &[key, list] : {std::pair<std::string_view, std::vector<Prefix> *>("route", &settings.routes),
                                    {"exclude", &settings.excludes}}) {
        for (const std::string &text : message.values(key)) {
            const auto prefix = parsePrefix(text);
            if (!prefix || !isNetwork(*prefix))
                return invalid(key, "a" + std::string(key == "route" ? " route" : "n exclude")
                                        + " is not a network address with its prefix length");
            list->push_back(*prefix);
        }
    }

    if (message.count("dns") > kMaxDns)
        return invalid("dns", "more than " + std::to_string(kMaxDns) + " DNS servers");
    for (const std::string &text : message.values("dns")) {
        const auto server = parseAddress(text);
        if (!server || !isUnicastHost(*server))
            return invalid("dns", "a DNS server is not the unicast address of a host");
        settings.dns.push_back(*server);
    }
    return settings;
}

} // namespace

bool Address::isV4() const
{
    return family == AF_INET;
}

bool Address::isV6() const
{
    return family == AF_INET6;
}

std::string Address::text() const
{
    char out[INET6_ADDRSTRLEN] = {};
    if ((family != AF_INET && family != AF_INET6) || !inet_ntop(family, bytes.data(), out, sizeof out))
        return {};
    return out;
}

std::string Prefix::text() const
{
    return address.text() + "/" + std::to_string(length);
}

ServiceProtocol::Message Refusal::reply() const
{
    ServiceProtocol::Message message = ServiceProtocol::error(code, text);
    if (!field.empty())
        message.add("field", field);
    return message;
}

std::optional<Address> parseAddress(std::string_view text)
{
    // inet_pton wants a terminated string, and the shortest form it prints
    // must be the text itself: no leading zeros, no upper case, no second
    // spelling of one address.
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return std::nullopt;
    const std::string copy(text);
    Address address;
    address.family = copy.find(':') == std::string::npos ? AF_INET : AF_INET6;
    if (inet_pton(address.family, copy.c_str(), address.bytes.data()) != 1 || address.text() != text)
        return std::nullopt;
    return address;
}

std::optional<Prefix> parsePrefix(std::string_view text)
{
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    const auto address = parseAddress(text.substr(0, slash));
    if (!address)
        return std::nullopt;
    const auto length = parseNumber(text.substr(slash + 1), 0, address->isV4() ? 32 : 128);
    if (!length)
        return std::nullopt;
    return Prefix {*address, int(*length)};
}

bool isServiceDeviceName(std::string_view name)
{
    constexpr std::string_view stem = "vvpn";
    if (name.size() <= stem.size() || name.substr(0, stem.size()) != stem)
        return false;
    return parseNumber(name.substr(stem.size()), 0, kMaxDevices - 1).has_value();
}

std::string serviceDeviceName(int index)
{
    return "vvpn" + std::to_string(index);
}

std::variant<Request, Refusal> readRequest(std::string_view payload)
{
    Message message;
    switch (ServiceProtocol::parse(payload, &message)) {
    case ServiceProtocol::ParseError::None:
        break;
    case ServiceProtocol::ParseError::Version:
        return Refusal {"version", {}, "this service speaks version " + std::to_string(ServiceProtocol::kVersion)};
    case ServiceProtocol::ParseError::Malformed:
        return malformed("not a message of this protocol");
    }
    if (const auto refusal = checkFields(message))
        return *refusal;

    if (message.verb == "status")
        return StatusRequest {};
    if (message.verb == "open")
        return readOpen(message);
    if (message.verb == "configure")
        return readConfigure(message);
    if (message.verb == "close") {
        CloseRequest close;
        if (message.has("device")) {
            close.device = message.value("device");
            if (!isServiceDeviceName(close.device))
                return invalid("device", "not a device of this service");
        }
        return close;
    }
    const auto state = choose<bool>(message, "state", {{"on", true}, {"off", false}});
    if (const auto *refusal = std::get_if<Refusal>(&state))
        return *refusal;
    return KillSwitchRequest {std::get<bool>(state)};
}

} // namespace Varnel::Service
