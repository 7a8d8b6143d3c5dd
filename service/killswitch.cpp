#include "service/killswitch.h"
#include "service/fd.h"

#include "platform/datadir.h"

#include "service/log.h"
#include "service/statefile.h"

#include <nftables/libnftables.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace Varnel::Service {

namespace {

constexpr const char *kTable = "inet varnelvpn_killswitch";
constexpr const char *kOn = "KillSwith:ON";
constexpr const char *kOff = "KillSwith:OFF";

} // namespace

// One libnftables context for the service's life: a context per use would
// open and close a netlink socket each time, and the close waits for the
// kernel to settle the last change (about 10 ms after a table was changed),
// on every connect. libnftables checks the ruleset's generation before it
// trusts its cache. Messages are kept for the log and the reply.
class KillSwitch::Nft
{
public:
    Nft() : m_ctx(nft_ctx_new(NFT_CTX_DEFAULT))
    {
        if (m_ctx) {
            nft_ctx_buffer_output(m_ctx);
            nft_ctx_buffer_error(m_ctx);
        }
    }
    ~Nft()
    {
        if (m_ctx)
            nft_ctx_free(m_ctx);
    }
    Nft(const Nft &) = delete;
    Nft &operator=(const Nft &) = delete;

    bool run(const std::string &commands, std::string *error = nullptr)
    {
        return finish(m_ctx && nft_run_cmd_from_buffer(m_ctx, commands.c_str()) == 0, error);
    }
    bool runFile(const std::string &path, std::string *error)
    {
        return finish(m_ctx && nft_run_cmd_from_filename(m_ctx, path.c_str()) == 0, error);
    }

private:
    bool finish(bool ok, std::string *error)
    {
        if (!ok && error) {
            const char *text = m_ctx ? nft_ctx_get_error_buffer(m_ctx) : nullptr;
            *error = text && *text ? text : "nftables refused it";
        }
        return ok;
    }

    nft_ctx *m_ctx;
};

