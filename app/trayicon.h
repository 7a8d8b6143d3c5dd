#pragma once

#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace Varnel {

// The tray icon with its "Connect"/"Disconnect" and "Quit" menu. Where the
// platform has no tray it exists without icon or menu, and every update is
// skipped; the window's own behaviour does not depend on it.
// The notice shown when the tunnel is up.
QString connectedNotice(const QString &serverName);

class TrayIcon : public QObject
{
    Q_OBJECT
public:
    explicit TrayIcon(QObject *parent = nullptr);
    ~TrayIcon() override;

    bool isAvailable() const { return m_icon != nullptr; }

    // The tunnel's state as the tray shows it: icon, and the first action's
    // text and enabled state.
    void showConnecting();
    void showConnected(const QString &serverName);
    void showDisconnected(bool loggedIn);
    void setConnectEnabled(bool enabled);
    // A notice from the program, shown for a moment.
    void notify(const QString &text);


signals:
    void connectTriggered();
    void quitTriggered();
    void showRequested();

private:
    void setIcon(const QString &path);

    QSystemTrayIcon *m_icon = nullptr;
    QMenu *m_menu = nullptr;
    QAction *m_connect = nullptr;
    QAction *m_quit = nullptr;
};

} // namespace Varnel
