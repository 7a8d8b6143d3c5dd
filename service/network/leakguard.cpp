#include "service/network/leakguard.h"

#include "service/network/rtnetlink.h"
#include "service/network/tunnelnetwork.h"

#include <nftables/libnftables.h>

namespace Varnel::Service {

namespace {

// The first two lines make the table exist, so that the delete never fails;
// the whole text is one transaction.
std::string replaceTable()
{
    return std::string("table inet ") + kGuardTable + "\ndelete table inet " + kGuardTable + "\n";
}

std::string endpointRule(const Endpoint &e)
{
    std::string rule = (e.address.family == 10 /* AF_INET6 */ ? "ip6 daddr " : "ip daddr ") + Rtnl::text(e.address);
    if (e.port) {
        const char *proto = e.transport == Transport::Udp ? "udp" : e.transport == Transport::Tcp ? "tcp" : nullptr;
        rule += proto ? std::string(" ") + proto + " dport " : std::string(" meta l4proto { tcp, udp } th dport ");
        rule += std::to_string(e.port);
    }
    return rule + " accept";
}

} // namespace

std::string LeakGuard::ruleset(const GuardSettings &s)
{
    std::string guards;
    if (s.blockIpv6) {
        // What the physical link needs to keep its IPv6 address and its
        // router goes out; any other IPv6 packet outside the tunnel is refused
        // at once, so programs fall back to IPv4 without waiting.
        guards += "\t\tmeta nfproto ipv6 icmpv6 type { nd-router-solicit, nd-neighbor-solicit, nd-neighbor-advert, "
                  "mld-listener-report, mld2-listener-report } accept\n"
                  "\t\tmeta nfproto ipv6 udp sport 546 udp dport 547 accept\n"
                  "\t\tmeta nfproto ipv6 reject with icmpx type admin-prohibited\n";
    }
    if (s.blockDns)
        guards += "\t\tmeta l4proto { tcp, udp } th dport 53 reject with icmpx type admin-prohibited\n";
    const std::string device = "\"" + s.device + "\"";
    std::string out = replaceTable() + "table inet " + kGuardTable + " {\n";
    out += "\tchain output {\n\t\ttype filter hook output priority filter; policy accept;\n";
    out += "\t\toifname { \"lo\", " + device + " } accept\n";
    // The tunnel's own packets to its server leave outside it, whatever
    // their family or port (a VPN on port 53 included).
    if (s.endpoint && s.endpoint->address.family)
        out += "\t\t" + endpointRule(*s.endpoint) + "\n";
    out += guards + "\t}\n";
    // Containers and virtual machines routed through this machine.
    out += "\tchain forward {\n\t\ttype filter hook forward priority filter; policy accept;\n";
    out += "\t\toifname " + device + " accept\n" + guards + "\t}\n}\n";
    return out;
}

bool LeakGuard::apply(const GuardSettings &settings, std::string *error)
{
    return run(ruleset(settings), error);
}

bool LeakGuard::remove(std::string *error)
{
    return run(replaceTable(), error);
}

bool LeakGuard::run(const std::string &commands, std::string *error)
{
    // One context for the service's life (it has one thread), as the kill
    // switch keeps one: a context per tunnel would read the iproute2 tables
    // and open a netlink socket on every connect, and closing it at the
    // tunnel's end waits for the kernel to settle the last change.
    static nft_ctx *const nft = [] {
        nft_ctx *context = nft_ctx_new(NFT_CTX_DEFAULT);
        if (context) {
            nft_ctx_buffer_output(context);
            nft_ctx_buffer_error(context);
        }
        return context;
    }();
    if (!nft) {
        if (error)
            *error = "nftables cannot be used";
        return false;
    }
    const bool ok = nft_run_cmd_from_buffer(nft, commands.c_str()) == 0;
    const char *message = nft_ctx_get_error_buffer(nft);
    if (!ok && error)
        *error = std::string("nftables refused the leak guards: ") + (message && *message ? message : "no reason given");
    return ok;
}

} // namespace Varnel::Service
