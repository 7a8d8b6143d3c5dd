#include "vpn/trafficformat.h"

#include "vpn/scriptrunner.h"

#include <QRegularExpression>

namespace Varnel {

namespace {

// -W 2 bounds the wait for the reply; this bounds the whole run (name
// resolution included), since the GUI thread waits for it.
constexpr int kPingTimeoutMs = 5000;

const QString kNoRoundTrip = QStringLiteral("0 ms");

} // namespace

QString formatBytes(quint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    // The unit is the whole part of log base 1024, counted in integers: a
    // floating logarithm puts exact powers such as 1024^4 one unit low.
    static const char kUnits[] = "KMGTPE";
    int exponent = 0;
    quint64 scale = 1;
    while (bytes / scale >= 1024) {
        scale *= 1024;
        ++exponent;
    }
    const double value = double(bytes) / double(scale);
    return QStringLiteral("%1 %2B").arg(value, 0, 'f', 1).arg(QLatin1Char(kUnits[exponent - 1]));
}

QString parsePingOutput(const QString &output)
{
    if (!output.contains(QLatin1String("ttl"), Qt::CaseInsensitive))
        return kNoRoundTrip;
    // At any white space, not just blanks: a value that ends its line
    // ("time=45ms") would otherwise take the next lines along.
    static const QRegularExpression kWhiteSpace(QStringLiteral("\\s+"));
    const QStringList pieces = output.split(kWhiteSpace, Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        // "time=", not just "time": the summary line's "time 0ms" (all a
        // reply without timestamp leaves) or a host name would be taken.
        if (!piece.contains(QLatin1String("time=")))
            continue;
        QString milliseconds = piece.split(QLatin1Char('=')).last().split(QLatin1Char('.')).first();
        milliseconds.remove(QLatin1String("ms"));
        return milliseconds + QLatin1String(" ms");
    }
    return kNoRoundTrip;
}

QStringList pingArguments(const QString &host)
{
#ifdef Q_OS_WIN
    return {QStringLiteral("-c"), QStringLiteral("1"), host};
#else
    // -W 2: give up on the reply after two seconds (Linux iputils).
    return {QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"), QStringLiteral("2"), host};
#endif
}

QString runPing(const QString &host)
{
    // A leading dash would be read as an option of ping.
    if (host.isEmpty() || host.startsWith(QLatin1Char('-')))
        return QString();
    const ScriptResult result = ScriptRunner(kPingTimeoutMs).run(QStringLiteral("ping"), pingArguments(host));
    return QString::fromLatin1(result.standardOutput);
}

QString measureRoundTrip(const QString &host)
{
    const QString output = runPing(host);
    return output.isEmpty() ? kNoRoundTrip : parsePingOutput(output);
}

QString formatDecimalBytes(qint64 count, int decimals)
{
    static const char *const kUnits[] = {"Bytes", "KB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
    if (count <= 0)
        return QStringLiteral("0 Bytes");
    // Whole powers of 1000 counted in integers: a floating logarithm puts
    // 1000^2 one unit low.
    int unit = 0;
    qint64 scale = 1;
    while (count / scale >= 1000) {
        scale *= 1000;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(double(count) / double(scale), 0, 'f', decimals).arg(QLatin1String(kUnits[unit]));
}

QString parseTestPing(const QString &output)
{
    if (output.isEmpty())
        return QString();
    if (!output.contains(QLatin1String("ttl"), Qt::CaseInsensitive))
        return QStringLiteral("0 Ms");
    // At any white space, as for the statistics panel: a value that ends
    // its line would otherwise take the next lines along.
    static const QRegularExpression kWhiteSpace(QStringLiteral("\\s+"));
    for (const QString &piece : output.split(kWhiteSpace, Qt::SkipEmptyParts)) {
        if (!piece.contains(QLatin1String("time")))
            continue;
        QString value = piece.split(QLatin1Char('=')).last().split(QLatin1Char('.')).first();
        value.remove(QLatin1String("ms"));
        return value + QLatin1String(" Ms");
    }
    return QStringLiteral("0 Ms");
}

} // namespace Varnel
