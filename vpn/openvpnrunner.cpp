#include "vpn/openvpnrunner.h"

#include "common/serviceprotocol.h"
#include "platform/vpnplatform.h"
#include "vpn/enginelog.h"
#include "vpn/managementline.h"
#include "vpn/openvpnfilter.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>

namespace Varnel {

namespace {

// Bounds for the GUI thread: starting a program takes milliseconds, and an
// OpenVPN asked to stop is given a short grace period before it is killed.
constexpr int kStartTimeoutMs = 10000;
constexpr int kStopGraceMs = 3000;

} // namespace

OpenVpnRunner::OpenVpnRunner(QObject *parent)
    : QObject(parent)
    , m_process(new TiedProcess(this))
    , m_managementServer(new QLocalServer(this))
{
    m_connectBound.setSingleShot(true);
    QObject::connect(&m_connectBound, &QTimer::timeout, this, &OpenVpnRunner::giveUpConnecting);
}

OpenVpnRunner::~OpenVpnRunner()
{
    QObject::disconnect(this, nullptr, nullptr, nullptr);
    QObject::disconnect(m_process, nullptr, this, nullptr);
    if (m_managementSocket && m_managementSocket->isOpen())
        m_managementSocket->abort();
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(kStopGraceMs)) {
            m_process->kill();
            m_process->waitForFinished(1000);
        }
    }
}

bool OpenVpnRunner::connect(const QString &config, const QString &username, const QString &password)
{
    emit connecting();
    m_username = username;
    m_password = password;

    if (!isSendableCredential(username) || !isSendableCredential(password)) {
        m_errorText = tr("Server connection error. Try another server.");
        engineLog(QStringLiteral("OpenVPN: the user name or password holds a control character; not sent"));
        noteFailure(TunnelFailure::CredentialsRejected, QString());
        disconnect();
        return false;
    }
    // The configuration comes from the backend and OpenVPN runs it with our
    // privileges: what could run a program or write a file is refused
    // before anything is written or started.
    const QByteArray encoded = config.toLocal8Bit();
    const OpenVpnConfigVerdict verdict = checkOpenVpnConfig(encoded);
    if (!verdict.accepted) {
        const QString what = verdict.directive.isEmpty() ? QString() : QStringLiteral(" \"%1\"").arg(verdict.directive);
        engineLog(QStringLiteral("OpenVPN configuration refused at line %1%2: %3; nothing was started")
                      .arg(verdict.line)
                      .arg(what, verdict.reason));
        noteFailure(TunnelFailure::ConfigurationRefused,
                    verdict.directive.isEmpty() ? tr("line %1").arg(verdict.line) : verdict.directive);
        disconnect();
        return false;
    }
    // The configuration's own redirect-gateway counts as pushed (notePushed).
    for (const QString &line : config.split(QLatin1Char('\n'))) {
        if (line.trimmed().startsWith(QLatin1String("redirect-gateway")))
            m_ownOptions += line.trimmed() + QLatin1Char(',');
    }
    const bool fromInput = openVpnConfigFromInput();
    if (!makePrivateDir() || (!fromInput && !writeConfigFile(encoded)) || !startListener())
        return false;

    m_process->setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
                     &OpenVpnRunner::onProcessFinished);
    QObject::connect(m_process, &QProcess::readyRead, this, &OpenVpnRunner::onProcessOutput);

    const QString program = openVpnProgram();
    // OpenVPN runs as the user on the device the service made for this
    // tunnel; it configures nothing itself (it could not), but hands what
    // the server pushed to our tunnel script, which passes it to the service.
    // These come after the configuration, so they win over its own.
    QStringList arguments {QStringLiteral("--config"),
                           fromInput ? QStringLiteral("stdin") : QDir::toNativeSeparators(m_configFile->fileName()),
                           QStringLiteral("--verb"), QStringLiteral("3"),
                           QStringLiteral("--management"), m_managementServer->fullServerName(),
                           QStringLiteral("unix"), QStringLiteral("--management-client"),
                           QStringLiteral("--management-query-passwords"), QStringLiteral("--management-hold"),
                           QStringLiteral("--suppress-timestamps")};
    arguments << QStringLiteral("--dev") << m_device << QStringLiteral("--dev-type") << QStringLiteral("tun")
              << QStringLiteral("--disable-dco") << QStringLiteral("--ifconfig-noexec") << QStringLiteral("--route-noexec")
              << QStringLiteral("--script-security") << QStringLiteral("2") << QStringLiteral("--up")
              << tunnelScriptPath() << QStringLiteral("--up-restart");
    // OpenVPN hands its scripts an environment of its own making.
    if (const QByteArray socket = qgetenv(ServiceProtocol::kSocketVariable); !socket.isEmpty())
        arguments << QStringLiteral("--setenv") << QString::fromLatin1(ServiceProtocol::kSocketVariable)
                  << QFile::decodeName(socket);
    arguments << QStringLiteral("--setenv") << QString::fromLatin1(ServiceProtocol::kPushedVariable)
              << m_privateDir->filePath(QStringLiteral("pushed"));
    m_process->start(program, arguments, fromInput ? QIODevice::ReadWrite : QIODevice::ReadOnly);
    if (!m_process->waitForStarted(kStartTimeoutMs)) {
        qCritical() << "OpenVPN Process Error:" << m_process->errorString();
        const QString name = program.isEmpty() ? QStringLiteral("openvpn") : program;
        engineLog(QStringLiteral("Could not start OpenVPN (%1): %2").arg(name, m_process->errorString()));
        m_errorText = m_process->errorString();
        noteFailure(TunnelFailure::ProgramMissing, QStringLiteral("%1: %2").arg(name, m_process->errorString()));
        disconnect();
        return false;
    }
    if (fromInput) {
        // The end of the input ends the configuration.
        m_process->write(encoded);
        m_process->closeWriteChannel();
    }
    m_connectBound.start(kConnectBoundMs);
    return true;
}

