#pragma once

class QString;

struct oc_auth_form;
struct oc_stats;

namespace Varnel {

class OpenConnectConnection;

// One session of the OpenConnect library, from authentication to teardown,
// and the callbacks the library calls meanwhile. Everything here runs on the
// session's pool thread; it reaches the GUI thread only through the
// controller's queued statusChanged, statsChanged and failed signals.
class OpenConnectSession
{
public:
    OpenConnectSession() = delete;

    // How long the library tries to bring a lost tunnel back before the
    // session ends (the same time OpenVPN gets, OpenVpnRunner::kConnectBoundMs):
    // meanwhile the window would say the tunnel is up while nothing passes.
    static constexpr int kReconnectSeconds = 30;

    // The worker: authenticates, opens the channels, runs the main loop
    // until it ends (a cancel command among others) and reports each step.
    static void run(OpenConnectConnection *controller);

    // Library callbacks; privdata is the controller.
    static int validatePeerCert(void *privdata, const char *reason);
    static int processAuthForm(void *privdata, oc_auth_form *form);
    static void progress(void *privdata, int level, const char *format, ...)
        __attribute__((format(printf, 3, 4)));
    static void statsHandler(void *privdata, const oc_stats *stats);
    static void setupTun(void *privdata);

private:
    // The session failed before it carried traffic: say why, report the end.
    static void endEarly(OpenConnectConnection *controller, const QString &error);
};

} // namespace Varnel
