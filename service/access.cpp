#include "service/access.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

namespace Varnel::Service {

namespace {

std::string trimmed(const std::string &text)
{
    const std::size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos)
        return {};
    return text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

} // namespace

bool Access::load(const std::string &path, std::string *error)
{
    m_group.clear();
    std::ifstream file(path);
    if (!file) {
        if (errno == ENOENT)
            return true;
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        line = trimmed(line);
        if (line.empty() || line.front() == '#')
            continue;
        const std::size_t equals = line.find('=');
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = equals == std::string::npos ? std::string() : trimmed(line.substr(equals + 1));
        if (key != "AllowedGroup" || value.empty()) {
            *error = path + ":" + std::to_string(number) + ": not a setting of this service (AllowedGroup=<group>)";
            return false;
        }
        m_group = value;
    }
    return true;
}

bool Access::mayOpen(uid_t uid) const
{
    if (uid == 0 || m_group.empty())
        return true;
    // Looked up at each request: groups change while the service runs.
    const group *allowed = getgrnam(m_group.c_str());
    const passwd *user = getpwuid(uid);
    if (!allowed || !user)
        return false;
    const gid_t wanted = allowed->gr_gid;
    const std::string name = user->pw_name;
    const gid_t primary = user->pw_gid;
    int count = 32;
    std::vector<gid_t> groups;
    for (int attempt = 0; attempt < 2; ++attempt) {
        groups.resize(std::size_t(count));
        if (getgrouplist(name.c_str(), primary, groups.data(), &count) >= 0) {
            groups.resize(std::size_t(count));
            for (gid_t gid : groups) {
                if (gid == wanted)
                    return true;
            }
            return false;
        }
    }
    return false;
}

} // namespace Varnel::Service
