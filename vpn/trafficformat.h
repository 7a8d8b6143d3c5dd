#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace Varnel {

// Byte count in human units: "1023 B", "1.5 KB", "1.0 MB", ... up to "EB"
// (units of 1024, one decimal).
QString formatBytes(quint64 bytes);

// The round-trip time shown for the output of one `ping -c 1`: "45 ms" for
// a reply line with "time=45.7 ms" or "time=45ms"; "0 ms" when the output
// has no reply (no "ttl") or no "time=" value.
QString parsePingOutput(const QString &output);

// Arguments of the one-reply ping to host.
QStringList pingArguments(const QString &host);

// Runs the system's ping once to host (bounded) and parses its output;
// "0 ms" for an empty host or one that ping would take for an option.
QString measureRoundTrip(const QString &host);

// The network test's rates: units step by 1000 ("0 Bytes", "999.00 Bytes",
// "1.50 KB"); a negative count counts as 0.
QString formatDecimalBytes(qint64 count, int decimals);

// The network test's reading of ping output: the first word holding "time",
// as "<value> Ms"; "0 Ms" when no reply came back ("ttl" missing); empty
// when ping printed nothing (the label then keeps its text).
QString parseTestPing(const QString &output);

// One bounded ping of host (as measureRoundTrip runs it), its output as text.
QString runPing(const QString &host);

} // namespace Varnel
