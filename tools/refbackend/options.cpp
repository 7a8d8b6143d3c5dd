#include "options.h"

#include <QCommandLineParser>
#include <QDir>

#include <arpa/inet.h>

namespace Varnel::RefBackend {

namespace {

bool readInt(const QCommandLineParser &parser, const QString &name, int min, int max, int *out, QString *error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < min || value > max) {
        *error = QStringLiteral("--%1 takes a whole number from %2 to %3").arg(name).arg(min).arg(max);
        return false;
    }
    *out = value;
    return true;
}

} // namespace

bool parseOptions(const QStringList &arguments, ServerOptions *options, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Local stand-in for the VarnelVPN backend, bound to 127.0.0.1 unless --host says otherwise."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("host"), QStringLiteral("IPv4 address to listen on (a lab's address)."),
         QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("port"), QStringLiteral("Port to listen on; 0 picks a free one."), QStringLiteral("N"),
         QStringLiteral("0")},
        {QStringLiteral("data"), QStringLiteral("JSON data file (accounts, servers, vouchers)."),
         QStringLiteral("FILE"), QStringLiteral(REFBACKEND_DEMO_DATA)},
        {QStringLiteral("cert-dir"), QStringLiteral("Directory filled by make-certs.sh."), QStringLiteral("DIR")},
        {QStringLiteral("rogue"), QStringLiteral("Serve the certificate of the second, unknown CA from --cert-dir.")},
        {QStringLiteral("cert"), QStringLiteral("Server certificate (PEM); overrides --cert-dir."),
         QStringLiteral("FILE")},
        {QStringLiteral("key"), QStringLiteral("Server private key (PEM); overrides --cert-dir."),
         QStringLiteral("FILE")},
        {QStringLiteral("plain"), QStringLiteral("Serve plain HTTP instead of HTTPS.")},
        {QStringLiteral("fault"), QStringLiteral("Misbehave from the start: status500, notjson, close or delay."),
         QStringLiteral("MODE")},
        {QStringLiteral("fault-path"), QStringLiteral("Path the fault applies to; * for every path."),
         QStringLiteral("PATH"), QString::fromLatin1(FaultInjector::kAnyPath)},
        {QStringLiteral("delay-ms"), QStringLiteral("Wait this long before answering."), QStringLiteral("N")},
        {QStringLiteral("fault-times"), QStringLiteral("Only for this many requests (0: until cleared)."),
         QStringLiteral("N")},
    });
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(0);     // exits
    }

    int times = 0;
    if (!readInt(parser, QStringLiteral("port"), 0, 65535, &options->port, error)
        || !readInt(parser, QStringLiteral("delay-ms"), 0, 600000, &options->fault.delayMs, error)
        || !readInt(parser, QStringLiteral("fault-times"), 0, 1000000, &times, error))
        return false;
    options->fault.remaining = times > 0 ? times : -1;
    if (parser.isSet(QStringLiteral("fault"))
        && !Fault::modeFromName(parser.value(QStringLiteral("fault")), &options->fault.mode)) {
        *error = QStringLiteral("--fault is one of status500, notjson, close, delay");
        return false;
    }
    if (parser.value(QStringLiteral("fault")) == QLatin1String("delay") && options->fault.delayMs == 0) {
        *error = QStringLiteral("--fault delay needs --delay-ms");
        return false;
    }
    // One concrete address: it is also the host of every address the server hands out.
    const QString host = parser.value(QStringLiteral("host"));
    in_addr address {};
    if (inet_pton(AF_INET, host.toLatin1().constData(), &address) != 1 || address.s_addr == INADDR_ANY) {
        *error = QStringLiteral("--host takes one IPv4 address, not %1").arg(host);
        return false;
    }
    options->host = host;
    options->faultPath = parser.value(QStringLiteral("fault-path"));
    options->dataFile = parser.value(QStringLiteral("data"));
    options->plain = parser.isSet(QStringLiteral("plain"));

    if (parser.isSet(QStringLiteral("cert-dir"))) {
        const QDir dir(parser.value(QStringLiteral("cert-dir")));
        const QString stem = parser.isSet(QStringLiteral("rogue")) ? QStringLiteral("rogue-server")
                                                                    : QStringLiteral("server");
        options->certFile = dir.filePath(stem + QStringLiteral(".crt"));
        options->keyFile = dir.filePath(stem + QStringLiteral(".key"));
    }
    if (parser.isSet(QStringLiteral("cert")))
        options->certFile = parser.value(QStringLiteral("cert"));
    if (parser.isSet(QStringLiteral("key")))
        options->keyFile = parser.value(QStringLiteral("key"));
    if (!options->plain && (options->certFile.isEmpty() || options->keyFile.isEmpty())) {
        *error = QStringLiteral("HTTPS needs --cert-dir (or --cert and --key); use --plain for HTTP");
        return false;
    }
    return true;
}

} // namespace Varnel::RefBackend
