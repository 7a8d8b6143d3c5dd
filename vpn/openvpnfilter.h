#pragma once

#include <QByteArray>
#include <QString>

namespace Varnel {

// What checkOpenVpnConfig() thinks of a configuration.
struct OpenVpnConfigVerdict {
    bool accepted = true;
    int line = 0;        // 1-based line of the first thing refused
    QString directive;   // the directive or inline block refused (empty for an unreadable line)
    QString reason;      // why, for the log
};

// The configuration comes from the backend, and OpenVPN runs it with our
// privileges: besides scripts (stopped by --script-security 1) many
// directives load code or write files (plugin, log, status, writepid, cd,
// config, tmp-dir, management, auth-user-pass FILE, ...). So only the
// directives a provider's client profile needs are let through: remote,
// protocol and device, ciphers and TLS settings, certificates and keys as
// inline blocks, compression, timers, MTU, routes, verbosity. Anything else
// is refused.
//
// config is the text exactly as OpenVPN will read it. Lines are split and
// read the way OpenVPN reads its configuration file (quotes, backslashes,
// "#"/";" comments, a leading "--", inline <tag> blocks ended by a line
// starting with </tag>); lines longer than kMaxLineLength, control
// characters and unterminated quotes or blocks are refused rather than
// guessed at.
OpenVpnConfigVerdict checkOpenVpnConfig(const QByteArray &config);

// OpenVPN reads a configuration line in pieces of 255 bytes, the rest of a
// longer line as a line of its own; such lines are refused.
inline constexpr int kMaxOpenVpnLineLength = 250;

} // namespace Varnel
