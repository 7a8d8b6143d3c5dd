#pragma once

#include <QByteArrayList>

namespace Varnel {

// The one right the client may hold beyond its user's: CAP_NET_ADMIN, which
// the installed executable gets from a file capability (permitted only). It
// is used where a tunnel or the kill switch needs it and nowhere else:
//  - at start, every other capability is dropped and CAP_NET_ADMIN is kept
//    in the permitted set only, so no code runs with it by default;
//  - a NetworkAdminScope raises it for one thread: effective (the thread may
//    configure the network itself) and/or ambient (programs that the thread
//    starts inherit it), and lowers it again when the scope ends.
// Capabilities belong to threads on Linux, so a scope affects no other thread.
// On Windows and for root nothing changes: every function here is a no-op
// or reports the process as it is.
namespace Privileges {

// True when the kernel started this process with more rights than its caller
// had (a file capability or set-id bit: AT_SECURE). Its caller chose the
// environment and arguments, which must then not pick code or programs.
bool startedElevated();

// Drops every capability but CAP_NET_ADMIN and keeps that one in the
// permitted set only (not effective, not inheritable, not ambient). For a
// process started elevated; call first in main(), before any thread exists,
// so that every later thread starts without it.
void keepOnlyNetworkAdmin();

// True when this thread may raise CAP_NET_ADMIN: it is in the permitted set
// (root has it there too).
bool networkAdminPermitted();

// The environment that an elevated start keeps: session, display, locale and
// the client's own address settings, none of which chooses code to load or
// programs to run. Everything else goes (QT_PLUGIN_PATH, GTK_MODULES,
// VARNELVPN_OPENVPN, VARNELVPN_DATA_DIR, ...), and PATH becomes fixedPath().
QByteArrayList keptEnvironment(const QByteArrayList &environment);

// Replaces the process environment by keptEnvironment() of it. Before any
// thread exists (setenv is not thread-safe).
void restrictEnvironment();

// The search path of an elevated start: root-owned system folders only.
QByteArray fixedPath();

class NetworkAdminScope
{
public:
    enum Use {
        Effective = 1,   // this thread configures the network itself
        Inherited = 2,   // programs started by this thread get it (ambient)
    };

    // Raises CAP_NET_ADMIN for the calling thread as asked, when it is
    // permitted; otherwise does nothing (active() false).
    explicit NetworkAdminScope(int uses);
    // Restores the thread's previous state. Must run on the same thread.
    ~NetworkAdminScope();

    NetworkAdminScope(const NetworkAdminScope &) = delete;
    NetworkAdminScope &operator=(const NetworkAdminScope &) = delete;

    bool active() const { return m_active; }

private:
    void restore();

    bool m_active = false;
    bool m_wasEffective = false;
    bool m_wasInheritable = false;
    bool m_wasAmbient = false;
};

} // namespace Privileges

} // namespace Varnel
