#pragma once

#include <QProcess>
#include <QString>
#include <QtGlobal>

namespace Varnel {

// Handle of the OpenConnect command channel (a socket on Windows, the write
// end of a pipe elsewhere); kInvalidCommandSocket when there is none.
using CommandSocket = qint64;
inline constexpr CommandSocket kInvalidCommandSocket = -1;

// Writes the one-byte command to the channel. Returns 0 on success, else the
// system's error number (the socket error on Windows, errno elsewhere).
int sendCommandByte(CommandSocket socket, char command);

// Puts the channel into blocking mode; 0 or the system's error number.
int setCommandSocketBlocking(CommandSocket socket);

// The OpenVPN program: VARNELVPN_OPENVPN when set, else the one beside our
// executable when present, else the system's.
QString openVpnProgram();

// True when OpenVPN is to read its configuration from its standard input
// ("--config stdin") rather than from a file: on Linux, so that the
// profile's keys never touch the disk and nothing can replace the file
// between our check and OpenVPN's read.
bool openVpnConfigFromInput();

// The tunnel script handed to OpenVPN (ours: it passes what the server
// pushed to the service): VARNELVPN_TUNNEL_SCRIPT
// when set, else the one beside our executable when present, else the
// installed one.
QString tunnelScriptPath();

// A child process that does not outlive us: should this process die without
// ending it (SIGKILL, a crash), the system ends the child (SIGTERM) too. For
// OpenVPN, which would otherwise keep a tunnel up that nothing manages. It
// and what it runs never gain a privilege (no_new_privs).
class TiedProcess : public QProcess
{
public:
    explicit TiedProcess(QObject *parent = nullptr);

protected:
    void setupChildProcess() override;

private:
    qint64 m_parentId;
};

// Operating-system name reported to OpenConnect servers.
const char *reportedOsName();

// Process id of the peer of a connected local (Unix-domain) socket, -1 when
// the system cannot tell.
qint64 localPeerProcessId(qintptr socketDescriptor);

// True when path names a regular file (not a link) owned by the user this
// process runs as: files with fixed names in the shared temporary directory
// are read only then.
bool isOwnRegularFile(const QString &path);

} // namespace Varnel
