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

bool sameDestination(const Rtnl::Route &a, const Rtnl::Route &b)
{
    return a.dst.address == b.dst.address && a.dst.length == b.dst.length;
}

// What a configuration asks for, worked out before anything changes.
struct Plan
{
    std::vector<Prefix> addresses;
    std::vector<Rtnl::Route> inside; // into the device
    std::vector<Prefix> past;        // the way they took before: the endpoint (when the tunnel would take it), excludes
    std::vector<Address> dns;
    bool carries6 = false;
};

Plan planFor(const Endpoint &endpoint, const TunnelSettings &settings, int ifindex)
{
    Plan plan;
    for (const auto &a : {settings.address4, settings.address6}) {
        if (a)
            plan.addresses.push_back(*a);
    }
    plan.carries6 = settings.address6.has_value();
    std::vector<Prefix> into, connected;
    for (const Prefix &r : settings.routes) {
        if (!r.isDefault()) {
            into.push_back(Rtnl::masked(r));
            continue;
        }
        // Everything, as two halves: longer than any default route, which
        // stays as it is and comes back into use at the end.
        Prefix low {Address {r.address.family, {}}, 1}, high = low;
        high.address.bytes[0] = 0x80;
        into.push_back(low);
        into.push_back(high);
    }
    for (const Prefix &e : settings.excludes) {
        if (e.length > 0)
            plan.past.push_back(Rtnl::masked(e));
    }
    // The kernel routes each address's own prefix into the tunnel.
    for (const Prefix &a : plan.addresses)
        connected.push_back(Rtnl::masked(a));
    auto intoTunnel = [&](const Prefix &p) {
        int inLength = -1, pastLength = -1;
        for (const auto *list : {&into, &connected, &plan.past}) {
            int &length = list == &plan.past ? pastLength : inLength;
            for (const Prefix &r : *list)
                length = Rtnl::covers(r, p) ? std::max(length, r.length) : length;
        }
        return inLength > pastLength;
    };
    // A DNS server of a family the tunnel does not carry would be asked
    // outside it: it is left out. One outside the tunnel's routes gets a
    // route into it.
    for (const Address &a : settings.dns) {
        if (a.family == AF_INET6 ? !plan.carries6 : !settings.address4) {
            qInfo().noquote() << "DNS server" << Rtnl::text(a).c_str() << "left out: the tunnel carries no"
                              << (a.family == AF_INET6 ? "IPv6" : "IPv4");
            continue;
        }
        plan.dns.push_back(a);
        if (!intoTunnel(hostPrefix(a)) && !(a == endpoint.address))
            into.push_back(hostPrefix(a));
    }
    if (intoTunnel(hostPrefix(endpoint.address)))
        plan.past.insert(plan.past.begin(), hostPrefix(endpoint.address));
    for (const Prefix &p : into) {
        const Rtnl::Route r {p, Address {}, ifindex};
        const bool taken = std::any_of(plan.inside.begin(), plan.inside.end(), [&](const Rtnl::Route &o) { return sameDestination(o, r); })
                           || std::any_of(plan.past.begin(), plan.past.end(), [&](const Prefix &t) { return sameDestination({t, {}, 0}, r); });
        if (!taken)
            plan.inside.push_back(r);
    }
    return plan;
}

} // namespace

struct TunnelNetwork::State
{
    explicit State(const std::string &dir) : stateDir(dir), resolver(dir) {}

    std::string stateDir;
    Rtnl::Socket rtnl;
    LeakGuard guard;
    Resolver resolver;
    int records = -1;

    bool configured = false;
    std::string device;
    int ifindex = 0;
    bool linkSaved = false;
    bool wasUp = false;
    int oldMtu = 0;
    std::vector<Prefix> addresses;
    std::vector<Prefix> past;        // taken the way they took before...
    std::vector<Rtnl::Route> outside; // ...by these routes of ours, when there is a way
    std::vector<Rtnl::Route> planned; // into the tunnel...
    std::vector<Rtnl::Route> inside;  // ...and those of them that are ours

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
        for (const auto *routes : {&outside, &inside}) {
            for (const Rtnl::Route &r : *routes)
                text += routeRecord(r) + '\n';
        }
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