bool OpenVpnRunner::makePrivateDir()
{
    m_privateDir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/varnelvpn-XXXXXX"));
    if (!m_privateDir->isValid()) {
        fail(QStringLiteral("Config File Write Error: ") + m_privateDir->errorString());
        return false;
    }
    QFile::setPermissions(m_privateDir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                    | QFileDevice::ExeOwner);
    return true;
}

bool OpenVpnRunner::writeConfigFile(const QByteArray &encoded)
{
    m_configFile = new QTemporaryFile(m_privateDir->filePath(QStringLiteral("config-XXXXXX")), this);
    m_configFile->setAutoRemove(true);
    if (!m_configFile->open()) {
        fail(QStringLiteral("Config File Write Error: ") + m_configFile->errorString());
        return false;
    }
    if (!m_configFile->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        fail(QStringLiteral("Config File Permissions Error: ") + m_configFile->errorString());
        return false;
    }
    if (m_configFile->write(encoded) != encoded.size()) {
        fail(QStringLiteral("Config File Write Error: Short write."));
        return false;
    }
    m_configFile->close();
    return true;
}

bool OpenVpnRunner::startListener()
{
    m_managementServer->setMaxPendingConnections(1);
    // No socket options: the socket lives in our private (0700) directory,
    // and with options Qt binds it in a further temporary directory first,
    // which costs the connect half a millisecond.
    QObject::connect(m_managementServer, &QLocalServer::newConnection, this,
                     &OpenVpnRunner::acceptManagementConnection);
    if (!m_managementServer->listen(m_privateDir->filePath(QStringLiteral("management")))) {
        fail(QStringLiteral("Management Listener Error: ") + m_managementServer->errorString());
        return false;
    }
    return true;
}

void OpenVpnRunner::fail(const QString &consoleText)
{
    qCritical().noquote() << consoleText;
    noteFailure(TunnelFailure::SetupFailed, consoleText);
    disconnect();
}

void OpenVpnRunner::noteFailure(TunnelFailure failure, const QString &detail)
{
    // The first cause is the one to tell; what follows from it is not.
    if (m_failure != TunnelFailure::None || m_ended)
        return;
    m_failure = failure;
    m_failureDetail = detail;
}

void OpenVpnRunner::giveUpConnecting()
{
    engineLog(QStringLiteral("OpenVPN: no connection within %1 s%2; giving up")
                  .arg(kConnectBoundMs / 1000)
                  .arg(m_wasConnected ? QStringLiteral(" after the tunnel went down") : QString()));
    stopFailed(m_wasConnected ? TunnelFailure::ConnectionLost : TunnelFailure::ServerUnreachable, m_lastProblem);
}

void OpenVpnRunner::stopFailed(TunnelFailure failure, const QString &detail)
{
    noteFailure(failure, detail);
    stop();
}

