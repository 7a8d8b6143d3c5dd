#pragma once

// The few rtnetlink requests the service makes (link state, addresses,
// routes, a dump of the main table), straight over a NETLINK_ROUTE socket:
// no `ip` program, no shell, nothing parsed from another program's output.

#include "service/request.h"

#include <optional>
#include <string>
#include <vector>

struct nlmsghdr;

namespace Varnel::Service::Rtnl {

// The protocol number our routes carry ("proto 118" in `ip route`). It tells
// them from everyone else's, and every delete names it, so a delete can never
// take away a route that someone else made for the same destination.
inline constexpr unsigned char kRouteProtocol = 118;

// One route in the main table: into a device (no gateway) or through a
// gateway. gateway.family is 0 when there is none.
struct Route
{
    Prefix dst;
    Address gateway;
    int oif = 0;

    bool operator==(const Route &o) const
    {
        return dst.address == o.dst.address && dst.length == o.dst.length && gateway == o.gateway && oif == o.oif;
    }
};

// A route as a dump of the main table shows it.
struct TableRoute
{
    Route route;
    int type = 0;     // RTN_*
    int metric = 0;
    int protocol = 0;
    bool usable = true; // a unicast route with a live next hop we can name
};

class Socket
{
public:
    // groups: RTMGRP_* to listen to (a watching socket); 0 for requests.
    explicit Socket(unsigned groups = 0);
    ~Socket();
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    // Each returns 0 or -errno; error() then holds the kernel's words.
    int linkState(int ifindex, bool *up, int *mtu);
    int setLink(int ifindex, bool up, int mtu /* 0: unchanged */);
    int address(bool add, int ifindex, const Prefix &prefix);
    int route(bool add, const Route &route);
    int mainTable(int family, std::vector<TableRoute> *routes);

    const std::string &error() const { return m_error; }

private:
    int transact(nlmsghdr *request);

    int m_fd = -1;
    unsigned m_seq = 0;
    std::string m_error;
};

// The way target would take through the main table: the longest prefix that
// covers it, then the lowest metric, leaving out our own routes and routes
// into skipOif (the tunnel). None when no route covers it or the best one
// leads nowhere (unreachable, blackhole, a link without carrier).
std::optional<Route> wayTo(const std::vector<TableRoute> &table, const Prefix &target, int skipOif);

// Helpers on the request types that need no parser.
bool covers(const Prefix &outer, const Prefix &inner);
Prefix masked(const Prefix &prefix); // host bits cleared
std::string text(const Address &address);
std::string text(const Prefix &prefix);
std::optional<Address> address(const std::string &text);
std::optional<Prefix> prefix(const std::string &text);
inline int maxLength(int family) { return family == 10 /* AF_INET6 */ ? 128 : 32; }

} // namespace Varnel::Service::Rtnl
