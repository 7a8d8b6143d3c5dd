// The tunnel script that OpenVPN runs (--up) when a tunnel comes up. It runs
// as the user and configures nothing itself: it reads what the server pushed
// from OpenVPN's variables and hands it to the VarnelVPN service, which
// applies it to the device it made for this user. (An OpenConnect session
// hands its settings over itself, in the client's process.) Plain C++ and the
// shared codec only: it runs on every connect, so it starts fast.

#include "common/pushedsettings.h"
#include "common/serviceprotocol.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

using Varnel::ServiceProtocol::Message;
using Varnel::PushedSettings::addPrefix;
using Varnel::PushedSettings::addRoute;
using Varnel::PushedSettings::prefixLength;

std::string env(const std::string &name)
{
    const char *value = std::getenv(name.c_str());
    return value ? std::string(value) : std::string();
}

std::vector<std::string> words(const std::string &text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find(' ', start);
        const std::string word = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!word.empty())
            out.push_back(word);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

// The options the server pushed, as the client read them from OpenVPN's
// report: with --route-noexec OpenVPN hands its scripts no word of a pushed
// redirect-gateway. The client writes the file as soon as it reads the
// report, which OpenVPN makes just before it starts this script.
std::vector<std::string> pushedOptions()
{
    const std::string path = env(Varnel::ServiceProtocol::kPushedVariable);
    if (path.empty())
        return {};
    std::ifstream file;
    for (int tries = 0; tries < 100 && !file.is_open(); ++tries) {
        file.open(path);
        if (!file.is_open())
            usleep(20000);
    }
    if (!file.is_open())
        std::fprintf(stderr, "varnelvpn-tunnel-script: the pushed options are not at %s\n", path.c_str());
    std::vector<std::string> options;
    std::string option;
    while (std::getline(file, option, ','))
        options.push_back(option);
    return options;
}

// OpenVPN's --up variables: the device, its addresses, the pushed routes
// and the DNS servers of "dhcp-option DNS"; redirect-gateway from the client.
Message fromOpenVpn()
{
    Message configure("configure");
    configure.add("device", env("dev"));
    const std::string local = env("ifconfig_local");
    if (!local.empty()) {
        // Subnet topology names a netmask; point-to-point a peer address.
        const std::string netmask = env("ifconfig_netmask");
        addPrefix(configure, "address4", local, netmask.empty() ? 32 : prefixLength(netmask));
        if (netmask.empty() && !env("ifconfig_remote").empty())
            configure.add("route", env("ifconfig_remote") + "/32");
    }
    if (!env("ifconfig_ipv6_local").empty())
        addPrefix(configure, "address6", env("ifconfig_ipv6_local"), std::atoi(env("ifconfig_ipv6_netbits").c_str()));
    if (!env("tun_mtu").empty())
        configure.add("mtu", env("tun_mtu"));
    for (int i = 1;; ++i) {
        const std::string network = env("route_network_" + std::to_string(i));
        if (network.empty())
            break;
        addRoute(configure, "route", network, prefixLength(env("route_netmask_" + std::to_string(i))));
    }
    for (int i = 1;; ++i) {
        const std::string network = env("route_ipv6_network_" + std::to_string(i));
        if (network.empty())
            break;
        const std::size_t slash = network.find('/');
        addRoute(configure, "route", network.substr(0, slash),
                 slash == std::string::npos ? 128 : std::atoi(network.c_str() + slash + 1));
    }
    for (const std::string &option : pushedOptions()) {
        const std::vector<std::string> flags = words(option);
        if (flags.empty() || flags[0] != "redirect-gateway")
            continue;
        const auto has = [&flags](const char *flag) { return std::find(flags.begin(), flags.end(), flag) != flags.end(); };
        if (!has("!ipv4"))
            configure.add("route", "0.0.0.0/0");
        if (has("ipv6"))
            configure.add("route", "::/0");
        break;
    }
    for (int i = 1;; ++i) {
        const std::vector<std::string> option = words(env("foreign_option_" + std::to_string(i)));
        if (option.empty())
            break;
        if (option.size() == 3 && option[0] == "dhcp-option" && (option[1] == "DNS" || option[1] == "DNS6"))
            configure.add("dns", option[2]);
    }
    return configure;
}

bool sendToService(const Message &request, std::string *problem)
{
    const std::string bytes = Varnel::ServiceProtocol::frame(request);
    if (bytes.empty()) {
        *problem = "the pushed settings cannot be sent as they are";
        return false;
    }
    const std::string path = Varnel::ServiceProtocol::socketPath();
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        *problem = "the service socket path is too long";
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        *problem = "the VarnelVPN service is not running (" + std::string(std::strerror(errno)) + ")";
        if (fd >= 0)
            close(fd);
        return false;
    }
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0 && errno != EINTR) {
            *problem = "the service closed the connection";
            close(fd);
            return false;
        }
        sent += n > 0 ? std::size_t(n) : 0;
    }
    Varnel::ServiceProtocol::FrameReader reader;
    std::string payload;
    while (reader.next(&payload) == Varnel::ServiceProtocol::FrameReader::Status::NeedMore) {
        pollfd watch {fd, POLLIN, 0};
        char buffer[4096];
        if (poll(&watch, 1, 10000) <= 0) {
            *problem = "the service did not answer";
            close(fd);
            return false;
        }
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            *problem = "the service closed the connection";
            close(fd);
            return false;
        }
        reader.feed(buffer, std::size_t(n));
    }
    close(fd);
    Message reply;
    if (Varnel::ServiceProtocol::parse(payload, &reply) != Varnel::ServiceProtocol::ParseError::None) {
        *problem = "the service's answer cannot be read";
        return false;
    }
    if (reply.verb != "ok") {
        *problem = reply.value("message");
        return false;
    }
    return true;
}

} // namespace

int main()
{
    if (env("script_type") != "up") {
        std::fprintf(stderr, "varnelvpn-tunnel-script: OpenVPN runs this as its --up script; nothing to do here\n");
        return 2;
    }
    std::string problem;
    if (!sendToService(fromOpenVpn(), &problem)) {
        std::fprintf(stderr, "varnelvpn-tunnel-script: %s\n", problem.c_str());
        return 1;
    }
    return 0;
}
