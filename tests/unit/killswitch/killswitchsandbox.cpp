#include "killswitchsandbox.h"

#include "platform/datadir.h"
#include "vpn/killswitch.h"

#include <QFile>
#include <QSettings>

KillSwitchSandbox::KillSwitchSandbox()
{
    qputenv("VARNELVPN_DATA_DIR", QFile::encodeName(m_data.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    qputenv("XDG_STATE_HOME", QFile::encodeName(m_config.filePath(QStringLiteral("state"))));
}

bool KillSwitchSandbox::isolated() const
{
    if (!m_data.isValid() || !m_config.isValid())
        return false;
    const QString prefix = m_data.path() + QLatin1Char('/');
    using Varnel::KillSwitch::Runner;
    for (bool enable : {true, false}) {
        for (Runner runner : {Runner::ConnectPage, Runner::Toggle}) {
            if (!Varnel::KillSwitch::scriptPath(runner, enable).startsWith(prefix))
                return false;
        }
    }
    return Varnel::killSwitchStateDirectory().startsWith(prefix);
}

bool KillSwitchSandbox::writeRecordingScript(const QString &name, int exitCode) const
{
    QFile script(dataDir() + QLatin1Char('/') + name);
    if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    script.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$0\" >>'%1'\nexit %2\n")
                     .arg(recordFile())
                     .arg(exitCode)
                     .toUtf8());
    script.close();
    return script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool KillSwitchSandbox::writeRecordingScripts() const
{
    return writeRecordingScript(Varnel::blockScriptName()) && writeRecordingScript(Varnel::resetScriptName());
}

void KillSwitchSandbox::removeScripts() const
{
    QFile::remove(dataDir() + QLatin1Char('/') + Varnel::blockScriptName());
    QFile::remove(dataDir() + QLatin1Char('/') + Varnel::resetScriptName());
}

QStringList KillSwitchSandbox::started() const
{
    return QString::fromUtf8(readFile(recordFile())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void KillSwitchSandbox::clearStarted() const
{
    QFile::remove(recordFile());
}

QByteArray KillSwitchSandbox::readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool KillSwitchSandbox::storedKillSwitch() const
{
    const QSettings stored(configHome() + QStringLiteral("/Morvanta/VarnelVPN.conf"), QSettings::IniFormat);
    return stored.value(QStringLiteral("KillSwitch")).toBool();
}
