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

void Lab::endProcess(QProcess &process, int graceMs)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(graceMs)) {
        process.kill();
        process.waitForFinished(graceMs);
    }
}

bool Lab::run(const QString &program, const QStringList &arguments, QString *error, const QByteArray &input,
              const QString &workDir)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(workDir);
    process.start(program, arguments);
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    // lab.sh bounds its own waits (15 s for a server to come up); this only
    // keeps a hung command from hanging the test.
    const bool finished = process.waitForFinished(30000);
    if (!finished)
        process.kill();
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    *error = QStringLiteral("%1 %2: %3").arg(program, arguments.join(QLatin1Char(' ')),
                                             output.isEmpty() ? process.errorString() : output);
    return false;
}

bool Lab::control(const QStringList &arguments)
{
    return run(value("SCRIPT"), arguments, &lastErrorText());
}

} // namespace Varnel
