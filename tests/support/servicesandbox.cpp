#include "servicesandbox.h"

#include <QDir>
#include <QFile>
#include <QSettings>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sched.h>
#include <unistd.h>

namespace {

const char *const kScripts[] = {"block_outbound_except_vpn.nft", "reset_firewall_rules.nft"};

QString output(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return process.exitCode() == 0 ? QString::fromLocal8Bit(process.readAllStandardOutput()) : QString();
}

} // namespace

int ServiceSandbox::enterNamespace()
{
    if (::geteuid() != 0) {
        std::fprintf(stderr, "SKIP: the VarnelVPN service runs as root: run this test as root\n");
        return 77;
    }
    if (::unshare(CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "SKIP: no network namespace of its own: %s\n", std::strerror(errno));
        return 77;
    }
    QProcess::execute(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
                                             QStringLiteral("up")});
    return 0;
}

ServiceSandbox::ServiceSandbox()
    : m_service(QStringLiteral(VARNEL_SERVICE_EXECUTABLE), QStringLiteral(VARNEL_KILLSWITCH_SCRIPTS), m_dir.path())
{
    QDir().mkpath(configHome());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("state"))));
    qputenv("VARNELVPN_SERVICE_SOCKET", QFile::encodeName(m_service.socket()));
    m_service.start();
}

ServiceSandbox::~ServiceSandbox() = default;

bool ServiceSandbox::blocking() const
{
    return !output(QStringLiteral("nft"), {QStringLiteral("list"), QStringLiteral("table"), QStringLiteral("inet"),
                                           QStringLiteral("varnelvpn_killswitch")})
                .isEmpty();
}

QStringList ServiceSandbox::devices() const
{
    QStringList names;
    const QStringList lines = output(QStringLiteral("ip"), {QStringLiteral("-o"), QStringLiteral("link")})
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QString name = line.section(QLatin1Char(':'), 1, 1).trimmed();
        if (name.startsWith(QLatin1String("vvpn")))
            names << name;
    }
    return names;
}

QByteArray ServiceSandbox::stateFile() const
{
    QFile file(dataDir() + QStringLiteral("/service.txt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool ServiceSandbox::storedKillSwitch() const
{
    QSettings stored(configHome() + QStringLiteral("/Morvanta/VarnelVPN.conf"), QSettings::IniFormat);
    return stored.value(QStringLiteral("KillSwitch")).toBool();
}

void ServiceSandbox::removeScripts() const
{
    for (const char *script : kScripts)
        QFile::remove(dataDir() + QLatin1Char('/') + QLatin1String(script));
}

bool ServiceSandbox::restoreScripts() const
{
    bool ok = true;
    for (const char *script : kScripts) {
        const QString target = dataDir() + QLatin1Char('/') + QLatin1String(script);
        QFile::remove(target);
        ok = QFile::copy(QStringLiteral(VARNEL_KILLSWITCH_SCRIPTS "/") + QLatin1String(script), target) && ok;
    }
    return ok;
}
