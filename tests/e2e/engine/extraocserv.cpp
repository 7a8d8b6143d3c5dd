#include "extraocserv.h"

#include "labfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QThread>

namespace Varnel {

ExtraOcserv::ExtraOcserv(const Options &options)
    : m_options(options)
    , m_dir(Lab::value("DIR") + QStringLiteral("/engine-ocserv-%1").arg(options.port))
{
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.setStandardOutputFile(m_dir + QStringLiteral("/ocserv.log"), QIODevice::Append);
}

ExtraOcserv::~ExtraOcserv()
{
    stop();
    QDir(m_dir).removeRecursively();
}

QString ExtraOcserv::gateway() const
{
    return QStringLiteral("%1:%2").arg(Lab::value("SERVER_ADDR")).arg(m_options.port);
}

int ExtraOcserv::authentications() const
{
    QFile log(m_dir + QStringLiteral("/ocserv.log"));
    if (!log.open(QIODevice::ReadOnly) || !log.seek(m_logStart))
        return -1;
    return log.readAll().count("authentication to authenticate user");
}

bool ExtraOcserv::run(const QString &program, const QStringList &arguments, const QByteArray &input)
{
    return Lab::run(program, arguments, &m_error, input, m_dir);
}

bool ExtraOcserv::writeConfiguration()
{
    const QString address = Lab::value("SERVER_ADDR");
    // Workers run as nobody: the directory must be traversable, the password file readable.
    if (!QDir().mkpath(m_dir) || !QFile::setPermissions(m_dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                   | QFileDevice::ExeOwner | QFileDevice::ExeGroup
                                                                   | QFileDevice::ExeOther)) {
        m_error = QStringLiteral("cannot create ") + m_dir;
        return false;
    }
    QFile::remove(m_dir + QStringLiteral("/passwd"));
    QStringList passwd {QStringLiteral("-c"), m_dir + QStringLiteral("/passwd")};
    if (!m_options.groups.isEmpty())
        passwd << QStringLiteral("-g") << m_options.groups.join(QLatin1Char(','));
    passwd << Lab::value("USER");
    if (!run(QStringLiteral("openssl"),
             {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1",
              "-subj", "/CN=" + address, "-addext", "subjectAltName=IP:" + address, "-keyout", "key.pem", "-out",
              "cert.pem"})
        || !run(QStringLiteral("ocpasswd"), passwd, Lab::value("PASSWORD").toUtf8() + '\n'))
        return false;
    // The lab's second account too (the one whose password has no blank).
    // Its password's bytes as they are, whatever the locale says.
    passwd.last() = Lab::value("UTF8_USER");
    if (!run(QStringLiteral("ocpasswd"), passwd, qgetenv("VARNEL_LAB_UTF8_PASSWORD") + '\n'))
        return false;
    QFile::setPermissions(m_dir + QStringLiteral("/passwd"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                              | QFileDevice::ReadOther);

    QStringList lines {
        QStringLiteral("auth = \"plain[passwd=%1/passwd]\"").arg(m_dir),
        QStringLiteral("listen-host = %1").arg(address),
        QStringLiteral("tcp-port = %1").arg(m_options.port),
        QStringLiteral("udp-port = %1").arg(m_options.port),
        QStringLiteral("run-as-user = nobody"),
        QStringLiteral("run-as-group = nogroup"),
        QStringLiteral("socket-file = %1/ocserv.sock").arg(m_dir),
        QStringLiteral("occtl-socket-file = %1/occtl.sock").arg(m_dir),
        QStringLiteral("pid-file = %1/ocserv.pid").arg(m_dir),
        QStringLiteral("server-cert = %1/cert.pem").arg(m_dir),
        QStringLiteral("server-key = %1/key.pem").arg(m_dir),
        QStringLiteral("max-clients = 16"),
        QStringLiteral("max-same-clients = 0"),
        QStringLiteral("rate-limit-ms = 0"),
        QStringLiteral("max-ban-score = 0"),
        QStringLiteral("keepalive = 32400"),
        QStringLiteral("dpd = 10"),
        QStringLiteral("try-mtu-discovery = false"),
        QStringLiteral("auth-timeout = 240"),
        QStringLiteral("cookie-timeout = 300"),
        QStringLiteral("use-occtl = false"),
        // Authentications show in the log from this level on.
        QStringLiteral("log-level = 1"),
        QStringLiteral("device = %1").arg(m_options.device),
        QStringLiteral("predictable-ips = true"),
        QStringLiteral("ipv4-network = %1").arg(m_options.network),
        QStringLiteral("ipv4-netmask = 255.255.255.0"),
        QStringLiteral("route = %1/255.255.255.255").arg(Lab::value("TARGET")),
        QStringLiteral("cisco-client-compat = true"),
        QStringLiteral("dtls-legacy = true"),
    };
    for (const QString &group : m_options.groups)
        lines << QStringLiteral("select-group = ") + group;
    if (!m_options.groups.isEmpty())
        lines << QStringLiteral("auto-select-group = false");

    QFile config(m_dir + QStringLiteral("/ocserv.conf"));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = config.errorString();
        return false;
    }
    config.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    return true;
}

bool ExtraOcserv::start()
{
    stop();
    if (!writeConfiguration())
        return false;
    m_logStart = QFileInfo(m_dir + QStringLiteral("/ocserv.log")).size();
    m_server.start(QStringLiteral("ip"), {"netns", "exec", Lab::value("NS_SERVER"), "ocserv", "-f", "-c",
                                          m_dir + QStringLiteral("/ocserv.conf")});
    if (!m_server.waitForStarted(5000)) {
        m_error = m_server.errorString();
        return false;
    }
    return waitUntilServing();
}

bool ExtraOcserv::waitUntilServing()
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000) {
        if (m_server.state() == QProcess::NotRunning) {
            m_error = QStringLiteral("ocserv exited; see %1/ocserv.log").arg(m_dir);
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(Lab::value("SERVER_ADDR"), m_options.port);
        if (probe.waitForConnected(500))
            return true;
        QThread::msleep(100);
    }
    m_error = QStringLiteral("ocserv does not listen on port %1").arg(m_options.port);
    return false;
}

void ExtraOcserv::stop()
{
    // ocserv ends its security module and workers with itself.
    Lab::endProcess(m_server);
}

} // namespace Varnel
