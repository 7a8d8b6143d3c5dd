#pragma once

#include "common/serviceprotocol.h"

#include <QString>

#include <cstdarg>
#include <string>

struct oc_ip_info;

namespace Varnel {

// What the OpenConnect session learned about its tunnel, for the log and
// for display.
struct TunnelInfo {
    QString ipv4;        // address, "/" and the netmask when known
    QString ipv6;        // address, "/" and the netmask when known
    QString dns;         // "first, second third"
    QString cstpCipher;
    QString dtlsCipher;
    QString device;      // the tunnel device, once set up ("tun0")

    // Fills the address fields from the library's address record, each
    // only from what the record holds.
    void readAddresses(const oc_ip_info &info);
};

// The service's "configure" request for the device: what the server pushed,
// from the library's record (addresses, MTU, split routes, none meaning
// everything, excludes and DNS servers).
ServiceProtocol::Message configureRequest(const std::string &device, const oc_ip_info &info);

// A library progress message formatted as it is logged: at most 511
// characters, without one trailing line feed.
QString formatProgress(const char *format, va_list arguments);

} // namespace Varnel
