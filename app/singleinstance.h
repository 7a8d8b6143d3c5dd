#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QPointer>

class QLocalSocket;
class QWidget;

namespace Varnel {

// What a later start hands to the primary: show the window, or end the
// program as the tray's Quit does (the desktop entry's "Quit" action).
inline constexpr char kWakeUpMessage[] = "Wake up!";
inline constexpr char kQuitMessage[] = "Quit";

// One primary instance per user: the first start holds a lock file and
// listens on a local socket beside it; later starts find the lock held and
// pass a message to the primary instead. Lock and socket are keyed by
// organisation, application and user (not the executable path), so every
// copy of the program sees the others. Leftovers of a killed primary are
// recovered by the next start.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // directory: where lock and socket live; runtimeDirectory() unless
    // given. Empty: no lock, this start runs as the primary.
    explicit SingleInstance(const QString &directory = runtimeDirectory(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when another instance is the primary.
    bool isRunning() const { return !m_primary; }

    // Hands message to the primary; true once it has confirmed receipt.
    bool sendMessage(const QString &message, int timeoutMs) const;

    // The window that the primary restores, raises and activates after
    // every message but the quit request (after messageReceived has been
    // handled).
    void setActivationWindow(QWidget *window, bool activateOnMessage = true);

    // The user's own runtime folder, else the private state folder; never
    // a shared one (platform/userfolders).
    static QString runtimeDirectory();
    static QString socketPath(const QString &directory);
    static QString lockPath(const QString &directory);

signals:
    void messageReceived(const QString &message);

private:
    void acceptConnections();
    void readMessage(QLocalSocket *socket);
    void activateWindow();

    QString m_directory;
    QLockFile m_lock;
    QLocalServer m_server;
    bool m_primary = false;
    QPointer<QWidget> m_window;
    bool m_activateOnMessage = false;
};

// Client side of the protocol: connects to the primary listening at
// socketPath (retrying while it is still starting), sends one message and
// waits for the acknowledgement, all within timeoutMs.
bool sendInstanceMessage(const QString &socketPath, const QString &message, int timeoutMs);

} // namespace Varnel
