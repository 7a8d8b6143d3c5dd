// Output of the system's ping as the statistics panel and the network test
// read it, and the two byte formatters.

#include "fuzzsupport.h"

#include "vpn/trafficformat.h"

#include <QRegularExpression>

using namespace Varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    VarnelFuzz::Input input(data, size);
    const quint64 bytes = input.number();
    const qint64 count = qint64(input.number());
    const int decimals = input.byte() % 8;

    static const QRegularExpression kBinary(QStringLiteral("^(\\d{1,4} B|\\d{1,4}\\.\\d [KMGTPE]B)$"));
    const QString binary = formatBytes(bytes);
    VarnelFuzz::check(kBinary.match(binary).hasMatch(), "formatBytes");
    // A value is shown below 1024 of its unit, apart from rounding up to it.
    VarnelFuzz::check(binary.section(QLatin1Char(' '), 0, 0).toDouble() <= 1024.0, "formatBytes unit");

    static const QRegularExpression kDecimal(QStringLiteral("^(0 Bytes|\\d{1,4}(\\.\\d+)? (Bytes|KB|MB|GB|TB|PB|EB))$"));
    VarnelFuzz::check(kDecimal.match(formatDecimalBytes(count, decimals)).hasMatch(), "formatDecimalBytes");

    const QString output = QString::fromLatin1(input.rest());
    VarnelFuzz::check(parsePingOutput(output).endsWith(QLatin1String(" ms")), "statistics ping");
    const QString test = parseTestPing(output);
    VarnelFuzz::check(output.isEmpty() ? test.isEmpty() : test.endsWith(QLatin1String(" Ms")), "network test ping");
    return 0;
}
