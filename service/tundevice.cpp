#include "service/tundevice.h"
#include "service/fd.h"

#include "service/request.h"

// net/if.h before the kernel's headers: they then leave its names alone.
#include <net/if.h>

#include <fcntl.h>
#include <linux/if_tun.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Varnel::Service::TunDevice {

namespace {

std::string systemError(const char *step)
{
    return std::string(step) + ": " + std::strerror(errno);
}

// One route-netlink request: the header, its body, attributes after it.
struct NetlinkRequest
{
    nlmsghdr header;
    ifinfomsg link;
    char attributes[64];
};

void addAttribute(NetlinkRequest *request, unsigned short type, const std::string &value)
{
    auto *attribute = reinterpret_cast<rtattr *>(reinterpret_cast<char *>(request) + NLMSG_ALIGN(request->header.nlmsg_len));
    attribute->rta_type = type;
    attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(value.size() + 1));
    std::memcpy(RTA_DATA(attribute), value.c_str(), value.size() + 1);
    request->header.nlmsg_len = NLMSG_ALIGN(request->header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
}

// Sends one request and reads the answers until the kernel's acknowledgement
// or the end of a dump; each link message goes to onLink.
template <typename OnLink>
bool talk(NetlinkRequest *request, OnLink onLink, std::string *error)
{
    Fd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (socket.get() < 0) {
        *error = systemError("netlink socket");
        return false;
    }
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    request->header.nlmsg_seq = 1;
    if (::sendto(socket.get(), request, request->header.nlmsg_len, 0, reinterpret_cast<sockaddr *>(&kernel),
                 sizeof kernel)
        < 0) {
        *error = systemError("netlink send");
        return false;
    }
    std::vector<char> buffer(65536);
    for (;;) {
        const ssize_t n = ::recv(socket.get(), buffer.data(), buffer.size(), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = systemError("netlink receive");
            return false;
        }
        std::size_t left = std::size_t(n);
        for (auto *message = reinterpret_cast<nlmsghdr *>(buffer.data()); NLMSG_OK(message, left);
             message = NLMSG_NEXT(message, left)) {
            if (message->nlmsg_type == NLMSG_DONE)
                return true;
            if (message->nlmsg_type == NLMSG_ERROR) {
                const auto *answer = static_cast<const nlmsgerr *>(NLMSG_DATA(message));
                if (answer->error == 0)
                    return true;
                errno = -answer->error;
                *error = systemError("netlink");
                return false;
            }
            if (message->nlmsg_type == RTM_NEWLINK)
                onLink(message);
        }
    }
}

} // namespace

std::string freeName()
{
    for (int i = 0; i < kMaxDevices; ++i) {
        const std::string name = serviceDeviceName(i);
        if (if_nametoindex(name.c_str()) == 0)
            return name;
    }
    return {};
}

bool make(const std::string &name, uid_t owner, std::string *error)
{
    Fd tun(::open("/dev/net/tun", O_RDWR | O_CLOEXEC));
    if (tun.get() < 0) {
        *error = systemError("/dev/net/tun");
        return false;
    }
    ifreq request {};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    // IFF_TUN_EXCL: a device of that name made meanwhile is not taken over.
    request.ifr_flags = IFF_TUN | IFF_NO_PI | IFF_TUN_EXCL;
    if (::ioctl(tun.get(), TUNSETIFF, &request) < 0) {
        *error = systemError("TUNSETIFF");
        return false;
    }
    // Until it is persistent, closing tun takes the device away again.
    if (::ioctl(tun.get(), TUNSETOWNER, static_cast<unsigned long>(owner)) < 0) {
        *error = systemError("TUNSETOWNER");
        return false;
    }
    if (::ioctl(tun.get(), TUNSETPERSIST, 1L) < 0) {
        *error = systemError("TUNSETPERSIST");
        return false;
    }
    return true;
}

bool remove(const std::string &name, std::string *error)
{
    // By netlink rather than TUNSETPERSIST 0: that needs to attach to the
    // device, which fails while the user's program still holds it.
    NetlinkRequest request {};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
    request.header.nlmsg_type = RTM_DELLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
    request.link.ifi_family = AF_UNSPEC;
    addAttribute(&request, IFLA_IFNAME, name);
    return talk(&request, [](const nlmsghdr *) {}, error);
}

std::vector<std::string> leftovers(std::string *error)
{
    NetlinkRequest request {};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.link.ifi_family = AF_UNSPEC;
    std::vector<std::string> found;
    const auto onLink = [&found](const nlmsghdr *message) {
        std::string name;
        std::string kind;
        int left = int(IFLA_PAYLOAD(message));
        for (auto *attribute = IFLA_RTA(static_cast<ifinfomsg *>(NLMSG_DATA(message))); RTA_OK(attribute, left);
             attribute = RTA_NEXT(attribute, left)) {
            const auto *data = static_cast<const char *>(RTA_DATA(attribute));
            if (attribute->rta_type == IFLA_IFNAME) {
                name.assign(data, strnlen(data, RTA_PAYLOAD(attribute)));
            } else if (attribute->rta_type == IFLA_LINKINFO) {
                int infoLeft = int(RTA_PAYLOAD(attribute));
                for (auto *info = static_cast<rtattr *>(RTA_DATA(attribute)); RTA_OK(info, infoLeft);
                     info = RTA_NEXT(info, infoLeft)) {
                    if (info->rta_type == IFLA_INFO_KIND) {
                        const auto *text = static_cast<const char *>(RTA_DATA(info));
                        kind.assign(text, strnlen(text, RTA_PAYLOAD(info)));
                    }
                }
            }
        }
        if (kind == "tun" && isServiceDeviceName(name))
            found.push_back(name);
    };
    talk(&request, onLink, error);
    return found;
}

} // namespace Varnel::Service::TunDevice
