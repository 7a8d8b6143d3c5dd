// Connect time through the window against the engine alone, in the demo
// network (run by demo-bench.sh inside the demo's client namespace, with the
// client's environment of the demo).
//
//   varnel-bench-demo [--runs N] SERVER_ID...
//
// For each server (an ip_id of the demo data), runs alternate (window, engine,
// engine, window, ...) after one untimed run of each:
//  - window: a root window as the program makes it (with the hidden connect
//    page of start-up), logged in automatically; from the press on
//    "btnConnect" to the first paint of "lblProtectedText" showing
//    "Protected Now";
//  - engine: no window at all; the controller prepared as the connect page
//    prepares it, from connect() to Connected as a queued observer sees it.
// A fresh window per window run keeps the engine runs free of any page.
// Prints the medians (ms, to 0.1) of the wall time and of the GUI thread's
// CPU time over the same span (the window's own work, whatever else the
// machine runs), and their differences; exit status 1 when a run fails.

#include "app/fonts.h"
#include "app/rootwindow.h"
#include "app/startup.h"
#include "backend/ipbundle.h"
#include "backend/user.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "platform/serviceclient.h"
#include "pages/connect/connectpage.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"

#include <QApplication>
#include <QHostAddress>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

using namespace Varnel;

namespace {

constexpr int kStepTimeoutMs = 30000;
const auto kProtected = QStringLiteral("Protected Now");

qint64 threadCpuNs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// A span measured from its start: wall time and this thread's CPU time.
struct Span {
    QElapsedTimer wall;
    qint64 cpuStart = 0;
    qint64 wallNs = -1;
    qint64 cpuNs = -1;
    // Window runs: when Connected reached a queued observer connected after the
    // window's own slots, i.e. once the window had handled it.
    qint64 connectedNs = -1;
    // Engine runs: when a packet to the target behind the tunnels would first
    // leave through a tunnel (its route and the tunnel's address in place).
    qint64 routedNs = -1;

    void start()
    {
        cpuStart = threadCpuNs();
        wall.start();
    }
    void end()
    {
        if (wallNs >= 0)
            return;
        wallNs = wall.nsecsElapsed();
        cpuNs = threadCpuNs() - cpuStart;
    }
    bool ended() const { return wallNs >= 0; }
};

QString loadAverage()
{
    QFile load(QStringLiteral("/proc/loadavg"));
    return load.open(QIODevice::ReadOnly) ? QString::fromLatin1(load.readAll().split(' ').mid(0, 3).join(' '))
                                          : QStringLiteral("unknown");
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n == 0 ? 0.0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0);
}

// Runs the event loop until done() holds; false after the time limit.
template<class Done> bool waitFor(Done done, int timeoutMs = kStepTimeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// Until the tunnel has let go of everything, its device at the service too
// (given back when the tunnel object goes, as a program's event loop deletes
// it): the next run's connect then measures a connect, not this teardown.
// The service answers a close before it removes the device and reads its next
// request after that, so a status round trip waits for the removal; without
// it a run that starts at once would pay for the last one's teardown, which
// no user reconnecting by hand meets.
bool tunnelDown()
{
    const auto engine = OpenConnectConnection::instance();
    const bool released = waitFor([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return engine->status() == OpenConnectConnection::Disconnected && !engine->isSessionRunning()
               && engine->tunnelDevice().isEmpty();
    });
    QString error;
    return released && askService(ServiceProtocol::Message("status"), &error).has_value();
}

// Ends a span at the first paint of a label that says "Protected Now".
class PaintWatch : public QObject
{
public:
    PaintWatch(QLabel *label, Span *span) : m_label(label), m_span(span) { label->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_label && event->type() == QEvent::Paint && m_label->text() == kProtected)
            m_span->end();
        return false;
    }

private:
    QLabel *m_label;
    Span *m_span;
};

// The program's window, as start-up makes it.
struct Window {
    std::unique_ptr<RootWindow> root;
    std::unique_ptr<ConnectPage> hiddenPage;
    QStackedWidget *stack = nullptr;

