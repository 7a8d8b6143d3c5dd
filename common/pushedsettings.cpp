#include "common/pushedsettings.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>

namespace Varnel::PushedSettings {

using ServiceProtocol::Message;

int prefixLength(const std::string &netmask)
{
    in_addr mask {};
    if (inet_pton(AF_INET, netmask.c_str(), &mask) != 1)
        return -1;
    const std::uint32_t bits = ntohl(mask.s_addr);
    int length = 0;
    while (length < 32 && (bits & (0x80000000u >> length)))
        ++length;
    return (length == 32 || (bits << length) == 0) ? length : -1;
}

void addPrefix(Message &message, const char *key, const std::string &address, int length)
{
    if (!address.empty() && length >= 0)
        message.add(key, address + "/" + std::to_string(length));
}

void addRoute(Message &message, const char *key, const std::string &address, int length)
{
    unsigned char bytes[16] {};
    const int family = address.find(':') == std::string::npos ? AF_INET : AF_INET6;
    const int bits = family == AF_INET ? 32 : 128;
    char text[INET6_ADDRSTRLEN] {};
    if (length < 0 || length > bits || inet_pton(family, address.c_str(), bytes) != 1) {
        addPrefix(message, key, address, length);
        return;
    }
    for (int bit = length; bit < bits; ++bit)
        bytes[bit / 8] &= static_cast<unsigned char>(~(0x80u >> (bit % 8)));
    inet_ntop(family, bytes, text, sizeof text);
    addPrefix(message, key, text, length);
}

void addRouteText(Message &message, const char *key, const std::string &route)
{
    const std::size_t slash = route.find('/');
    const std::string address = route.substr(0, slash);
    const bool six = address.find(':') != std::string::npos;
    if (slash == std::string::npos) {
        addRoute(message, key, address, six ? 128 : 32);
        return;
    }
    const std::string mask = route.substr(slash + 1);
    char *end = nullptr;
    const long length = std::strtol(mask.c_str(), &end, 10);
    if (!mask.empty() && end && *end == '\0')
        addRoute(message, key, address, int(length));
    else if (!six)
        addRoute(message, key, address, prefixLength(mask));
}

} // namespace Varnel::PushedSettings
