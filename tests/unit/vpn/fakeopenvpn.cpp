// Stand-in for the OpenVPN program in runner tests: takes the same command
// line, records what it is given and sent, and plays a script of steps.
//
// FAKE_OPENVPN_RECORD  file to append records to: "arg <argument>",
//                      "config <line>", "got <line>"
// "--config stdin" reads the configuration from standard input, as OpenVPN does.
// FAKE_OPENVPN_STEPS   steps, one a line:
//   go <file>       wait until the file exists
//   connect         connect to the management socket of --management
//   expect <line>   wait until that line has been received
//   send <line>     write the line
//   say <line>      print the line on standard output (as OpenVPN logs)
//   sleep <ms>
//   wait-close      wait until the management connection closes, then exit 0
//   exit <code>
//   ignore-term     ignore SIGTERM from here on (an OpenVPN that does not stop)
// Any wait gives up after 15 s with exit code 3.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStringList>
#include <QThread>

#include <csignal>
#include <cstdio>

namespace {

constexpr int kWaitMs = 15000;

QFile record;
QStringList received;

void note(const QString &text)
{
    record.write((text + QLatin1Char('\n')).toUtf8());
    record.flush();
}

void readLines(QLocalSocket &socket)
{
    while (socket.canReadLine()) {
        const QString line = QString::fromLocal8Bit(socket.readLine()).remove(QLatin1Char('\n'));
        received << line;
        note(QStringLiteral("got ") + line);
    }
}

QString argumentAfter(const QStringList &arguments, const QString &option)
{
    const int at = arguments.indexOf(option);
    return at >= 0 ? arguments.value(at + 1) : QString();
}

void recordConfig(const QString &fileName)
{
    QFile config(fileName);
    const bool opened = fileName == QLatin1String("stdin") ? config.open(stdin, QIODevice::ReadOnly)
                                                           : config.open(QIODevice::ReadOnly);
    if (opened) {
        for (const QByteArray &line : config.readAll().split('\n'))
            note(QStringLiteral("config ") + QString::fromLocal8Bit(line));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    record.setFileName(qEnvironmentVariable("FAKE_OPENVPN_RECORD"));
    if (!record.open(QIODevice::Append))
        return 2;
    for (const QString &argument : arguments)
        note(QStringLiteral("arg ") + argument);
    recordConfig(argumentAfter(arguments, QStringLiteral("--config")));

    QLocalSocket socket;
    const QStringList steps = qEnvironmentVariable("FAKE_OPENVPN_STEPS").split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &step : steps) {
        const QString verb = step.section(QLatin1Char(' '), 0, 0);
        const QString rest = step.section(QLatin1Char(' '), 1);
        QElapsedTimer timer;
        timer.start();
        if (verb == QLatin1String("go")) {
            while (!QFileInfo::exists(rest)) {
                if (timer.elapsed() > kWaitMs)
                    return 3;
                QThread::msleep(10);
            }
        } else if (verb == QLatin1String("connect")) {
            socket.connectToServer(argumentAfter(arguments, QStringLiteral("--management")));
            if (!socket.waitForConnected(kWaitMs))
                return 3;
        } else if (verb == QLatin1String("expect")) {
            while (!received.contains(rest)) {
                if (timer.elapsed() > kWaitMs || (!socket.waitForReadyRead(100) && !socket.isOpen()))
                    return 3;
                readLines(socket);
            }
        } else if (verb == QLatin1String("send")) {
            socket.write((rest + QLatin1Char('\n')).toLocal8Bit());
            socket.flush();
        } else if (verb == QLatin1String("say")) {
            std::fputs(qPrintable(rest + QLatin1Char('\n')), stdout);
            std::fflush(stdout);
        } else if (verb == QLatin1String("sleep")) {
            QThread::msleep(rest.toULong());
        } else if (verb == QLatin1String("wait-close")) {
            while (socket.state() == QLocalSocket::ConnectedState) {
                if (timer.elapsed() > kWaitMs)
                    return 3;
                socket.waitForReadyRead(100);
                readLines(socket);
            }
            return 0;
        } else if (verb == QLatin1String("ignore-term")) {
            std::signal(SIGTERM, SIG_IGN);
        } else if (verb == QLatin1String("exit")) {
            return rest.toInt();
        }
    }
    return 0;
}
