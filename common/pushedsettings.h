#pragma once

#include "common/serviceprotocol.h"

#include <string>

// What a VPN server pushed, written into the service's "configure" request:
// the parts that OpenVPN's variables and the OpenConnect library's records
// share. Plain C++: the tunnel script uses it too.
namespace Varnel::PushedSettings {

// "255.255.255.0" -> 24; -1 when it is not a contiguous netmask.
int prefixLength(const std::string &netmask);

// Adds "key address/length"; nothing when there is no address or length.
void addPrefix(ServiceProtocol::Message &message, const char *key, const std::string &address, int length);

// Adds a route to the network: the bits past its length cleared (servers
// push "10.8.0.1/24"). Left as it is when it is not an address.
void addRoute(ServiceProtocol::Message &message, const char *key, const std::string &address, int length);

// A route as the OpenConnect library gives it: "10.1.0.0/255.255.0.0",
// "10.1.0.0/16", "10.1.2.3" (one host) or "fd00::/64".
void addRouteText(ServiceProtocol::Message &message, const char *key, const std::string &route);

} // namespace Varnel::PushedSettings
