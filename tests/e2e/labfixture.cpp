#include "labfixture.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace Varnel {

namespace {

QString &lastErrorText()
{
    static QString text;
    return text;
}

} // namespace

bool Lab::inside()
{
    return !value("ENV").isEmpty() && !value("SCRIPT").isEmpty();
}

QString Lab::value(const char *key)
{
    return QProcessEnvironment::systemEnvironment().value(QStringLiteral("VARNEL_LAB_") + QLatin1String(key));
}

bool Lab::killServer(const QString &server, const QString &signal)
{
    return control({QStringLiteral("kill"), server, signal});
}

bool Lab::startServer(const QString &server)
{
    return control({QStringLiteral("start"), server});
}

QByteArray Lab::openVpnTemplateBase64()
{
    return value("OPENVPN_TEMPLATE_B64").toLatin1();
}

QString Lab::lastError()
{
    return lastErrorText();
}

bool Lab::control(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(value("SCRIPT"), arguments);
    // lab.sh bounds its own waits (15 s for a server to come up); this only
    // keeps a hung script from hanging the test.
    const bool finished = process.waitForFinished(30000);
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    if (!finished)
        process.kill();
    lastErrorText() = QStringLiteral("lab.sh %1: %2").arg(arguments.join(QLatin1Char(' ')),
                                                         output.isEmpty() ? process.errorString() : output);
    return false;
}

} // namespace Varnel