    // Puts the wanted routes in place of ours: a route already there stays,
    // one to the same destination by another way is replaced (removed first,
    // so the two never meet), and the rest of ours go. What is in place stays
    // known in ours, also when a step fails.
    bool replaceRoutes(std::vector<Rtnl::Route> &ours, const std::vector<Rtnl::Route> &wanted, std::string *error)
    {
        std::vector<Rtnl::Route> now;
        for (const Rtnl::Route &r : wanted) {
            if (auto same = std::find(ours.begin(), ours.end(), r); same != ours.end()) {
                ours.erase(same);
                now.push_back(r);
                continue;
            }
            auto old = std::find_if(ours.begin(), ours.end(), [&](const Rtnl::Route &o) { return sameDestination(o, r); });
            if (old != ours.end()) {
                deleteRoute(*old);
                ours.erase(old);
            }
            const int added = addRoute(r, error);
            if (added < 0) {
                ours.insert(ours.end(), now.begin(), now.end());
                return false;
            }
            if (added > 0)
                now.push_back(r);
        }
        for (const Rtnl::Route &r : ours)
            deleteRoute(r);
        ours = now;
        return true;
    }

    using Tables = std::vector<Rtnl::TableRoute>[2];

    // The main table of a family, read once per look.
    bool load(Tables &tables, int family, std::string *error)
    {
        auto &table = tables[family == AF_INET6];
        if (table.empty() && rtnl.mainTable(family, &table) != 0) {
            *error = "the routing table cannot be read: " + rtnl.error();
            return false;
        }
        return true;
    }

    // The ways the targets take through the main tables, our routes and the
    // tunnel's left out: the ways they took before the tunnel.
    bool waysPast(const std::vector<Prefix> &targets, Tables &tables, std::vector<Rtnl::Route> *ways, std::string *error)
    {
        for (const Prefix &t : targets) {
            if (!load(tables, t.address.family, error))
                return false;
            if (auto way = Rtnl::wayTo(tables[t.address.family == AF_INET6], t, ifindex))
                ways->push_back(*way);
        }
        return true;
    }

