#include "service/network/rtnetlink.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace Varnel::Service::Rtnl {

namespace {

// One request: header, family header and attributes in one aligned buffer.
struct Message
{
    alignas(NLMSG_ALIGNTO) char buffer[512] {};

    explicit Message(int type, int flags, std::size_t bodySize)
    {
        header()->nlmsg_len = NLMSG_LENGTH(bodySize);
        header()->nlmsg_type = type;
        header()->nlmsg_flags = NLM_F_REQUEST | flags;
    }
    nlmsghdr *header() { return reinterpret_cast<nlmsghdr *>(buffer); }
    template <typename T> T *body() { return static_cast<T *>(NLMSG_DATA(header())); }

    void attribute(unsigned short type, const void *data, std::size_t size)
    {
        auto *attr = reinterpret_cast<rtattr *>(buffer + NLMSG_ALIGN(header()->nlmsg_len));
        attr->rta_type = type;
        attr->rta_len = RTA_LENGTH(size);
        std::memcpy(RTA_DATA(attr), data, size);
        header()->nlmsg_len = NLMSG_ALIGN(header()->nlmsg_len) + RTA_ALIGN(attr->rta_len);
    }
    void attribute(unsigned short type, std::uint32_t value) { attribute(type, &value, sizeof value); }
    void attribute(unsigned short type, const Address &a) { attribute(type, a.bytes.data(), addressSize(a)); }

    static std::size_t addressSize(const Address &a) { return a.family == AF_INET6 ? 16 : 4; }
};

// The attributes of a reply, by type (the last one of each type wins).
template <std::size_t N>
void readAttributes(const rtattr *attr, int length, const rtattr *(&found)[N])
{
    for (auto &f : found)
        f = nullptr;
    for (; RTA_OK(attr, length); attr = RTA_NEXT(attr, length)) {
        if (attr->rta_type < N)
            found[attr->rta_type] = attr;
    }
}

Address addressOf(int family, const rtattr *attr)
{
    Address a;
    const std::size_t size = family == AF_INET6 ? 16 : 4;
    if (attr && RTA_PAYLOAD(attr) >= size) {
        a.family = family;
        std::memcpy(a.bytes.data(), RTA_DATA(attr), size);
    }
    return a;
}

std::uint32_t u32Of(const rtattr *attr)
{
    std::uint32_t v = 0;
    if (attr && RTA_PAYLOAD(attr) >= sizeof v)
        std::memcpy(&v, RTA_DATA(attr), sizeof v);
    return v;
}

} // namespace

Socket::Socket(unsigned groups)
{
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | (groups ? SOCK_NONBLOCK : 0), NETLINK_ROUTE);
    if (m_fd < 0)
        return;
    sockaddr_nl local {};
    local.nl_family = AF_NETLINK;
    local.nl_groups = groups;
    const int on = 1;
    // The kernel's own words for a refusal, without our request echoed back.
    ::setsockopt(m_fd, SOL_NETLINK, NETLINK_EXT_ACK, &on, sizeof on);
    ::setsockopt(m_fd, SOL_NETLINK, NETLINK_CAP_ACK, &on, sizeof on);
    // A request is answered at once; this only bounds a kernel that does not.
    const timeval wait {2, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

Socket::~Socket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

// Sends one request and reads until its acknowledgement or the end of its
// dump; every reply message of ours goes to onReply.
static int exchange(int fd, unsigned seq, nlmsghdr *request, std::string *error,
                    const std::function<void(const nlmsghdr *)> &onReply)
{
    error->clear();
    if (fd < 0)
        return -EBADF;
    request->nlmsg_seq = seq;
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, request, request->nlmsg_len, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0)
        return -errno;
    alignas(NLMSG_ALIGNTO) static thread_local char buffer[65536];
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -errno;
        }
        int length = int(got);
        for (auto *h = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(h, length); h = NLMSG_NEXT(h, length)) {
            if (h->nlmsg_seq != seq)
                continue;
            if (h->nlmsg_type == NLMSG_DONE)
                return 0;
            if (h->nlmsg_type != NLMSG_ERROR) {
                onReply(h);
                continue;
            }
            const auto *e = static_cast<const nlmsgerr *>(NLMSG_DATA(h));
            if (e->error != 0 && (h->nlmsg_flags & NLM_F_ACK_TLVS)) {
                const int offset = sizeof(nlmsgerr) + ((h->nlmsg_flags & NLM_F_CAPPED) ? 0 : e->msg.nlmsg_len - NLMSG_HDRLEN);
                const rtattr *found[NLMSGERR_ATTR_MAX + 1];
                readAttributes(reinterpret_cast<const rtattr *>(reinterpret_cast<const char *>(e) + offset),
                               int(h->nlmsg_len) - NLMSG_HDRLEN - offset, found);
                if (const rtattr *m = found[NLMSGERR_ATTR_MSG])
                    error->assign(static_cast<const char *>(RTA_DATA(m)), strnlen(static_cast<const char *>(RTA_DATA(m)), RTA_PAYLOAD(m)));
            }
            if (e->error != 0 && error->empty())
                *error = std::strerror(-e->error);
            return e->error;
        }
    }
}

