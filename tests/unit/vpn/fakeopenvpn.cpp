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
#include <QThread>

#include <csignal>
#include <cstdio>

namespace {

QFile record;

void note(const QString &text)
{
    record.write((text + QLatin1Char('\n')).toUtf8());
    record.flush();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    const auto argumentAfter = [&arguments](const char *option) {
        const int at = arguments.indexOf(QLatin1String(option));
        return at < 0 ? QString() : arguments.value(at + 1);
    };
    record.setFileName(qEnvironmentVariable("FAKE_OPENVPN_RECORD"));
    if (!record.open(QIODevice::Append))
        return 2;
    for (const QString &argument : arguments)
        note(QStringLiteral("arg ") + argument);
    QFile config(argumentAfter("--config"));
    if (config.fileName() == QLatin1String("stdin") ? config.open(stdin, QIODevice::ReadOnly)
                                                    : config.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : config.readAll().split('\n'))
            note(QStringLiteral("config ") + QString::fromLocal8Bit(line));
    }

    QLocalSocket socket;
    QStringList received;
    const auto readLines = [&socket, &received] {
        while (socket.canReadLine()) {
            received << QString::fromLocal8Bit(socket.readLine()).remove(QLatin1Char('\n'));
            note(QStringLiteral("got ") + received.last());
        }
    };
    const QStringList steps = qEnvironmentVariable("FAKE_OPENVPN_STEPS").split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &step : steps) {
        const QString verb = step.section(QLatin1Char(' '), 0, 0);
        const QString rest = step.section(QLatin1Char(' '), 1);
        QElapsedTimer timer;
        timer.start();
        const auto waiting = [&timer] { return timer.elapsed() < 15000; };
        if (verb == QLatin1String("go")) {
            while (!QFileInfo::exists(rest) && waiting())
                QThread::msleep(10);
            if (!waiting())
                return 3;
        } else if (verb == QLatin1String("connect")) {
            socket.connectToServer(argumentAfter("--management"));
            if (!socket.waitForConnected(15000))
                return 3;
        } else if (verb == QLatin1String("expect")) {
            while (!received.contains(rest)) {
                if (!waiting() || (!socket.waitForReadyRead(100) && !socket.isOpen()))
                    return 3;
                readLines();
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
            while (socket.state() == QLocalSocket::ConnectedState && waiting()) {
                socket.waitForReadyRead(100);
                readLines();
            }
            return waiting() ? 0 : 3;
        } else if (verb == QLatin1String("ignore-term")) {
            std::signal(SIGTERM, SIG_IGN);
        } else if (verb == QLatin1String("exit")) {
            return rest.toInt();
        }
    }
    return 0;
}
