#include "labfixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <unistd.h>

namespace Varnel {

namespace {

QString &lastErrorText()
{
    static QString text;
    return text;
}

QString &lastOutput()
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

bool Lab::stopService(const QString &signal)
{
    return control({QStringLiteral("service"), QStringLiteral("stop"), signal});
}

bool Lab::startService()
{
    return control({QStringLiteral("service"), QStringLiteral("start")});
}

bool Lab::blocking()
{
    return control({QStringLiteral("blocking")});
}

QByteArray Lab::openVpnTemplateBase64()
{
    return value("OPENVPN_TEMPLATE_B64").toLatin1();
}

QString Lab::lastError()
{
    return lastErrorText();
}

QString Lab::output()
{
    return lastOutput();
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
    lastOutput() = output;
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    *error = QStringLiteral("%1 %2: %3").arg(program, arguments.join(QLatin1Char(' ')),
                                             output.isEmpty() ? process.errorString() : output);
    return false;
}

bool Lab::control(const QStringList &arguments)
{
    lastOutput().clear();
    if (::geteuid() == 0)
        return run(value("SCRIPT"), arguments, &lastErrorText());
    // As the lab user: the agent runs it (tools/lab/lab.sh, lab_agent).
    static int counter = 0;
    const QString id = QString::number(QCoreApplication::applicationPid() * 1000 + ++counter);
    const QString dir = value("DIR") + QStringLiteral("/agent/");
    QFile requests(dir + QStringLiteral("requests"));
    if (!requests.open(QIODevice::WriteOnly)) {
        lastErrorText() = QStringLiteral("no lab agent: %1").arg(requests.errorString());
        return false;
    }
    requests.write((id + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QLatin1Char('\n')).toLocal8Bit());
    requests.close();
    QFile reply(dir + id);
    const QDeadlineTimer deadline(60000);
    while (!reply.exists()) {
        if (deadline.hasExpired()) {
            lastErrorText() = QStringLiteral("the lab agent did not answer %1").arg(arguments.join(QLatin1Char(' ')));
            return false;
        }
        QThread::msleep(20);
    }
    if (!reply.open(QIODevice::ReadOnly)) {
        lastErrorText() = reply.errorString();
        return false;
    }
    const QString status = QString::fromLocal8Bit(reply.readLine()).trimmed();
    lastOutput() = QString::fromLocal8Bit(reply.readAll());
    lastErrorText() = QStringLiteral("lab.sh %1: %2").arg(arguments.join(QLatin1Char(' ')), lastOutput().trimmed());
    return status == QLatin1String("0");
}

} // namespace Varnel