namespace {

// Root's alone: owned by root and not writable by group or others.
bool onlyRootMayChange(const struct stat &info)
{
    return info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string elementsOf(const Endpoint &endpoint)
{
    std::string out;
    const auto add = [&](const char *protocol) {
        out += (out.empty() ? "" : ", ") + endpoint.address.text() + " . " + protocol + " . "
               + std::to_string(endpoint.port);
    };
    if (endpoint.transport != Transport::Tcp)
        add("udp");
    if (endpoint.transport != Transport::Udp)
        add("tcp");
    return "{ " + out + " }";
}

} // namespace

KillSwitch::KillSwitch(std::string dataDir) : m_dataDir(std::move(dataDir)), m_nft(std::make_unique<Nft>()) {}

KillSwitch::~KillSwitch() = default;

void KillSwitch::start()
{
    const bool on = StateFile::read(m_dataDir, kStateFile) == kOn;
    if (on) {
        // Before anything else: a machine shut down blocked comes up blocked.
        const Outcome applied = apply();
        if (!applied.ok())
            Log::error("kill switch: \"KillSwith:ON\" but the block could not be applied: " + applied.text);
        const auto holders = StateFile::read(m_dataDir, kHoldersFile);
        std::istringstream lines(holders ? *holders : std::string());
        for (std::string line; std::getline(lines, line);) {
            if (line.empty() || line.size() > 10 || line.find_first_not_of("0123456789") != std::string::npos)
                continue;
            const unsigned long long uid = std::stoull(line);
            if (uid < uid_t(-1))
                m_holders.insert(uid_t(uid));
        }
        m_unclaimed = m_holders.empty();
        if (m_unclaimed)
            Log::warning("kill switch: the block is on but nobody is recorded as holding it: anyone's \"off\" lifts it");
    }
    persist();
}

KillSwitch::Outcome KillSwitch::hold(uid_t uid)
{
    m_holders.insert(uid);
    m_unclaimed = false;
    persist();
    if (inPlace())
        return {};
    return apply();
}

KillSwitch::Outcome KillSwitch::release(uid_t uid)
{
    m_holders.erase(uid);
    // A block nobody in particular holds is lifted by anyone's "off".
    m_unclaimed = false;
    persist();
    if (held() || !inPlace())
        return {};
    return lift();
}

KillSwitch::Outcome KillSwitch::releaseAll()
{
    m_holders.clear();
    m_unclaimed = false;
    persist();
    if (held())
        return {};
    return lift();
}

bool KillSwitch::inPlace() const
{
    return m_nft->run(std::string("list table ") + kTable);
}

void KillSwitch::setTunnel(const std::string &device, const Endpoint &endpoint)
{
    m_tunnel.emplace(device, endpoint);
    if (inPlace())
        letTunnelPass();
}

void KillSwitch::clearTunnel()
{
    m_tunnel.reset();
    if (!inPlace())
        return;
    std::string error;
    const std::string table = kTable;
    if (!m_nft->run("flush set " + table + " tunnels\nflush set " + table + " endpoints4\nflush set " + table
                       + " endpoints6",
                   &error))
        Log::error("kill switch: the tunnel's way through the block could not be closed: " + error);
}

KillSwitch::Outcome KillSwitch::apply()
{
    Outcome outcome = load(blockScriptName().toStdString());
    if (!outcome.ok()) {
        Log::error("kill switch: the block could not be applied: " + outcome.text);
        return outcome;
    }
    Log::info("kill switch: block applied");
    // A fresh table has empty sets.
    letTunnelPass();
    return outcome;
}

KillSwitch::Outcome KillSwitch::lift()
{
    Outcome outcome = load(resetScriptName().toStdString());
    if (outcome.ok())
        Log::info("kill switch: block lifted");
    else
        Log::error("kill switch: the block could not be lifted: " + outcome.text);
    return outcome;
}

KillSwitch::Outcome KillSwitch::load(const std::string &script) const
{
    // What is checked is what is loaded: the file is opened once, checked
    // through its descriptor, and nftables reads that descriptor.
    Fd dir(::open(m_dataDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat info {};
    if (dir.get() < 0 || ::fstat(dir.get(), &info) != 0)
        return {"missing-script", m_dataDir + ": " + std::strerror(errno)};
    if (!onlyRootMayChange(info))
        return {"unsafe-script", m_dataDir + " may be changed by others than root"};
    Fd file(::openat(dir.get(), script.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno == ENOENT)
            return {"missing-script", std::string(script) + " is missing"};
        if (errno == ELOOP)
            return {"unsafe-script", std::string(script) + " is a link"};
        return {"failed", std::string(script) + ": " + std::strerror(errno)};
    }
    if (::fstat(file.get(), &info) != 0)
        return {"failed", std::string(script) + ": " + std::strerror(errno)};
    if (!S_ISREG(info.st_mode) || !onlyRootMayChange(info))
        return {"unsafe-script", std::string(script) + " is not a file that only root may change"};
    const std::string path = "/proc/self/fd/" + std::to_string(file.get());
    std::string error;
    if (m_nft->runFile(path, &error))
        return {};
    // nftables names the file by the path it read: give it its own name.
    for (std::size_t at; (at = error.find(path)) != std::string::npos;)
        error.replace(at, path.size(), script);
    return {"failed", error};
}

void KillSwitch::letTunnelPass() const
{
    if (!m_tunnel)
        return;
    const Endpoint &endpoint = m_tunnel->second;
    const std::string table = kTable;
    std::string error;
    if (!m_nft->run("add element " + table + " tunnels { \"" + m_tunnel->first + "\" }\nadd element " + table
                       + (endpoint.address.isV4() ? " endpoints4 " : " endpoints6 ") + elementsOf(endpoint),
                   &error))
        Log::error("kill switch: the tunnel cannot pass the block: " + error);
}

void KillSwitch::persist()
{
    std::string holders;
    for (uid_t uid : m_holders)
        holders += std::to_string(uid) + "\n";
    const std::string state = held() ? kOn : kOff;
    // Written (and synced) only when it changed: an open writes nothing new
    // most of the time, and every sync is a wait on the disk.
    if (m_persisted && m_persisted->first == holders && m_persisted->second == state)
        return;
    std::string error;
    if (!StateFile::write(m_dataDir, kHoldersFile, holders, &error)
        || !StateFile::write(m_dataDir, kStateFile, state, &error)) {
        Log::error("kill switch: the state could not be kept: " + error);
        m_persisted.reset();
        return;
    }
    m_persisted.emplace(holders, state);
}

} // namespace Varnel::Service
