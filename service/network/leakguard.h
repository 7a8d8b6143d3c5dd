#pragma once

// The leak guards of a configured tunnel, all in one nftables table of our
// own ("inet varnelvpn_tunnel"): no IPv6 outside a tunnel that carries none,
// no DNS outside a tunnel that pushed DNS servers. Loaded through
// libnftables (no program started); no other table is ever named.

#include "service/request.h"

#include <string>

namespace Varnel::Service {

struct Endpoint;

inline constexpr const char *kGuardTable = "varnelvpn_tunnel";

struct GuardSettings
{
    std::string device;
    const Endpoint *endpoint = nullptr;
    bool blockIpv6 = false; // the tunnel carries no IPv6
    bool blockDns = false;  // DNS servers were pushed
};

class LeakGuard
{
public:
    // Puts the table in place, or replaces it in one transaction: there is no
    // moment without it during a reconnect.
    bool apply(const GuardSettings &settings, std::string *error);
    // Deletes the table, whether it is there or not.
    bool remove(std::string *error = nullptr);

    // The ruleset apply() loads (for the log and the tests' messages).
    static std::string ruleset(const GuardSettings &settings);

private:
    bool run(const std::string &commands, std::string *error);
};

} // namespace Varnel::Service
