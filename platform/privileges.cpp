#include "platform/privileges.h"

#include <QtGlobal>

#include <cstdlib>
#include <cstring>

#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char **environ;
#endif

namespace Varnel {
namespace Privileges {

namespace {

// Session, display and locale, and the client's own settings that name
// addresses and files to read: none of them chooses code or programs.
const char *const kKeptNames[] = {
    "DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "XDG_SESSION_TYPE",
    "XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "DBUS_SESSION_BUS_ADDRESS",
    "HOME", "USER", "LOGNAME", "LANG", "LANGUAGE", "TZ",
    "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
    // Picks one of the platform plugins in the system's plugin folder.
    "QT_QPA_PLATFORM",
    "VARNELVPN_API_BASE", "VARNELVPN_CA_FILE", "VARNELVPN_HTTP_TIMEOUT_MS", "VARNELVPN_WEB_BASE",
    "VARNELVPN_DOWNLOAD_PROBE", "VARNELVPN_UPLOAD_PROBE", "VARNELVPN_PING_TARGET",
};

bool kept(const QByteArray &name)
{
    if (name.startsWith("LC_"))
        return true;
    for (const char *keptName : kKeptNames) {
        if (name == keptName)
            return true;
    }
    return false;
}

#ifdef Q_OS_LINUX

constexpr unsigned kIndex = CAP_TO_INDEX(CAP_NET_ADMIN);
constexpr __u32 kMask = CAP_TO_MASK(CAP_NET_ADMIN);

// The calling thread's capability sets, through the raw system calls: no
// library for a handful of bits.
struct ThreadCapabilities
{
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] {};

    bool read()
    {
        __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(SYS_capget, &header, data) == 0;
    }
    bool write() const
    {
        __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(SYS_capset, &header, data) == 0;
    }
    bool permitted() const { return data[kIndex].permitted & kMask; }
    bool effective() const { return data[kIndex].effective & kMask; }
    bool inheritable() const { return data[kIndex].inheritable & kMask; }
    void set(__u32 __user_cap_data_struct::*set, bool on)
    {
        if (on)
            data[kIndex].*set |= kMask;
        else
            data[kIndex].*set &= ~kMask;
    }
};

bool ambient()
{
    return ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, CAP_NET_ADMIN, 0, 0) == 1;
}

#endif

} // namespace

QByteArray fixedPath()
{
    return QByteArrayLiteral("/usr/sbin:/usr/bin:/sbin:/bin");
}

QByteArrayList keptEnvironment(const QByteArrayList &environment)
{
    QByteArrayList result;
    for (const QByteArray &entry : environment) {
        const int equals = entry.indexOf('=');
        if (equals > 0 && kept(entry.left(equals)))
            result.append(entry);
    }
    result.append("PATH=" + fixedPath());
    return result;
}

#ifdef Q_OS_LINUX

bool startedElevated()
{
    return ::getauxval(AT_SECURE) != 0;
}

void keepOnlyNetworkAdmin()
{
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    ThreadCapabilities caps;
    if (!caps.read())
        return;
    const bool permitted = caps.permitted();
    ThreadCapabilities kept;
    kept.set(&__user_cap_data_struct::permitted, permitted);
    kept.write();
}

bool networkAdminPermitted()
{
    ThreadCapabilities caps;
    return caps.read() && caps.permitted();
}

void restrictEnvironment()
{
    QByteArrayList current;
    for (char **entry = environ; entry && *entry; ++entry)
        current.append(QByteArray(*entry));
    const QByteArrayList keep = keptEnvironment(current);
    ::clearenv();
    for (const QByteArray &entry : keep) {
        const int equals = entry.indexOf('=');
        ::setenv(entry.left(equals).constData(), entry.constData() + equals + 1, 1);
    }
}

NetworkAdminScope::NetworkAdminScope(int uses)
{
    ThreadCapabilities caps;
    if (uses == 0 || !caps.read() || !caps.permitted())
        return;
    m_wasEffective = caps.effective();
    m_wasInheritable = caps.inheritable();
    m_wasAmbient = ambient();
    if (uses & Effective)
        caps.set(&__user_cap_data_struct::effective, true);
    if (uses & Inherited)
        caps.set(&__user_cap_data_struct::inheritable, true);
    if (!caps.write())
        return;
    m_active = true;
    // Ambient needs it permitted and inheritable; children of this thread
    // then start with it effective.
    if ((uses & Inherited) && !m_wasAmbient
        && ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_ADMIN, 0, 0) != 0) {
        restore();
        m_active = false;
    }
}

NetworkAdminScope::~NetworkAdminScope()
{
    if (m_active)
        restore();
}

void NetworkAdminScope::restore()
{
    if (!m_wasAmbient)
        ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, CAP_NET_ADMIN, 0, 0);
    ThreadCapabilities caps;
    if (!caps.read())
        return;
    caps.set(&__user_cap_data_struct::effective, m_wasEffective);
    caps.set(&__user_cap_data_struct::inheritable, m_wasInheritable);
    caps.write();
}

#else

bool startedElevated()
{
    return false;
}

void keepOnlyNetworkAdmin()
{
}

bool networkAdminPermitted()
{
    return false;
}

void restrictEnvironment()
{
}

NetworkAdminScope::NetworkAdminScope(int)
{
}

NetworkAdminScope::~NetworkAdminScope()
{
}

void NetworkAdminScope::restore()
{
}

#endif

} // namespace Privileges
} // namespace Varnel