void OpenVpnRunner::acceptManagementConnection()
{
    while (QLocalSocket *socket = m_managementServer->nextPendingConnection()) {
        const qint64 peer = localPeerProcessId(socket->socketDescriptor());
        if (m_managementSocket || peer <= 0 || peer != m_process->processId()) {
            // Not the OpenVPN we started: it gets nothing, not even the hold release.
            engineLog(QStringLiteral("OpenVPN: refused a management connection from process %1").arg(peer));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_managementSocket = socket;
        m_managementServer->close();
        QObject::connect(socket, &QLocalSocket::readyRead, this, &OpenVpnRunner::managmentReadLine);
        sendCommand(QStringLiteral("state on"));
        sendCommand(QStringLiteral("state"));
        sendCommand(QStringLiteral("bytecount 1"));
        sendCommand(QStringLiteral("hold release"));
        // Lines that arrived with the connection itself.
        managmentReadLine();
    }
}

void OpenVpnRunner::sendCommand(const QString &command)
{
    if (m_managementSocket && m_managementSocket->isOpen()) {
        m_managementSocket->write((command + QLatin1Char('\n')).toLocal8Bit());
        // OpenVPN waits for these answers (hold release, credentials): send
        // now rather than on the next pass of the event loop.
        m_managementSocket->flush();
    }
}

void OpenVpnRunner::managmentReadLine()
{
    while (m_managementSocket && m_managementSocket->isOpen() && m_managementSocket->canReadLine()) {
        // OpenVPN has read its configuration before it speaks here.
        delete m_configFile;
        m_configFile = nullptr;
        handleLine(QString::fromLatin1(m_managementSocket->readLine()).trimmed());
    }
}

void OpenVpnRunner::handleLine(const QString &line)
{
    // Once the end is reported, a late line must not revive the session.
    if (m_ended)
        return;
    const ManagementLine parsed = ManagementLine::parse(line);
    switch (parsed.kind) {
    case ManagementLine::PasswordRequest:
        sendCommand(QStringLiteral("username Auth ") + quoteManagementArgument(m_username));
        sendCommand(QStringLiteral("password Auth ") + quoteManagementArgument(m_password));
        break;
    case ManagementLine::VerificationFailed:
        m_errorText = tr("Server connection error. Try another server.");
        noteFailure(TunnelFailure::CredentialsRejected, QString());
        disconnect();
        break;
    case ManagementLine::StateConnected:
        m_wasConnected = true;
        m_connectBound.stop();
        emit connected();
        break;
    case ManagementLine::StateConnecting:
        // A tunnel that went down gets the same time to come back.
        if (!m_connectBound.isActive())
            m_connectBound.start(kConnectBoundMs);
        emit connecting();
        break;
    case ManagementLine::ByteCount:
        emit transfer(parsed.down, parsed.up);
        break;
    case ManagementLine::Other:
        break;
    }
}

void OpenVpnRunner::onProcessOutput()
{
    while (m_process->canReadLine()) {
        const QString line = QString::fromLocal8Bit(m_process->readLine()).trimmed();
        qInfo().noquote() << "OpenVPN >" << line;
        static const QLatin1String kPushReply("PUSH: Received control message: '");
        if (const int at = line.indexOf(kPushReply); at >= 0) {
            QString message = line.mid(at + kPushReply.size());
            if (message.endsWith(QLatin1Char('\'')))
                message.chop(1);
            notePushed(message);
        }
        if ((line.contains(QLatin1String("error"), Qt::CaseInsensitive) || line.startsWith(QLatin1String("Cannot")))
            && !line.startsWith(QLatin1String("Exiting due to fatal error")))
            m_lastProblem = line;
    }
}

// The tunnel script, which OpenVPN starts right after this report, waits for
// the file (bounded); each complete push reply replaces it.
void OpenVpnRunner::notePushed(const QString &message)
{
    m_pushed += message + QLatin1Char(',');
    if (message.contains(QLatin1String("push-continuation 2")))
        return;
    QSaveFile file(m_privateDir->filePath(QStringLiteral("pushed")));
    if (!file.open(QIODevice::WriteOnly) || file.write((m_ownOptions + m_pushed).toUtf8()) < 0 || !file.commit())
        engineLog(QStringLiteral("The options the server pushed could not be kept: %1").arg(file.errorString()));
    m_pushed.clear();
}

void OpenVpnRunner::onProcessFinished()
{
    onProcessOutput();
    // What OpenVPN said just before it ended comes first.
    if (m_managementSocket && m_managementSocket->isOpen()) {
        m_managementSocket->waitForReadyRead(0);
        managmentReadLine();
    }
    if (!m_ended) {
        // OpenVPN ended on its own: say why, as far as it told us.
        const QString why = m_lastProblem.isEmpty() ? QString() : QStringLiteral(": ") + m_lastProblem;
        engineLog(QStringLiteral("OpenVPN exited (code %1)%2").arg(m_process->exitCode()).arg(why));
        const bool deviceProblem = m_lastProblem.contains(QLatin1String("TUN"))
            || m_lastProblem.contains(QLatin1String("/dev/net/tun"));
        const bool scriptProblem = m_lastProblem.contains(QLatin1String("--up"));
        noteFailure(deviceProblem      ? TunnelFailure::TunnelDevice
                        : scriptProblem ? TunnelFailure::SetupFailed
                        : m_wasConnected ? TunnelFailure::ConnectionLost
                                         : TunnelFailure::ServerUnreachable,
                    m_lastProblem);
        m_ended = true;
        emit disconnected();
    }
    deleteLater();
}

void OpenVpnRunner::disconnect()
{
    m_connectBound.stop();
    if (m_managementServer->isListening())
        m_managementServer->close();
    if (m_managementSocket && m_managementSocket->isOpen())
        m_managementSocket->abort();
    if (!m_ended) {
        m_ended = true;
        emit disconnected();
    }
    if (m_process->state() == QProcess::NotRunning)
        deleteLater();
}

void OpenVpnRunner::stop()
{
    disconnect();
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_process->terminate();
    QTimer::singleShot(kStopGraceMs, m_process, [process = m_process] {
        if (process->state() != QProcess::NotRunning)
            process->kill();
    });
}

} // namespace Varnel
