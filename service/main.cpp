// varnelvpn-service: the one privileged part of VarnelVPN on Linux (see
// README.md beside this file). Runs as root under systemd.

#include "platform/datadir.h"
#include "service/access.h"
#include "service/controller.h"
#include "service/controlserver.h"
#include "service/killswitch.h"
#include "service/log.h"
#include "service/network/tunnelnetwork.h"
#include "service/tundevice.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <sys/signalfd.h>
#include <sys/stat.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

using namespace Varnel::Service;

namespace {

struct Options
{
    std::string socket = Varnel::ServiceProtocol::kDefaultSocket;
    std::string dataDir = Varnel::killSwitchDataDirectory().chopped(1).toStdString();
    std::string config = "/etc/varnelvpn/service.conf";
};

constexpr const char *kUsage = "usage: varnelvpn-service [--socket PATH] [--data-dir DIR] [--config FILE]\n";

bool readOptions(int argc, char **argv, Options *options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        std::string *target = option == "--socket" ? &options->socket
                              : option == "--data-dir" ? &options->dataDir
                              : option == "--config"   ? &options->config
                                                       : nullptr;
        if (!target || i + 1 >= argc || !*argv[i + 1])
            return false;
        *target = argv[++i];
    }
    return true;
}

// The data folder holds what root loads into the firewall and what the
// service alone writes: it must be root's.
bool prepareDataDir(const std::string &dir)
{
    if (::mkdir(dir.c_str(), 0755) == 0)
        ::chmod(dir.c_str(), 0755);
    struct stat info {};
    if (::lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        Log::error(dir + ": not a folder");
        return false;
    }
    if (info.st_uid != 0 || (info.st_mode & (S_IWGRP | S_IWOTH))) {
        Log::error(dir + ": others than root may change it");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!readOptions(argc, argv, &options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (::geteuid() != 0) {
        std::fputs("varnelvpn-service: runs as root only\n", stderr);
        return 1;
    }
    ::umask(022);
    // Stop signals arrive as events of the loop (below); blocked before
    // any thread exists, so that none of them takes one.
    sigset_t stops;
    sigemptyset(&stops);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stops, signal);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Only argv[0]: no option of Qt's reaches a root process this way.
    int argcQt = 1;
    QCoreApplication app(argcQt, argv);

    if (!prepareDataDir(options.dataDir))
        return 1;

    // The block first: the unit runs before the network comes up.
    KillSwitch killSwitch(options.dataDir);
    killSwitch.start();

    Access access;
    std::string error;
    if (!access.load(options.config, &error)) {
        Log::error(error);
        return 1;
    }

    // What a killed service left behind.
    std::string listError;
    for (const std::string &device : TunDevice::leftovers(&listError)) {
        if (TunDevice::remove(device, &error))
            Log::info("removed the device " + device + " left by an earlier run");
        else
            Log::error("the device " + device + " left by an earlier run could not be removed: " + error);
    }
    if (!listError.empty())
        Log::error("the devices left by an earlier run could not be listed: " + listError);
    TunnelNetwork::recover(options.dataDir);

    Controller controller(options.dataDir, access, killSwitch);
    ControlServer server([&controller](const Peer &peer, const std::string &payload) { return controller.handle(peer, payload); },
                         [&controller](const Peer &peer) { controller.connectionEnded(peer); });
    controller.setServer(&server);
    if (!server.listen(options.socket, &error)) {
        Log::error("cannot listen: " + error);
        return 1;
    }

    const int stopFd = ::signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
    if (stopFd < 0) {
        Log::error(std::string("signalfd: ") + std::strerror(errno));
        return 1;
    }
    QSocketNotifier stopNotifier(stopFd, QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [&] {
        signalfd_siginfo info {};
        if (::read(stopFd, &info, sizeof info) != sizeof info)
            return;
        Log::info(std::string("stopping on ") + strsignal(int(info.ssi_signo)));
        controller.stop();
        app.quit();
    });

    Log::info("listening on " + options.socket + (access.allowedGroup().empty()
                                                      ? std::string(", tunnels for every user")
                                                      : ", tunnels for the group " + access.allowedGroup()));
    const int status = app.exec();
    ::close(stopFd);
    return status;
}
