// Connects through the VPN engine inside the lab, for the engine benchmark.
//
//   varnel-engine-probe openconnect|openvpn
//
// Takes the server and credentials from the lab's VARNEL_LAB_* variables.
// Prints "connected <ms>" (from the connect() call to Connected, to 0.1 ms) once the
// tunnel is up, keeps it until SIGTERM or SIGINT, then disconnects and
// prints "disconnected". Exit status 0, or 1 when the attempt failed.

#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using Varnel::OpenConnectConnection;

namespace {

int stopPipe[2] = {-1, -1};

void requestStop(int)
{
    const char byte = 1;
    // Nothing to do about a failed write in a signal handler.
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &byte, 1);
}

QString lab(const char *key)
{
    return qEnvironmentVariable((QByteArray("VARNEL_LAB_") + key).constData());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QString protocol = application.arguments().value(1);
    if (protocol != QLatin1String("openconnect") && protocol != QLatin1String("openvpn")) {
        std::fprintf(stderr, "usage: varnel-engine-probe openconnect|openvpn\n");
        return 2;
    }
    if (::pipe(stopPipe) != 0)
        return 2;
    std::signal(SIGTERM, requestStop);
    std::signal(SIGINT, requestStop);

    OpenConnectConnection::initTls();
    const auto engine = OpenConnectConnection::instance();
    engine->setUsername(lab("USER"));
    engine->setPassword(lab("PASSWORD"));
    if (protocol == QLatin1String("openconnect")) {
        engine->setProtocol(OpenConnectConnection::kOpenConnect);
        engine->setServer(std::make_shared<Varnel::OpenConnectServer>(lab("OCSERV_GATEWAY")));
    } else {
        engine->setProtocol(OpenConnectConnection::kOpenVpn);
        engine->setOpenVpnConfig(lab("OPENVPN_TEMPLATE_B64"), lab("OPENVPN_ADDRESS"));
    }

    bool wasConnected = false;
    bool stopping = false;
    QElapsedTimer timer;
    // Ends the program once the session (and an OpenConnect session's thread) is over.
    QTimer finish;
    finish.setInterval(50);
    QObject::connect(&finish, &QTimer::timeout, &application, [&] {
        if (engine->isSessionRunning())
            return;
        finish.stop();
        if (stopping)
            std::printf("disconnected\n");
        else
            std::printf("failed: %s\n", qPrintable(engine->lastError()));
        std::fflush(stdout);
        QCoreApplication::exit(stopping ? 0 : 1);
    });
    QObject::connect(engine.get(), &OpenConnectConnection::statusChanged, &application,
                     [&](OpenConnectConnection::Status status) {
                         if (status == OpenConnectConnection::Connected && !wasConnected) {
                             wasConnected = true;
                             std::printf("connected %.1f\n", double(timer.nsecsElapsed()) / 1e6);
                             std::fflush(stdout);
                         } else if (status == OpenConnectConnection::Disconnected) {
                             finish.start();
                         }
                     },
                     Qt::QueuedConnection);

    QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &application, [&] {
        stop.setEnabled(false);
        stopping = true;
        engine->disconnect();
    });

    timer.start();
    if (engine->connect() != OpenConnectConnection::Started)
        return 1;
    return QCoreApplication::exec();
}
