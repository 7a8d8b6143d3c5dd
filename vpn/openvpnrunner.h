#pragma once

#include "vpn/tunnelfailure.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

class QLocalServer;
class QLocalSocket;
class QProcess;
class QTemporaryDir;
class QTemporaryFile;

namespace Varnel {

// Drives one OpenVPN session: writes the configuration to a private file,
// starts the OpenVPN program so that it connects back to our management
// listener, releases its hold, answers its credential query and turns its
// state and byte-count lines into signals. One runner per connect attempt;
// it deletes itself once its process has ended. GUI thread only.
//
// The management listener is a Unix-domain socket in a directory only we
// can enter, and it talks only to the process we started: the credentials
// reach no other local program.
class OpenVpnRunner : public QObject
{
    Q_OBJECT
public:
    explicit OpenVpnRunner(QObject *parent = nullptr);
    ~OpenVpnRunner() override;

    QString errorText() const { return m_errorText; }

    // Why the session ended without being asked to (None when it was
    // stopped or has not ended), with a detail for the message (the program,
    // the refused directive, what OpenVPN said).
    TunnelFailure failure() const { return m_failure; }
    QString failureDetail() const { return m_failureDetail; }

    // The device the service made for this session, set before connect():
    // OpenVPN then opens it instead of making one, and leaves its
    // configuration to the tunnel script.
    void setDevice(const QString &device) { m_device = device; }

    // The end of the session has been reported (disconnected() emitted).
    bool hasEnded() const { return m_ended; }

    // Ends the session as failed (the first failure named is kept) and
    // stops OpenVPN.
    void stopFailed(TunnelFailure failure, const QString &detail = QString());

    // How long an attempt, or a reconnection after the tunnel was up, may
    // take before the session is given up.
    static constexpr int kConnectBoundMs = 30000;

    // Ends the session and makes the OpenVPN program quit (at once in
    // effect: SIGTERM now, SIGKILL if it lingers); the runner is deleted
    // once the process has finished.
    void stop();

signals:
    void connected();
    void connecting();
    void disconnected();
    void processExit();
    void transfer(qint64 down, qint64 up);

public slots:
    // Emits connecting(), then starts OpenVPN. False (after disconnected())
    // when the session could not be started.
    bool connect(const QString &config, const QString &username, const QString &password);
    // Ends the session: closes the management channel (OpenVPN quits when it
    // loses it) and reports disconnected() unless already reported.
    void disconnect();
    void managmentReadLine();

private:
    // The private (0700) folder of the management socket and, where OpenVPN
    // reads a file, of its configuration.
    bool makePrivateDir();
    bool writeConfigFile(const QByteArray &config);
    bool startListener();
    void acceptManagementConnection();
    void onProcessOutput();
    void notePushed(const QString &message);
    void onProcessFinished();
    void handleLine(const QString &line);
    void sendCommand(const QString &command);
    void fail(const QString &consoleText);
    void noteFailure(TunnelFailure failure, const QString &detail);
    void giveUpConnecting();

    QString m_errorText;
    QString m_username;
    QString m_password;
    QProcess *m_process = nullptr;
    QLocalServer *m_managementServer = nullptr;
    QPointer<QLocalSocket> m_managementSocket;
    QTemporaryFile *m_configFile = nullptr;
    // Holds the configuration file and the management socket; 0700.
    std::unique_ptr<QTemporaryDir> m_privateDir;
    bool m_ended = false;
    // The last line OpenVPN printed that names a failure, for the log.
    QString m_lastProblem;
    TunnelFailure m_failure = TunnelFailure::None;
    QString m_failureDetail;
    QString m_device;
    // A push reply that continues in the next message, and the
    // configuration's own options of the same kind.
    QString m_pushed;
    QString m_ownOptions;
    bool m_wasConnected = false;
    // Runs while (re)connecting: OpenVPN on its own retries for ever.
    QTimer m_connectBound;
};

} // namespace Varnel
