#pragma once

// The kill-switch block is the machine's, not one user's: every uid whose
// kill switch is on holds it, and it is lifted only when nobody holds it any
// more. The block and its lifting are the two nftables scripts of the data
// directory; the service fills the block's sets with what may pass it (the
// tunnel device and the VPN server's endpoint) while a tunnel is being made
// or is up.
//
// "service.txt" ("KillSwith:ON" while anyone holds the block) and
// "killswitch.holders" (one uid a line) keep the state over restarts and
// reboots; only the service writes them.

#include "service/network/tunnelnetwork.h"

#include <sys/types.h>

#include <memory>
#include <optional>
#include <set>
#include <string>

namespace Varnel::Service {

class KillSwitch
{
public:
    // What a request is answered when a step fails: a code of the protocol
    // ("missing-script", "unsafe-script", "failed") and a text. Empty: done.
    struct Outcome
    {
        std::string code;
        std::string text;
        bool ok() const { return code.empty(); }
    };

    static constexpr const char *kStateFile = "service.txt";
    static constexpr const char *kHoldersFile = "killswitch.holders";

    explicit KillSwitch(std::string dataDir);
    ~KillSwitch();

    // First thing at start: applies the block when "service.txt" says
    // "KillSwith:ON", and writes both files back as the service writes them.
    void start();

    // uid's kill switch is on: it holds the block, which is applied now
    // unless it is in place already.
    Outcome hold(uid_t uid);
    // uid's kill switch is off: its hold ends, and the block is lifted when
    // nobody holds it any more.
    Outcome release(uid_t uid);
    // Root's "off": every hold ends, and the block is lifted.
    Outcome releaseAll();
    bool held() const { return m_unclaimed || !m_holders.empty(); }
    bool holds(uid_t uid) const { return m_holders.count(uid) > 0; }
    // The block's table is there (whoever loaded it).
    bool inPlace() const;

    // The tunnel being made or up: its device and endpoint pass the block,
    // now and whenever it is applied later, until clearTunnel().
    void setTunnel(const std::string &device, const Endpoint &endpoint);
    void clearTunnel();

private:
    Outcome apply();
    Outcome lift();
    Outcome load(const std::string &script) const;
    void letTunnelPass() const;
    void persist();

    class Nft;
    std::string m_dataDir;
    std::unique_ptr<Nft> m_nft;
    // What the state files hold, once written by this run.
    std::optional<std::pair<std::string, std::string>> m_persisted;
    std::set<uid_t> m_holders;
    // Found "KillSwith:ON" at start without the record of who held it: the
    // block is then nobody's in particular, and anyone's "off" lifts it.
    bool m_unclaimed = false;
    std::optional<std::pair<std::string, Endpoint>> m_tunnel;
};

} // namespace Varnel::Service
