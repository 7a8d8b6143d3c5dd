#pragma once

// Points the machine's DNS at the servers a VPN server pushed, in whichever
// way the machine manages its resolver, and puts it back at the end:
//  - systemd-resolved (resolve1 on the system bus, /etc/resolv.conf naming
//    its stub): the tunnel link's servers, the "~." routing domain and the
//    default route, over D-Bus; RevertLink at the end;
//  - resolvconf: a record of our own, added and deleted again;
//  - otherwise /etc/resolv.conf itself, rewritten in place (it may be a bind
//    mount) and restored byte for byte; its original is kept in the state
//    folder first, so that it comes back after a crash, even a reboot.

#include "service/request.h"

#include <functional>
#include <string>
#include <vector>

namespace Varnel::Service {

class Resolver
{
public:
    // Writes one record line; false when it cannot be written (then nothing
    // is changed).
    using Record = std::function<bool(const std::string &line)>;

    explicit Resolver(std::string stateDir);

    // Sets servers for the tunnel device, replacing what an earlier call set.
    // Empty servers: undoes an earlier call and otherwise leaves the resolver
    // alone. Writes its record before it changes anything.
    bool apply(const std::string &device, int ifindex, const std::vector<Address> &servers, const Record &record,
               std::string *error);
    void revert();

    // The record line of what is in place ("" when nothing is).
    const std::string &record() const { return m_record; }
    bool active() const { return m_kind != Kind::None; }

    // Undoes what the record line (written by apply()) says, after a crash.
    static void undo(const std::string &stateDir, const std::string &record);
    // Restores /etc/resolv.conf from a copy left in stateDir, if there is one.
    static void restoreFile(const std::string &stateDir);

private:
    enum class Kind { None, Resolved, Resolvconf, File };

    std::string m_stateDir;
    Kind m_kind = Kind::None;
    std::string m_record; // the record line of what is in place
    std::string m_name;   // our resolvconf record
    std::vector<Address> m_servers;
};

} // namespace Varnel::Service
