#include "service/network/tunnelnetwork.h"

#include "service/network/leakguard.h"
#include "service/network/resolver.h"
#include "service/network/rtnetlink.h"

#include <QDebug>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <optional>
#include <sstream>

namespace Varnel::Service {

namespace {

// What is applied is written here before it is applied, one line a step, so
// that recover() can undo it after a crash (see recover()).
constexpr const char *kRecords = "/tunnel-network.records";

std::string interfaceName(int ifindex)
{
    char name[IF_NAMESIZE] = "";
    return ifindex > 0 && ::if_indextoname(unsigned(ifindex), name) ? name : "";
}

// The device's name goes into the leak guards' ruleset: only plain names.
bool plainDeviceName(const std::string &name)
{
    return !name.empty() && name.size() < IF_NAMESIZE
           && std::all_of(name.begin(), name.end(), [](char c) {
                  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
              });
}

Prefix hostPrefix(const Address &a)
{
    return Prefix {a, Rtnl::maxLength(a.family)};
}

std::string routeRecord(const Rtnl::Route &r)
{
    return "route " + Rtnl::text(r.dst) + ' ' + std::to_string(r.oif) + ' '
           + (r.gateway.family ? Rtnl::text(r.gateway) : std::string("-"));
}

std::string describe(const Rtnl::Route &r)
{
    return (r.gateway.family ? "via " + Rtnl::text(r.gateway) + ' ' : std::string()) + "dev " + interfaceName(r.oif);
}

} // namespace

struct TunnelNetwork::State
{
    explicit State(const std::string &dir) : stateDir(dir), resolver(dir) {}

    // A target outside the tunnel (the endpoint, an exclude) and the route
    // of ours that takes it the way it took before, if there is a way.
    struct Outside
    {
        Prefix target;
        std::optional<Rtnl::Route> route;
    };

    std::string stateDir;
    Rtnl::Socket rtnl;
    LeakGuard guard;
    Resolver resolver;
    int records = -1;

    bool configured = false;
    std::string device;
    int ifindex = 0;
    Endpoint endpoint;
    bool linkSaved = false;
    bool wasUp = false;
    int oldMtu = 0;
    std::vector<Prefix> addresses;
    std::vector<Outside> outside; // the endpoint's first
    std::vector<Rtnl::Route> inside;

    std::unique_ptr<Rtnl::Socket> watcher;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer recheck;

