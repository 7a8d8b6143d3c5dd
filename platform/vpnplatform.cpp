#include "platform/vpnplatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <csignal>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Varnel {

namespace {

// Our executable's directory joined with name, when such a file exists.
QString besideExecutable(const QString &name)
{
    const QString path = QCoreApplication::applicationDirPath() + QDir::separator() + name;
    return QFileInfo::exists(path) ? path : QString();
}

} // namespace

TiedProcess::TiedProcess(QObject *parent)
    : QProcess(parent)
    , m_parentId(QCoreApplication::applicationPid())
{
}

#ifdef Q_OS_WIN

void TiedProcess::setupChildProcess()
{
    // Not done here yet: a job object that closes with us would do it.
}

int sendCommandByte(CommandSocket socket, char command)
{
    return send(SOCKET(socket), &command, 1, 0) == 1 ? 0 : WSAGetLastError();
}

int setCommandSocketBlocking(CommandSocket socket)
{
    u_long nonBlocking = 0;
    return ioctlsocket(SOCKET(socket), FIONBIO, &nonBlocking) == 0 ? 0 : WSAGetLastError();
}

QString openVpnProgram()
{
    const QString configured = qEnvironmentVariable("VARNELVPN_OPENVPN");
    if (!configured.isEmpty())
        return configured;
    return QCoreApplication::applicationDirPath() + QDir::separator() + QStringLiteral("openvpn.exe");
}

QString tunnelScriptPath()
{
    return QCoreApplication::applicationDirPath() + QDir::separator() + QStringLiteral("vpnc-script.js");
}

const char *reportedOsName()
{
    return "win";
}

bool openVpnConfigFromInput()
{
    return false;
}

qint64 localPeerProcessId(qintptr socketDescriptor)
{
    ULONG pid = 0;
    return GetNamedPipeClientProcessId(HANDLE(socketDescriptor), &pid) ? qint64(pid) : -1;
}

bool isOwnRegularFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

#else

void TiedProcess::setupChildProcess()
{
    // In the child, between fork and exec: only async-signal-safe calls.
    // Nothing it runs gains a privilege (a file capability, set-uid).
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // We may have died before the line above took effect.
    if (::getppid() != pid_t(m_parentId))
        ::_exit(1);
}

int sendCommandByte(CommandSocket socket, char command)
{
    // The library's command channel is a pipe here, so write(), not send().
    ssize_t written;
    do {
        written = ::write(int(socket), &command, 1);
    } while (written < 0 && errno == EINTR);
    return written == 1 ? 0 : (written < 0 ? errno : EAGAIN);
}

int setCommandSocketBlocking(CommandSocket socket)
{
    const int flags = ::fcntl(int(socket), F_GETFL);
    if (flags < 0 || ::fcntl(int(socket), F_SETFL, flags & ~O_NONBLOCK) < 0)
        return errno;
    return 0;
}

QString openVpnProgram()
{
    const QString configured = qEnvironmentVariable("VARNELVPN_OPENVPN");
    if (!configured.isEmpty())
        return configured;
    const QString bundled = besideExecutable(QStringLiteral("openvpn"));
    if (!bundled.isEmpty())
        return bundled;
    // Debian installs it in /usr/sbin, which an ordinary user's PATH lacks.
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("openvpn"));
    if (!onPath.isEmpty())
        return onPath;
    return QStandardPaths::findExecutable(QStringLiteral("openvpn"),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
}

QString tunnelScriptPath()
{
    const QString configured = qEnvironmentVariable("VARNELVPN_TUNNEL_SCRIPT");
    if (!configured.isEmpty())
        return configured;
    const QString bundled = besideExecutable(QStringLiteral("varnelvpn-tunnel-script"));
    return bundled.isEmpty() ? QStringLiteral("/usr/libexec/varnelvpn/varnelvpn-tunnel-script") : bundled;
}

const char *reportedOsName()
{
    return "linux-64";
}

bool openVpnConfigFromInput()
{
    return true;
}

qint64 localPeerProcessId(qintptr socketDescriptor)
{
    ucred credentials {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0
        || length != sizeof credentials || credentials.pid <= 0)
        return -1;
    return credentials.pid;
}

bool isOwnRegularFile(const QString &path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    return S_ISREG(status.st_mode) && status.st_uid == ::geteuid();
}

#endif

} // namespace Varnel
