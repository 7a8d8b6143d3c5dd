#pragma once

// Applies to a tunnel device what its VPN server pushed (link up, MTU,
// addresses, routes, DNS servers, the leak guards) and removes all of it
// again, leaving the machine's own routes, resolver and firewall tables as
// they were. Root only; used by the service alone.

#include "service/request.h"

#include <QObject>

#include <memory>
#include <string>

namespace Varnel::Service {

struct Endpoint
{
    Address address;
    std::uint16_t port = 0;
    Transport transport = Transport::Both;
};

class TunnelNetwork : public QObject
{
    Q_OBJECT
public:
    // stateDir: the service's root-owned data folder, where what is applied
    // is written down before it is applied (and the resolver's original kept),
    // so that recover() finds it after a crash, even after a reboot.
    explicit TunnelNetwork(const std::string &stateDir, QObject *parent = nullptr);
    ~TunnelNetwork() override; // calls remove()

    // Applies settings for the device whose traffic goes to endpoint. A
    // second call replaces what the first applied (a reconnect). On failure
    // returns false with the reason; what was applied stays known to remove().
    bool apply(const Endpoint &endpoint, const TunnelSettings &settings, std::string *error);

    // Removes everything apply() did. Safe to call more than once.
    void remove();

    // At start: removes what a killed service left (endpoint routes, resolver
    // settings, guard tables), from the records in stateDir.
    static void recover(const std::string &stateDir);

signals:
    // The tunnel cannot carry traffic any more and could not be mended
    // (written for the log; the service ends the tunnel).
    void broken(const QString &reason);

private:
    void onNetworkChange();
    void watch(bool on);

    struct State;
    std::unique_ptr<State> d;
};

} // namespace Varnel::Service
