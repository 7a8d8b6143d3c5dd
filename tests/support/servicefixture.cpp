#include "servicefixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Varnel;

ServicePeer::ServicePeer(const QString &socket, uid_t uid)
{
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(socket).constData(), sizeof address.sun_path);
    if (::seteuid(uid) != 0 || ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    (void)!::seteuid(0);
}

ServicePeer::~ServicePeer()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string ServicePeer::framed(const std::string &payload)
{
    const auto n = std::uint32_t(payload.size());
    return std::string {char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + payload;
}

void ServicePeer::send(const std::string &bytes)
{
    for (std::size_t done = 0; m_fd >= 0 && done < bytes.size();) {
        pollfd p {m_fd, POLLOUT, 0};
        if (::poll(&p, 1, 2000) <= 0)
            return;
        const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += std::size_t(n);
    }
}

QString ServicePeer::reply(bool withMessage, int ms)
{
    std::string payload;
    QElapsedTimer timer;
    timer.start();
    while (m_reader.next(&payload) != ServiceProtocol::FrameReader::Status::Frame) {
        pollfd p {m_fd, POLLIN, 0};
        const int left = int(ms - timer.elapsed());
        if (m_fd < 0 || left <= 0 || ::poll(&p, 1, left) <= 0)
            return QStringLiteral("silence");
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return QStringLiteral("closed");
        m_reader.feed(buffer, std::size_t(n));
    }
    ServiceProtocol::parse(payload, &m_last);
    QString out = m_last.verb == "ok" ? QStringLiteral("ok") : QString::fromStdString(m_last.value("code"));
    if (m_last.has("field"))
        out += QLatin1Char(' ') + QString::fromStdString(m_last.value("field"));
    if (withMessage && m_last.has("message"))
        out += QStringLiteral(" | ") + QString::fromStdString(m_last.value("message"));
    return out;
}

QString ServicePeer::request(const std::string &payload, bool withMessage)
{
    send(framed(payload));
    return reply(withMessage);
}

ServiceInstance::ServiceInstance(const QString &program, const QString &scripts, const QString &dir)
    : m_program(program), m_scripts(scripts), m_dir(dir)
{
    m_process.setProgram(m_program);
    m_process.setArguments({QStringLiteral("--socket"), socket(), QStringLiteral("--data-dir"), dataDir(),
                            QStringLiteral("--config"), configFile()});
    // Its log goes with the test's.
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
}

ServiceInstance::~ServiceInstance()
{
    stop();
}

bool ServiceInstance::start()
{
    // Clients of other uids reach the socket through the test's folder.
    QFile::setPermissions(m_dir, QFile::permissions(m_dir) | QFile::ExeGroup | QFile::ExeOther);
    if (!QFile::exists(dataDir())) {
        QProcess install;
        install.start(m_scripts + QStringLiteral("/install.sh"), {dataDir()});
        if (!install.waitForFinished(10000) || install.exitCode() != 0)
            return false;
    }
    m_process.start();
    if (!m_process.waitForStarted())
        return false;
    return QTest::qWaitFor(
        [this] { return m_process.state() != QProcess::Running || ServicePeer(socket(), 0).connected(); }, 5000)
           && m_process.state() == QProcess::Running;
}

bool ServiceInstance::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return false;
    m_process.terminate();
    return m_process.waitForFinished(5000) && m_process.exitStatus() == QProcess::NormalExit
           && m_process.exitCode() == 0;
}
