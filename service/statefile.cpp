#include "service/statefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace Varnel::Service::StateFile {

namespace {

constexpr std::size_t kMaxSize = 65536;

bool fail(std::string *error, const std::string &what)
{
    *error = what + ": " + std::strerror(errno);
    return false;
}

} // namespace

std::optional<std::string> read(const std::string &dir, const char *name)
{
    const std::string path = dir + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    std::optional<std::string> text;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        text.emplace();
        char buffer[4096];
        ssize_t n;
        while (text->size() < kMaxSize && (n = ::read(fd, buffer, sizeof buffer)) > 0)
            text->append(buffer, std::size_t(n));
    }
    ::close(fd);
    return text;
}

bool write(const std::string &dir, const char *name, const std::string &text, std::string *error)
{
    std::string temp = dir + "/." + name + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(error, dir);
    bool ok = ::fchmod(fd, 0644) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += n > 0 ? std::size_t(n) : 0;
    }
    // On disk before it replaces the old one: after a power cut the file
    // is the old text or the new one.
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    const std::string path = dir + "/" + name;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return fail(error, path);
    }
    // And the rename itself.
    const int folder = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

} // namespace Varnel::Service::StateFile
