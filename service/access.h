#pragma once

// Who may make tunnels. Every local user by default, as with other desktop
// VPN clients; an administrator may restrict it to one group with
// "AllowedGroup=<name>" in the service's settings file
// (/etc/varnelvpn/service.conf). Root always may.

#include <sys/types.h>

#include <string>

namespace Varnel::Service {

class Access
{
public:
    // Reads the settings file: "Key=Value" lines, '#' comments and blank
    // lines. A missing file means the defaults; a line that cannot be read
    // or an unknown key is an error (the service does not start with a
    // setting it does not understand).
    bool load(const std::string &path, std::string *error);

    bool mayOpen(uid_t uid) const;
    const std::string &allowedGroup() const { return m_group; }

private:
    std::string m_group; // empty: everyone
};

} // namespace Varnel::Service