int Socket::transact(nlmsghdr *request)
{
    request->nlmsg_flags |= NLM_F_ACK;
    return exchange(m_fd, ++m_seq, request, &m_error, [](const nlmsghdr *) {});
}

int Socket::linkState(int ifindex, bool *up, int *mtu)
{
    Message m(RTM_GETLINK, NLM_F_ACK, sizeof(ifinfomsg));
    m.body<ifinfomsg>()->ifi_index = ifindex;
    bool seen = false;
    const int rc = exchange(m_fd, ++m_seq, m.header(), &m_error, [&](const nlmsghdr *h) {
        if (h->nlmsg_type != RTM_NEWLINK)
            return;
        const auto *info = static_cast<const ifinfomsg *>(NLMSG_DATA(h));
        const rtattr *found[IFLA_MTU + 1];
        readAttributes(IFLA_RTA(info), int(IFLA_PAYLOAD(h)), found);
        *up = info->ifi_flags & IFF_UP;
        *mtu = int(u32Of(found[IFLA_MTU]));
        seen = true;
    });
    return rc == 0 && !seen ? -ENODEV : rc;
}

int Socket::setLink(int ifindex, bool up, int mtu)
{
    Message m(RTM_NEWLINK, 0, sizeof(ifinfomsg));
    auto *info = m.body<ifinfomsg>();
    info->ifi_index = ifindex;
    info->ifi_flags = up ? IFF_UP : 0;
    info->ifi_change = IFF_UP;
    if (mtu > 0)
        m.attribute(IFLA_MTU, std::uint32_t(mtu));
    return transact(m.header());
}

int Socket::address(bool add, int ifindex, const Prefix &prefix)
{
    // Replace: applying the same address again (a reconnect) is no error.
    Message m(add ? RTM_NEWADDR : RTM_DELADDR, add ? NLM_F_CREATE | NLM_F_REPLACE : 0, sizeof(ifaddrmsg));
    auto *a = m.body<ifaddrmsg>();
    a->ifa_family = prefix.address.family;
    a->ifa_prefixlen = prefix.length;
    a->ifa_index = ifindex;
    m.attribute(IFA_LOCAL, prefix.address);
    m.attribute(IFA_ADDRESS, prefix.address);
    // Nobody else is on a tunnel's link: no duplicate detection to wait for.
    if (add && prefix.address.family == AF_INET6)
        m.attribute(IFA_FLAGS, std::uint32_t(IFA_F_NODAD));
    return transact(m.header());
}

int Socket::route(bool add, const Route &route)
{
    Message m(add ? RTM_NEWROUTE : RTM_DELROUTE, add ? NLM_F_CREATE | NLM_F_EXCL : 0, sizeof(rtmsg));
    auto *r = m.body<rtmsg>();
    r->rtm_family = route.dst.address.family;
    r->rtm_dst_len = route.dst.length;
    r->rtm_table = RT_TABLE_MAIN;
    r->rtm_protocol = kRouteProtocol;
    r->rtm_type = RTN_UNICAST;
    // A delete matches any scope and device (the device may be gone already):
    // destination, table and our protocol name the route.
    r->rtm_scope = !add ? RT_SCOPE_NOWHERE : route.gateway.family ? RT_SCOPE_UNIVERSE : RT_SCOPE_LINK;
    m.attribute(RTA_DST, route.dst.address);
    if (add) {
        m.attribute(RTA_OIF, std::uint32_t(route.oif));
        if (route.gateway.family)
            m.attribute(RTA_GATEWAY, route.gateway);
    }
    return transact(m.header());
}