    void logWays(bool all) const
    {
        for (const Prefix &t : past) {
            auto way = std::find_if(outside.begin(), outside.end(), [&](const Rtnl::Route &r) { return sameDestination({t, {}, 0}, r); });
            if (way == outside.end())
                qInfo().noquote() << "No way to" << Rtnl::text(t).c_str() << "outside the tunnel: its traffic stays in it";
            else if (all)
                qInfo().noquote() << "The way to" << Rtnl::text(t).c_str() << "is now" << describe(*way).c_str();
        }
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
    d->ifindex = ifindex;
    const Plan plan = planFor(endpoint, settings, ifindex);
    // The ways past the tunnel are looked up before anything of ours is in
    // the table (and our own routes are never taken for one).
    State::Tables tables;
    std::vector<Rtnl::Route> ways;
    if (!d->waysPast(plan.past, tables, &ways, &why))
        return fail(why);
    const std::string stateFails = "the service's state folder cannot be written";

    // The guards first: from here on no DNS and no IPv6 leave outside the
    // tunnel, whatever the steps below do.
    if (!d->configured && !d->record("guard"))
        return fail(stateFails);
    d->configured = true;
    d->device = settings.device;
    if (!d->guard.apply({settings.device, &endpoint, !plan.carries6, !plan.dns.empty()}, &why))
        return fail(why);

    if (!d->linkSaved) {
        if (d->rtnl.linkState(ifindex, &d->wasUp, &d->oldMtu) != 0)
            return fail("the device " + settings.device + " cannot be read: " + d->rtnl.error());
        if (!d->record("link " + std::to_string(ifindex) + ' ' + settings.device + ' ' + (d->wasUp ? "1 " : "0 ")
                       + std::to_string(d->oldMtu)))
            return fail(stateFails);
        d->linkSaved = true;
    }
    if (d->rtnl.setLink(ifindex, true, settings.mtu) != 0)
        return fail("the device " + settings.device + " cannot be set up: " + d->rtnl.error());

    auto has = [](const std::vector<Prefix> &list, const Prefix &p) {
        return std::any_of(list.begin(), list.end(), [&](const Prefix &o) { return o.address == p.address && o.length == p.length; });
    };
    for (const Prefix &a : plan.addresses) {
        if (has(d->addresses, a))
            continue;
        if (!d->record("address " + std::to_string(ifindex) + ' ' + settings.device + ' ' + Rtnl::text(a)))
            return fail(stateFails);
        d->addresses.push_back(a);
        if (d->rtnl.address(true, ifindex, a) != 0)
            return fail("the address " + Rtnl::text(a) + " cannot be added: " + d->rtnl.error());
    }
    for (auto it = d->addresses.begin(); it != d->addresses.end();) {
        if (has(plan.addresses, *it)) {
            ++it;
            continue;
        }
        d->rtnl.address(false, ifindex, *it);
        it = d->addresses.erase(it);
    }

    // Past the tunnel before into it: the endpoint's own packets must never
    // follow the halves into the tunnel they carry.
    d->past = plan.past;
    d->planned = plan.inside;
    if (!d->replaceRoutes(d->outside, ways, &why) || !d->replaceRoutes(d->inside, plan.inside, &why))
        return fail(why);
    d->logWays(false);
    if (!d->resolver.apply(settings.device, ifindex, plan.dns, [this](const std::string &l) { return d->record(l); }, &why))
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
    for (const auto *routes : {&d->inside, &d->outside}) {
        for (const Rtnl::Route &r : *routes)
            d->deleteRoute(r);
    }
    if (interfaceName(d->ifindex) == d->device) {
        for (const Prefix &a : d->addresses)
            d->rtnl.address(false, d->ifindex, a);
        if (d->linkSaved)
            d->rtnl.setLink(d->ifindex, d->wasUp, d->oldMtu);
    }
    std::string why;
    if (!d->guard.remove(&why))
        qWarning().noquote() << why.c_str();
    d->clearRecords();
    d->configured = d->linkSaved = false;
    d->addresses.clear();
    d->past.clear();
    d->planned.clear();
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
    State::Tables tables;
    std::vector<Rtnl::Route> ways;
    std::string why;
    bool loaded = d->waysPast(d->past, tables, &ways, &why);
    for (const Rtnl::Route &r : d->planned)
        loaded = loaded && d->load(tables, r.dst.address.family, &why);
    if (!loaded) {
        qWarning().noquote() << why.c_str();
        return;
    }
    // Routes of ours that went with a link are no longer there to remove.
    auto gone = [&](const Rtnl::Route &r) {
        const auto &table = tables[r.dst.address.family == AF_INET6];
        return std::none_of(table.begin(), table.end(), [&](const Rtnl::TableRoute &t) { return t.protocol == Rtnl::kRouteProtocol && t.route == r; });
    };
    const std::size_t outsideBefore = d->outside.size(), insideBefore = d->inside.size();
    d->outside.erase(std::remove_if(d->outside.begin(), d->outside.end(), gone), d->outside.end());
    d->inside.erase(std::remove_if(d->inside.begin(), d->inside.end(), gone), d->inside.end());
    const bool insideLost = d->inside.size() != insideBefore;
    if (ways == d->outside && d->outside.size() == outsideBefore && !insideLost)
        return;
    // Routes into the tunnel (and its IPv6 addresses) go with its link when
    // it goes down; they come back with it, before anything leaves by the
    // machine's default route.
    if (insideLost) {
        for (const Prefix &a : d->addresses)
            d->rtnl.address(true, d->ifindex, a);
    }
    if (!d->replaceRoutes(d->outside, ways, &why) || !d->replaceRoutes(d->inside, d->planned, &why))
        qWarning().noquote() << why.c_str();
    d->logWays(true);
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
