#pragma once

#include <QString>

namespace Varnel {

// The OpenVPN configuration for one server: the backend's Base64 template
// (read as Latin-1 up to its first zero byte) with the first "remoteIP",
// then the first "remotePort", then the first "remoteServerIP" replaced by
// the host and port of address ("host:port"; the port may be missing).
QString openVpnConfigFromTemplate(const QString &encodedConfig, const QString &address);

} // namespace Varnel

namespace Varnel {

// The transport the configuration's connection uses, "udp" or "tcp": its
// first "proto" directive, else the protocol of its first "remote", else
// OpenVPN's default (UDP).
QString openVpnTransport(const QString &config);

} // namespace Varnel
