#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A private kill-switch data directory and settings store for one test
// process. Construct it first thing in main(), before anything reads the
// settings: it points VARNELVPN_DATA_DIR, XDG_CONFIG_HOME and XDG_STATE_HOME
// (the login cache) at temporary folders. isolated() tells whether the scripts the client would run are
// really the ones in here, so that no test ever runs the machine's own.
class KillSwitchSandbox
{
public:
    KillSwitchSandbox();

    bool isolated() const;

    // The data directory, without a trailing separator.
    QString dataDir() const { return m_data.path(); }
    QString stateFile() const { return dataDir() + QStringLiteral("/service.txt"); }
    QString configHome() const { return m_config.path(); }
    // The kill-switch setting as saved in the settings file, not as held in memory.
    bool storedKillSwitch() const;

    // Writes a script under the given name that records the path it was
    // started under and exits with exitCode.
    bool writeRecordingScript(const QString &name, int exitCode = 0) const;
    // Both scripts, exiting with 0.
    bool writeRecordingScripts() const;
    void removeScripts() const;

    // Paths the recording scripts were started under, oldest first.
    QStringList started() const;
    void clearStarted() const;

    // Reads a file whole ("" when it is missing).
    static QByteArray readFile(const QString &path);

private:
    QString recordFile() const { return m_config.path() + QStringLiteral("/started.txt"); }

    QTemporaryDir m_data;
    QTemporaryDir m_config;
};