int Socket::mainTable(int family, std::vector<TableRoute> *routes)
{
    routes->clear();
    Message m(RTM_GETROUTE, NLM_F_DUMP, sizeof(rtmsg));
    m.body<rtmsg>()->rtm_family = family;
    return exchange(m_fd, ++m_seq, m.header(), &m_error, [&](const nlmsghdr *h) {
        if (h->nlmsg_type != RTM_NEWROUTE)
            return;
        const auto *r = static_cast<const rtmsg *>(NLMSG_DATA(h));
        const rtattr *found[RTA_MAX + 1];
        readAttributes(RTM_RTA(r), int(RTM_PAYLOAD(h)), found);
        const unsigned table = found[RTA_TABLE] ? u32Of(found[RTA_TABLE]) : r->rtm_table;
        if (table != RT_TABLE_MAIN || r->rtm_family != family || (r->rtm_flags & RTM_F_CLONED))
            return;
        // Routes that only some packets take (by source or type of service)
        // are not the way everything takes.
        if (r->rtm_src_len || r->rtm_tos)
            return;
        TableRoute t;
        t.route.dst.address = addressOf(family, found[RTA_DST]);
        t.route.dst.address.family = family;
        t.route.dst.length = r->rtm_dst_len;
        t.route.gateway = addressOf(family, found[RTA_GATEWAY]);
        t.route.oif = int(u32Of(found[RTA_OIF]));
        t.type = r->rtm_type;
        t.metric = int(u32Of(found[RTA_PRIORITY]));
        t.protocol = r->rtm_protocol;
        unsigned flags = r->rtm_flags;
        if (const rtattr *mp = found[RTA_MULTIPATH]; mp && RTA_PAYLOAD(mp) >= sizeof(rtnexthop)) {
            // Of several next hops, the first: it is a way the traffic took.
            const auto *nh = static_cast<const rtnexthop *>(RTA_DATA(mp));
            const rtattr *inner[RTA_MAX + 1];
            readAttributes(RTNH_DATA(nh), int(nh->rtnh_len) - int(RTNH_LENGTH(0)), inner);
            t.route.gateway = addressOf(family, inner[RTA_GATEWAY]);
            t.route.oif = nh->rtnh_ifindex;
            flags |= nh->rtnh_flags;
        }
        t.usable = t.type == RTN_UNICAST && t.route.oif > 0 && !found[RTA_VIA]
                   && !(flags & (RTNH_F_DEAD | RTNH_F_LINKDOWN));
        routes->push_back(t);
    });
}

std::optional<Route> wayTo(const std::vector<TableRoute> &table, const Prefix &target, int skipOif)
{
    const TableRoute *best = nullptr;
    for (const TableRoute &t : table) {
        if (t.protocol == kRouteProtocol || (skipOif && t.route.oif == skipOif) || !covers(t.route.dst, target))
            continue;
        // A unicast route over a link without carrier is no way out; a route
        // that says "unreachable" (or blackhole, prohibit) is an answer.
        const bool nowhere = t.type == RTN_UNREACHABLE || t.type == RTN_BLACKHOLE || t.type == RTN_PROHIBIT
                             || t.type == RTN_THROW;
        if (!t.usable && !nowhere)
            continue;
        if (!best || t.route.dst.length > best->route.dst.length
            || (t.route.dst.length == best->route.dst.length && unsigned(t.metric) < unsigned(best->metric)))
            best = &t;
    }
    if (!best || !best->usable)
        return std::nullopt;
    Route way = best->route;
    way.dst = target;
    return way;
}

bool covers(const Prefix &outer, const Prefix &inner)
{
    if (outer.address.family != inner.address.family || outer.length > inner.length)
        return false;
    const int whole = outer.length / 8, rest = outer.length % 8;
    if (std::memcmp(outer.address.bytes.data(), inner.address.bytes.data(), whole) != 0)
        return false;
    const unsigned char mask = static_cast<unsigned char>(0xff00u >> rest);
    return rest == 0 || ((outer.address.bytes[whole] ^ inner.address.bytes[whole]) & mask) == 0;
}

Prefix masked(const Prefix &prefix)
{
    Prefix p = prefix;
    for (int bit = p.length; bit < maxLength(p.address.family); ++bit)
        p.address.bytes[bit / 8] &= static_cast<unsigned char>(~(0x80u >> (bit % 8)));
    return p;
}

std::string text(const Address &address)
{
    char out[INET6_ADDRSTRLEN] = "";
    if (address.family == AF_INET || address.family == AF_INET6)
        ::inet_ntop(address.family, address.bytes.data(), out, sizeof out);
    return out;
}

std::string text(const Prefix &prefix)
{
    return text(prefix.address) + '/' + std::to_string(prefix.length);
}

std::optional<Address> address(const std::string &text)
{
    Address a;
    for (int family : {AF_INET, AF_INET6}) {
        if (::inet_pton(family, text.c_str(), a.bytes.data()) == 1) {
            a.family = family;
            return a;
        }
    }
    return std::nullopt;
}

std::optional<Prefix> prefix(const std::string &text)
{
    const auto slash = text.find('/');
    if (slash == std::string::npos || slash + 1 >= text.size() || text.size() - slash > 4)
        return std::nullopt;
    const auto a = address(text.substr(0, slash));
    if (!a)
        return std::nullopt;
    int length = 0;
    for (char c : text.substr(slash + 1)) {
        if (c < '0' || c > '9')
            return std::nullopt;
        length = length * 10 + (c - '0');
    }
    if (length > maxLength(a->family))
        return std::nullopt;
    return Prefix {*a, length};
}

} // namespace Varnel::Service::Rtnl
