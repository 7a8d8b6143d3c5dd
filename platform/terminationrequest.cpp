#include "platform/terminationrequest.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Varnel {

namespace {

// The handler may only write to a descriptor; the GUI thread reads it.
int g_signalSocket[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const ssize_t ignored = ::write(g_signalSocket[0], &byte, 1);
    (void)ignored;
}

} // namespace

TerminationRequest::TerminationRequest(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalSocket) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(g_signalSocket[1], bytes, sizeof bytes) > 0) {
        }
        emit requested();
    });

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

TerminationRequest::~TerminationRequest()
{
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    delete m_notifier;
    for (int &fd : g_signalSocket) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace Varnel