    bool record(const std::string &line)
    {
        if (records < 0) {
            ::mkdir(stateDir.c_str(), 0700);
            records = ::open((stateDir + kRecords).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        }
        const std::string text = line + '\n';
        return records >= 0 && ::write(records, text.data(), text.size()) == ssize_t(text.size());
    }

    // Once applied, the records say what is in place now and nothing more.
    void compactRecords()
    {
        std::string text = "guard\n";
        if (linkSaved)
            text += "link " + std::to_string(ifindex) + ' ' + device + ' ' + (wasUp ? "1 " : "0 ") + std::to_string(oldMtu) + '\n';
        for (const Prefix &a : addresses)
            text += "address " + std::to_string(ifindex) + ' ' + device + ' ' + Rtnl::text(a) + '\n';
        for (const Outside &o : outside) {
            if (o.route)
                text += routeRecord(*o.route) + '\n';
        }
        for (const Rtnl::Route &r : inside)
            text += routeRecord(r) + '\n';
        if (resolver.active())
            text += resolver.record() + '\n';
        const std::string path = stateDir + kRecords, temp = path + ".new";
        std::ofstream out(temp, std::ios::trunc);
        out << text;
        out.close();
        if (out && ::rename(temp.c_str(), path.c_str()) == 0 && records >= 0) {
            ::close(records);
            records = -1;
        }
    }

    void clearRecords()
    {
        if (records >= 0)
            ::close(records);
        records = -1;
        ::unlink((stateDir + kRecords).c_str());
    }

    // Adds a route of ours (written down first): 1 when added, 0 when one is
    // there already (someone else's, and it stays theirs), -1 on failure.
    int addRoute(const Rtnl::Route &r, std::string *error)
    {
        if (!record(routeRecord(r))) {
            *error = "the service's state folder cannot be written";
            return -1;
        }
        const int rc = rtnl.route(true, r);
        if (rc == -EEXIST) {
            qInfo().noquote() << "A route to" << Rtnl::text(r.dst).c_str() << "exists already: left as it is";
            return 0;
        }
        if (rc != 0)
            *error = "the route to " + Rtnl::text(r.dst) + ' ' + describe(r) + " cannot be added: " + rtnl.error();
        return rc == 0 ? 1 : -1;
    }

    void deleteRoute(const Rtnl::Route &r)
    {
        const int rc = rtnl.route(false, r);
        if (rc != 0 && rc != -ESRCH && rc != -ENODEV)
            qWarning().noquote() << "The route to" << Rtnl::text(r.dst).c_str() << "cannot be removed:" << rtnl.error().c_str();
    }

    bool mainTables(const std::vector<int> &families, std::vector<Rtnl::TableRoute> (&tables)[2], std::string *error)
    {
        for (int family : families) {
            auto &table = tables[family == AF_INET6];
            if (table.empty() && rtnl.mainTable(family, &table) != 0) {
                *error = "the routing table cannot be read: " + rtnl.error();
                return false;
            }
        }
        return true;
    }
};

TunnelNetwork::TunnelNetwork(const std::string &stateDir, QObject *parent)
    : QObject(parent), d(std::make_unique<State>(stateDir))
{
    d->recheck.setSingleShot(true);
    d->recheck.setInterval(0);
    connect(&d->recheck, &QTimer::timeout, this, &TunnelNetwork::onNetworkChange);
}

TunnelNetwork::~TunnelNetwork()
{
    remove();
}

bool TunnelNetwork::apply(const Endpoint &endpoint, const TunnelSettings &settings, std::string *error)
{
    std::string why;
    auto fail = [&](std::string reason) {
        qWarning().noquote() << reason.c_str();
        if (error)
            *error = std::move(reason);
        return false;
    };
    const int ifindex = plainDeviceName(settings.device) ? int(::if_nametoindex(settings.device.c_str())) : 0;
    if (!ifindex)
        return fail("there is no device " + settings.device);
    if (!d->rtnl.isOpen())
        return fail("the routing tables cannot be reached (rtnetlink)");
    // Another device is another tunnel, not a reconnect.
    if (d->configured && (d->device != settings.device || d->ifindex != ifindex))
        remove();

    // What the tunnel carries, and what must go into it or past it.
    std::vector<Prefix> addresses;
    for (const auto &a : {settings.address4, settings.address6}) {
        if (a)
            addresses.push_back(*a);
    }
    const bool carries4 = settings.address4.has_value(), carries6 = settings.address6.has_value();
    std::vector<Prefix> into, past, connected;
    for (const Prefix &r : settings.routes) {
        if (!r.isDefault()) {
            into.push_back(Rtnl::masked(r));
            continue;
        }
        // Everything, as two halves: longer than any default route, which
        // stays as it is and comes back into use at the end.
        Prefix low {r.address, 1}, high = low;
        high.address.bytes[0] = 0x80;
        into.push_back(low);
        into.push_back(high);
    }
    for (const Prefix &e : settings.excludes) {
        if (e.length > 0)
            past.push_back(Rtnl::masked(e));
    }
    // The kernel routes each address's own prefix into the tunnel.
    for (const Prefix &a : addresses)
        connected.push_back(Rtnl::masked(a));
    auto intoTunnel = [&](const Prefix &p) {
        int inLength = -1, pastLength = -1;
        for (const auto *list : {&into, &connected}) {
            for (const Prefix &r : *list)
                inLength = Rtnl::covers(r, p) ? std::max(inLength, r.length) : inLength;
        }
        for (const Prefix &r : past)
            pastLength = Rtnl::covers(r, p) ? std::max(pastLength, r.length) : pastLength;
        return inLength > pastLength;
    };
    // DNS servers of a family the tunnel does not carry would be asked
    // outside it: they are left out.
    std::vector<Address> dns;
    for (const Address &a : settings.dns) {
        if (a.family == AF_INET6 ? carries6 : carries4)
            dns.push_back(a);
        else
            qInfo().noquote() << "DNS server" << Rtnl::text(a).c_str() << "left out: the tunnel carries no"
                              << (a.family == AF_INET6 ? "IPv6" : "IPv4");
    }
    const Prefix endpointHost = hostPrefix(endpoint.address);
    for (const Address &a : dns) {
        if (!intoTunnel(hostPrefix(a)) && !(a == endpoint.address))
            into.push_back(hostPrefix(a));
    }
    // The targets taken past the tunnel, and the way each takes now,
    // looked up before anything of ours is in the table.
    std::vector<Prefix> targets;
    if (intoTunnel(endpointHost))
        targets.push_back(endpointHost);
    targets.insert(targets.end(), past.begin(), past.end());
    std::vector<Rtnl::TableRoute> tables[2];
    std::vector<int> families;
    for (const Prefix &t : targets)
        families.push_back(t.address.family);
    if (!d->mainTables(families, tables, &why))
        return fail(why);
    std::vector<State::Outside> outside;
    for (const Prefix &t : targets)
        outside.push_back({t, Rtnl::wayTo(tables[t.address.family == AF_INET6], t, ifindex)});
    auto same = [](const Prefix &a, const Prefix &b) { return a.address == b.address && a.length == b.length; };
    std::vector<Rtnl::Route> inside;
    for (const Prefix &p : into) {
        const bool taken = std::any_of(inside.begin(), inside.end(), [&](const Rtnl::Route &r) { return same(r.dst, p); })
                           || std::any_of(targets.begin(), targets.end(), [&](const Prefix &t) { return same(t, p); });
        if (!taken)
            inside.push_back({p, Address {}, ifindex});
    }

    // The guards first: from here on no DNS and no IPv6 leave outside the
    // tunnel, whatever the steps below do.
    GuardSettings guard {settings.device, &endpoint, !carries6, !dns.empty()};
    if (!d->configured && !d->record("guard"))
        return fail("the service's state folder cannot be written");
    d->configured = true;
    d->device = settings.device;
    d->ifindex = ifindex;
    d->endpoint = endpoint;
    if (!d->guard.apply(guard, &why))
        return fail(why);

    if (!d->linkSaved) {
        if (d->rtnl.linkState(ifindex, &d->wasUp, &d->oldMtu) != 0)
            return fail("the device " + settings.device + " cannot be read: " + d->rtnl.error());
        if (!d->record("link " + std::to_string(ifindex) + ' ' + settings.device + ' ' + (d->wasUp ? "1 " : "0 ")
                       + std::to_string(d->oldMtu)))
            return fail("the service's state folder cannot be written");
        d->linkSaved = true;
    }
    if (d->rtnl.setLink(ifindex, true, settings.mtu) != 0)
        return fail("the device " + settings.device + " cannot be set up: " + d->rtnl.error());

    for (const Prefix &a : addresses) {
        if (std::any_of(d->addresses.begin(), d->addresses.end(), [&](const Prefix &o) { return same(o, a); }))
            continue;
        if (!d->record("address " + std::to_string(ifindex) + ' ' + settings.device + ' ' + Rtnl::text(a)))
            return fail("the service's state folder cannot be written");
        d->addresses.push_back(a);
        if (d->rtnl.address(true, ifindex, a) != 0)
            return fail("the address " + Rtnl::text(a) + " cannot be added: " + d->rtnl.error());
    }
    for (auto it = d->addresses.begin(); it != d->addresses.end();) {
        if (std::none_of(addresses.begin(), addresses.end(), [&](const Prefix &n) { return same(n, *it); })) {
            d->rtnl.address(false, ifindex, *it);
            it = d->addresses.erase(it);
        } else {
            ++it;
        }
    }

    // Past the tunnel before into it: the endpoint's own packets must never
    // follow the halves into the tunnel they carry. What is in place stays
    // known to remove() whenever a step fails.
    std::vector<State::Outside> keptOutside;
    auto failOutside = [&](std::string reason) {
        d->outside.insert(d->outside.end(), keptOutside.begin(), keptOutside.end());
        return fail(std::move(reason));
    };
    for (State::Outside &o : outside) {
        auto old = std::find_if(d->outside.begin(), d->outside.end(), [&](const State::Outside &x) { return same(x.target, o.target); });
        if (old != d->outside.end() && old->route == o.route) {
            keptOutside.push_back(*old);
            d->outside.erase(old);
            continue;
        }
        if (old != d->outside.end()) {
            if (old->route)
                d->deleteRoute(*old->route);
            d->outside.erase(old);
        }
        const int added = o.route ? d->addRoute(*o.route, &why) : 0;
        if (added < 0)
            return failOutside(why);
        if (added == 0) {
            o.route.reset();
            qInfo().noquote() << "No way of ours to" << Rtnl::text(o.target).c_str() << "outside the tunnel";
        }
        keptOutside.push_back(o);
    }
    for (const State::Outside &o : d->outside) {
        if (o.route)
            d->deleteRoute(*o.route);
    }
    d->outside = keptOutside;

    std::vector<Rtnl::Route> keptInside;
    for (const Rtnl::Route &r : inside) {
        auto old = std::find(d->inside.begin(), d->inside.end(), r);
        if (old != d->inside.end()) {
            d->inside.erase(old);
            keptInside.push_back(r);
            continue;
        }
        const int added = d->addRoute(r, &why);
        if (added < 0) {
            d->inside.insert(d->inside.end(), keptInside.begin(), keptInside.end());
            return fail(why);
        }
        if (added > 0)
            keptInside.push_back(r);
    }
    for (const Rtnl::Route &r : d->inside)
        d->deleteRoute(r);
    d->inside = keptInside;

    if (!d->resolver.apply(settings.device, ifindex, dns, [this](const std::string &l) { return d->record(l); }, &why))
        return fail(why);
    d->compactRecords();
    watch(true);
    return true;
}

void TunnelNetwork::remove()
{
    watch(false);
    if (!d->configured)
        return;
    // DNS first: while the routes go, the guard still keeps queries in.
    d->resolver.revert();
    for (auto it = d->inside.rbegin(); it != d->inside.rend(); ++it)
        d->deleteRoute(*it);
    for (const State::Outside &o : d->outside) {
        if (o.route)
            d->deleteRoute(*o.route);
    }
    const bool sameDevice = interfaceName(d->ifindex) == d->device;
    for (const Prefix &a : d->addresses) {
        if (sameDevice)
            d->rtnl.address(false, d->ifindex, a);
    }
    if (d->linkSaved && sameDevice)
        d->rtnl.setLink(d->ifindex, d->wasUp, d->oldMtu);
    std::string why;
    if (!d->guard.remove(&why))
        qWarning().noquote() << why.c_str();
    d->clearRecords();
    d->configured = d->linkSaved = false;
    d->addresses.clear();
    d->outside.clear();
    d->inside.clear();
}

void TunnelNetwork::watch(bool on)
{
    if (!on) {
        d->recheck.stop();
        d->notifier.reset();
        d->watcher.reset();
        return;
    }
    if (d->watcher)
        return;
    d->watcher = std::make_unique<Rtnl::Socket>(RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE);
    if (!d->watcher->isOpen()) {
        qWarning().noquote() << "Changes of the network cannot be followed (rtnetlink)";
        d->watcher.reset();
        return;
    }
    d->notifier = std::make_unique<QSocketNotifier>(d->watcher->fd(), QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, [this] {
        // What changed does not matter: everything is looked at again, once
        // a burst of messages has been read.
        char buffer[8192];
        while (::recv(d->watcher->fd(), buffer, sizeof buffer, MSG_DONTWAIT) > 0 || errno == ENOBUFS) {
        }
        d->recheck.start();
    });
}

// The physical link went down and came back, or the default route changed:
// the endpoint and the excludes take the way there is now. Without one their
// traffic stays in the tunnel, where nothing leaks.
void TunnelNetwork::onNetworkChange()
{
    if (!d->configured)
        return;
    if (interfaceName(d->ifindex) != d->device) {
        watch(false);
        emit broken(QStringLiteral("the tunnel device %1 is gone").arg(QString::fromStdString(d->device)));
        return;
    }
    std::vector<int> families;
    for (const State::Outside &o : d->outside)
        families.push_back(o.target.address.family);
    for (const Rtnl::Route &r : d->inside)
        families.push_back(r.dst.address.family);
    std::vector<Rtnl::TableRoute> tables[2];
    std::string why;
    if (!d->mainTables(families, tables, &why)) {
        qWarning().noquote() << why.c_str();
        return;
    }
    auto present = [&](const Rtnl::Route &r) {
        const auto &table = tables[r.dst.address.family == AF_INET6];
        return std::any_of(table.begin(), table.end(), [&](const Rtnl::TableRoute &t) { return t.protocol == Rtnl::kRouteProtocol && t.route == r; });
    };
    bool changed = false;
    for (State::Outside &o : d->outside) {
        const auto way = Rtnl::wayTo(tables[o.target.address.family == AF_INET6], o.target, d->ifindex);
        if (way == o.route && (!way || present(*way)))
            continue;
        changed = true;
        if (o.route)
            d->deleteRoute(*o.route);
        o.route.reset();
        if (way && d->addRoute(*way, &why) > 0) {
            o.route = way;
            qInfo().noquote() << "The way to" << Rtnl::text(o.target).c_str() << "is now" << describe(*way).c_str();
        } else {
            qInfo().noquote() << "No way to" << Rtnl::text(o.target).c_str()
                              << "outside the tunnel now: its traffic stays in the tunnel";
        }
    }
    // Routes into the tunnel (and its IPv6 addresses) go with its link when
    // it goes down; they come back with it, before anything leaves by the
    // machine's default route.
    const bool lost = std::any_of(d->inside.begin(), d->inside.end(), [&](const Rtnl::Route &r) { return !present(r); });
    for (const Prefix &a : lost ? d->addresses : std::vector<Prefix>())
        d->rtnl.address(true, d->ifindex, a);
    for (const Rtnl::Route &r : d->inside) {
        if (!present(r) && d->addRoute(r, &why) < 0)
            qWarning().noquote() << why.c_str();
    }
    changed = changed || lost;
    if (changed)
        d->compactRecords();
}

void TunnelNetwork::recover(const std::string &stateDir)
{
    std::ifstream in(stateDir + kRecords);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    Rtnl::Socket rtnl;
    int undone = 0;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        std::istringstream words(*it);
        std::string kind, a, b, c;
        int ifindex = 0;
        words >> kind;
        if (kind == "route" && words >> a) {
            // Named by destination, table and our protocol only: the device
            // it went to may be gone, and no one else's route can match.
            if (auto p = Rtnl::prefix(a); p && rtnl.route(false, {*p, Address {}, 0}) == 0)
                ++undone;
        } else if (kind == "address" && words >> ifindex >> a >> b) {
            if (auto p = Rtnl::prefix(b); p && interfaceName(ifindex) == a && rtnl.address(false, ifindex, *p) == 0)
                ++undone;
        } else if (kind == "link" && words >> ifindex >> a >> b >> c) {
            if (interfaceName(ifindex) == a && rtnl.setLink(ifindex, b == "1", std::atoi(c.c_str())) == 0)
                ++undone;
        } else if (kind == "dns") {
            Resolver::undo(stateDir, *it);
            ++undone;
        }
    }
    // No tunnel is configured at start: the guards go, records or not, and
    // a resolv.conf kept before a power cut comes back.
    LeakGuard().remove();
    Resolver::restoreFile(stateDir);
    ::unlink((stateDir + kRecords).c_str());
    if (undone)
        qInfo().noquote() << "Removed what an earlier run of the service left:" << undone << "steps undone";
}

} // namespace Varnel::Service