    explicit Window(bool withHiddenPage)
        : root(std::make_unique<RootWindow>(QStringLiteral("not")))
    {
        if (withHiddenPage) {
            hiddenPage = std::make_unique<ConnectPage>();
            qApp->installEventFilter(hiddenPage.get());
        }
        root->resize(1080, 740);
        root->show();
        stack = root->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    }
    bool reaches(int page) { return stack && waitFor([&] { return stack->currentIndex() == page; }); }
    template<class T> T *child(const char *name) const { return root->findChild<T *>(QLatin1String(name)); }
};

// One connect through the window, logged in automatically.
Span windowRun()
{
    Span span;
    Window window(true);
    if (!window.reaches(3))
        return span;
    QTest::qWait(500);   // the pages' start-up timers are done
    auto *button = window.child<QPushButton>("btnConnect");
    auto *label = window.child<QLabel>("lblProtectedText");
    if (!button || !label)
        return span;
    PaintWatch watch(label, &span);
    QObject observer;
    QObject::connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged, &observer,
                     [&](OpenConnectConnection::Status status) {
                         if (status == OpenConnectConnection::Connected && span.connectedNs < 0)
                             span.connectedNs = span.wall.nsecsElapsed();
                     },
                     Qt::QueuedConnection);
    span.start();
    QTest::mousePress(button, Qt::LeftButton);
    const bool shown = waitFor([&] { return span.ended(); });
    QTest::mouseRelease(button, Qt::LeftButton);
    QTest::mousePress(button, Qt::LeftButton);   // the same button disconnects
    QTest::mouseRelease(button, Qt::LeftButton);
    if (!tunnelDown() || !shown)
        span.wallNs = -1;
    return span;
}

// True when the kernel would send a packet to the target through a tunnel:
// a route to it exists and its source address is not the one it had before
// the connect (the physical link's, or none).
quint32 sourceFor(quint32 target)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(target);
    quint32 source = 0;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0) {
        sockaddr_in local {};
        socklen_t length = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) == 0)
            source = ntohl(local.sin_addr.s_addr);
    }
    if (fd >= 0)
        ::close(fd);
    return source;
}

// One connect through the controller alone, prepared as the connect page does.
Span engineRun()
{
    Span span;
    const auto engine = OpenConnectConnection::instance();
    const auto bundle = User::instance()->activeBundle();
    if (!bundle)
        return span;
    engine->setProtocol(bundle->type());
    engine->setOpenVpnConfig(bundle->config(), bundle->ip());
    if (const auto profile = engine->server())
        profile->gateway = bundle->ip();
    else
        engine->setServer(std::make_shared<OpenConnectServer>(bundle->ip()));

    QObject observer;
    QObject::connect(engine.get(), &OpenConnectConnection::statusChanged, &observer,
                     [&](OpenConnectConnection::Status status) {
                         if (status == OpenConnectConnection::Connected)
                             span.end();
                     },
                     Qt::QueuedConnection);
    const quint32 target = QHostAddress(qEnvironmentVariable("VARNELVPN_PING_TARGET")).toIPv4Address();
    const quint32 before = sourceFor(target);
    span.start();
    if (engine->connect() != OpenConnectConnection::Started)
        return span;
    const bool up = waitFor([&] { return span.ended(); });
    if (up && target && waitFor([&] {
            const quint32 now = sourceFor(target);
            return now != 0 && now != before;
        }, 5000))
        span.routedNs = span.wall.nsecsElapsed();
    engine->disconnect();
    if (!tunnelDown() || !up)
        span.wallNs = -1;
    return span;
}

