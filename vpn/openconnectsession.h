#pragma once

#include "platform/vpnplatform.h"
#include "vpn/authform.h"
#include "vpn/tunnel.h"

#include <QFutureWatcher>
#include <QMutex>

#include <atomic>
#include <memory>

struct oc_auth_form;
struct oc_stats;
struct openconnect_info;

namespace Varnel {

class OpenConnectConnection;
class OpenConnectServer;

// One session of the OpenConnect library, from authentication to teardown,
// on a pool thread of its own, and the callbacks the library calls
// meanwhile. The GUI thread reaches the running session only through the
// library's command channel ("x" cancels, "s" asks for byte counts); the
// session reaches the GUI thread only through its signals, which receivers
// take queued. It deletes itself once its thread has ended and the library
// session is freed.
class OpenConnectSession : public Tunnel
{
    Q_OBJECT
public:
    // How long the library tries to bring a lost tunnel back before the
    // session ends (the same time OpenVPN gets, OpenVpnRunner::kConnectBoundMs):
    // meanwhile the window would say the tunnel is up while nothing passes.
    static constexpr int kReconnectSeconds = 30;

    // results: where the last error and the tunnel's addresses are kept for
    // the controller's lastError() and tunnelInfo(); formState: the form
    // filler's memory, which outlives a session.
    OpenConnectSession(OpenConnectConnection *results, const std::shared_ptr<OpenConnectServer> &profile,
                       const AuthFormInput &input, AuthFormState &formState);
    ~OpenConnectSession() override;

    // Creates the library session and its command channel; false (with the
    // error in lastError) when either cannot be made.
    bool prepare();

    void start(const QString &device) override;
    void stop() override;
    void stopFailed(TunnelFailure failure, const QString &detail) override;
    QString device() const override { return m_device; }
    OpenConnectConnection::ConnectResult busy() const override;
    int requestStatistics() override;

    // At the program's end: stops the session and waits for its thread,
    // at most kShutdownPolls x kSettleMs.
    void shutDown();

    // Library callbacks; privdata is the session.
    static int validatePeerCert(void *privdata, const char *reason);
    static int processAuthForm(void *privdata, oc_auth_form *form);
    static void progress(void *privdata, int level, const char *format, ...)
        __attribute__((format(printf, 3, 4)));
    static void statsHandler(void *privdata, const oc_stats *stats);
    static void setupTun(void *privdata);

private:
    // The worker: authenticates, opens the channels, runs the main loop
    // until it ends (a cancel command among others) and reports each step.
    void run();
    // The session failed before it carried traffic: say why, report the end.
    void endEarly(const QString &error);
    // Opens the service's device, hands it to the library and has the service
    // configure it with what the server pushed; false (with the failure
    // noted) when either failed.
    bool setUpDevice();
    void reportEnd();
    void noteFailure(TunnelFailure failure, const QString &detail = QString());
    bool stopRequested() const { return m_state == Stopping; }
    void release();

    OpenConnectConnection *m_results;
    std::shared_ptr<OpenConnectServer> m_profile;
    AuthFormInput m_input;
    AuthFormState &m_formState;
    QString m_device;
    // The device's descriptor, once the library has it (set by the session
    // thread, closed when the session is freed).
    int m_tunFd = -1;
    openconnect_info *m_session = nullptr;
    // Written on the GUI thread only; the session thread reads it to cancel
    // itself when the device cannot be configured.
    std::atomic<CommandSocket> m_commandSocket {kInvalidCommandSocket};
    // The device was set up and configured: a later end is a lost tunnel.
    std::atomic<bool> m_connected {false};
    QFutureWatcher<void> m_watcher;
    // Who ends the session: the thread marks its own end, the GUI thread a
    // requested stop; whoever comes first decides what is reported.
    enum State { Idle, Running, Stopping, Ended };
    std::atomic<int> m_state {Idle};
    // Noted by either thread; the first failure wins.
    mutable QMutex m_failureLock;
    TunnelFailure m_failure = TunnelFailure::None;
    QString m_failureDetail;
};

} // namespace Varnel
