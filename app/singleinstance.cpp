#include "app/singleinstance.h"

#include "common/appinfo.h"
#include "common/logger.h"
#include "platform/userfolders.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>
#include <QWidget>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace Varnel {

namespace {

// A message is one line; anything longer than this is not ours.
constexpr qint64 kMaxMessageBytes = 64 * 1024;
constexpr char kAck = '\n';

QString instanceKey()
{
#ifdef Q_OS_UNIX
    const QString user = QString::number(::getuid());
#else
    const QString user = qEnvironmentVariable("USERNAME");
#endif
    return organizationName() + QLatin1Char('-') + QLatin1String(kApplicationId) + QLatin1Char('-') + user;
}

void log(const QString &text)
{
    Logger::instance().log(text, 1, 4);
}

} // namespace

SingleInstance::SingleInstance(const QString &directory, QObject *parent)
    : QObject(parent)
    , m_directory(directory)
    , m_lock(lockPath(directory))
{
    if (directory.isEmpty()) {
        // No folder of this user's own (instanceDirectory): a shared one
        // would let another user stop every start, so run alone instead.
        m_primary = true;
        return;
    }
    QDir().mkpath(directory);

    // A live primary holds the lock; one that was killed left a lock that
    // QLockFile recognises as stale (its process is gone) and takes over.
    if (m_lock.tryLock(0)) {
        m_primary = true;
    } else if (m_lock.error() == QLockFile::LockFailedError) {
        m_primary = false;
        return;
    } else {
        // Cannot lock at all (e.g. unwritable directory): run rather than
        // refuse to start, just without exclusivity.
        log(QStringLiteral("Single instance: cannot create %1").arg(lockPath(directory)));
        m_primary = true;
    }

    // Holding the lock, any socket file there is a leftover.
    const QString path = socketPath(directory);
    QLocalServer::removeServer(path);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(path))
        log(QStringLiteral("Single instance: cannot listen on %1: %2").arg(path, m_server.errorString()));
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
}

SingleInstance::~SingleInstance()
{
    m_server.close();
}

QString SingleInstance::runtimeDirectory()
{
    return instanceDirectory();
}

QString SingleInstance::socketPath(const QString &directory)
{
    return directory + QLatin1Char('/') + instanceKey() + QLatin1String(".socket");
}

QString SingleInstance::lockPath(const QString &directory)
{
    return directory + QLatin1Char('/') + instanceKey() + QLatin1String(".lock");
}

bool SingleInstance::sendMessage(const QString &message, int timeoutMs) const
{
    return sendInstanceMessage(socketPath(m_directory), message, timeoutMs);
}

void SingleInstance::setActivationWindow(QWidget *window, bool activateOnMessage)
{
    m_window = window;
    m_activateOnMessage = activateOnMessage;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        readMessage(socket);
    }
}

void SingleInstance::readMessage(QLocalSocket *socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxMessageBytes)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(kMaxMessageBytes);
    socket->write(&kAck, 1);
    // Out now: a quit request ends the event loop that would send it later.
    socket->flush();
    socket->disconnectFromServer();

    const QString message = QString::fromUtf8(line.chopped(1));
    emit messageReceived(message);
    // A quit request must not pop the window up on its way out.
    if (m_activateOnMessage && message != QLatin1String(kQuitMessage))
        activateWindow();
}

void SingleInstance::activateWindow()
{
    if (!m_window)
        return;
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->raise();
    m_window->activateWindow();
}

bool sendInstanceMessage(const QString &socketPath, const QString &message, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // The primary may hold the lock but not listen yet (two starts at once).
    for (;;) {
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }

    QByteArray line = message.toUtf8();
    line.replace('\n', ' ');
    line.append('\n');
    socket.write(line);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    while (socket.bytesAvailable() < 1) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return socket.read(1) == QByteArray(1, kAck);
}

} // namespace Varnel