// Logs in once through the login page, as a user does; later windows log in automatically.
bool firstLogin(const QString &user, const QString &password)
{
    Window window(false);
    auto *name = window.child<QLineEdit>("editUsername");
    auto *secret = window.child<QLineEdit>("editPassword");
    if (!name || !secret || !window.reaches(2))
        return false;
    name->setText(user);
    secret->setText(password);
    QMetaObject::invokeMethod(window.child<QWidget>("loginPage"), "on_btnLogin_pressed");
    return window.reaches(3);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QCoreApplication::setApplicationName(QLatin1String(kApplicationId));
    QCoreApplication::setOrganizationName(organizationName());
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    qRegisterMetaType<OpenConnectConnection::Status>("Status");
    registerFonts(montserratFonts());
    applyStyleSheet(app);
    OpenConnectConnection::initTls();
    Config::instance()->load();

    QStringList args = app.arguments().mid(1);
    int runs = 11;
    if (args.size() >= 2 && args.first() == QLatin1String("--runs")) {
        runs = args.at(1).toInt();
        args = args.mid(2);
    }
    if (args.isEmpty() || runs < 1) {
        std::fprintf(stderr, "usage: varnel-bench-demo [--runs N] SERVER_ID...\n");
        return 2;
    }
    // A message box means a failed step, and it would wait for a press for
    // ever: say what it says and end.
    QTimer boxWatch;
    QObject::connect(&boxWatch, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::fprintf(stderr, "a message box: %s %s\n", qPrintable(box->text()), qPrintable(box->informativeText()));
            std::fflush(stdout);
            std::fflush(stderr);
            std::_Exit(1);
        }
    });
    boxWatch.start(200);
    if (!firstLogin(qEnvironmentVariable("VARNEL_DEMO_USER"), qEnvironmentVariable("VARNEL_DEMO_PASSWORD"))) {
        std::fprintf(stderr, "the login failed\n");
        return 1;
    }

    for (const QString &id : args) {
        Config::instance()->setActiveServer(id.toInt());
        Config::instance()->save();
        const auto bundle = User::instance()->activeBundle();
        if (!bundle || bundle->ipId() != id.toInt()) {
            std::fprintf(stderr, "no server %s in the list\n", qPrintable(id));
            return 1;
        }
        // Untimed: the first connect of each kind pins the server's key, starts pools.
        if (!windowRun().ended() || !engineRun().ended()) {
            std::fprintf(stderr, "%s: a connect failed: %s\n", qPrintable(id),
                         qPrintable(OpenConnectConnection::instance()->lastError()));
            return 1;
        }
        QVector<double> windowWall, windowCpu, engineWall, engineCpu, windowUp, windowShown, engineRouted;
        for (int i = 0; i < 2 * runs; ++i) {
            // window, engine, engine, window, ...: a drift of the load falls on both.
            const bool asWindow = (i % 2 == 0) == ((i / 2) % 2 == 0);
            const Span span = asWindow ? windowRun() : engineRun();
            if (span.wallNs < 0) {
                std::fprintf(stderr, "%s: a connect failed\n", qPrintable(id));
                return 1;
            }
            (asWindow ? windowWall : engineWall).append(double(span.wallNs) / 1e6);
            (asWindow ? windowCpu : engineCpu).append(double(span.cpuNs) / 1e6);
            if (asWindow && span.connectedNs >= 0) {
                windowUp.append(double(span.connectedNs) / 1e6);
                windowShown.append(double(span.wallNs - span.connectedNs) / 1e6);
            }
            if (!asWindow && span.routedNs >= 0)
                engineRouted.append(double(span.routedNs) / 1e6);
        }
        const double ww = median(windowWall), ew = median(engineWall);
        const double wc = median(windowCpu), ec = median(engineCpu);
        std::printf("server %s (%s, %s), connect, median of %d (load average %s):\n"
                    "  window (press to \"Protected Now\" painted) %.1f ms, engine alone %.1f ms: the window adds %.1f ms"
                    " (%.2f times the engine's)\n"
                    "  GUI thread CPU over the same spans: window %.1f ms, engine alone %.1f ms: the window adds %.1f ms\n"
                    "  window runs: press to Connected handled %.1f ms, then to painted %.1f ms\n",
                    qPrintable(id), qPrintable(bundle->ip()),
                    bundle->type() == OpenConnectConnection::kOpenVpn ? "OpenVPN" : "OpenConnect", runs,
                    qPrintable(loadAverage()), ww, ew, ww - ew, ww / ew, wc, ec, wc - ec, median(windowUp),
                    median(windowShown));
        std::printf("  engine runs: connect to a route through the tunnel %.1f ms (%d of the runs had one)\n",
                    median(engineRouted), int(engineRouted.size()));
        std::fflush(stdout);
    }
    return 0;
}
