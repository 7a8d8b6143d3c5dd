#pragma once

#include <QString>
#include <QtGlobal>

namespace Varnel {

// One line that OpenVPN writes on its management connection, as far as the
// runner cares about it.
struct ManagementLine {
    enum Kind {
        Other,              // ignored
        PasswordRequest,    // wants the user name and password
        VerificationFailed, // the server rejected them
        StateConnected,     // the tunnel is up
        StateConnecting,    // (re)connecting
        ByteCount,          // down = bytes received, up = bytes sent
    };
    Kind kind = Other;
    qint64 down = 0;
    qint64 up = 0;

    // Classifies a trimmed line; the first matching rule wins.
    static ManagementLine parse(const QString &line);
};

// A credential as an argument of the "username"/"password" commands: each
// backslash and double quote escaped with a backslash, the whole in double
// quotes.
QString quoteManagementArgument(const QString &value);

// True when the text holds no control character. OpenVPN drops a tab
// silently and a line break ends the command (the rest would run as a
// command of its own), so such credentials are never sent.
bool isSendableCredential(const QString &value);

} // namespace Varnel
