#pragma once

#include "common/gui/pageindex.h"
#include "vpn/openconnectconnection.h"

#include <QDialog>
#include <QHash>
#include <QPixmap>
#include <QSize>

#include <memory>

namespace Varnel {

namespace Ui {
class RootWindow;
}

class AutoLoginPage;
class LoginPage;
class ServerPage;
class ServerSelectionPage;
class SteppedPicture;
class TrayIcon;

// The program's only top-level window: a stack of the automatic-login page,
// the (never shown) server list, the login page and the logged-in area.
// Closing it or pressing Escape hides it into the tray, or minimises it
// where the desktop shows no tray; the program keeps running.
class RootWindow : public QDialog
{
    Q_OBJECT
public:
    // launchMode "Yes" (started with an argument, e.g. through the URL
    // scheme) discards the cached login reply before anything else.
    explicit RootWindow(const QString &launchMode, QWidget *parent = nullptr);
    ~RootWindow() override;

signals:
    // The tunnel went down; a quit asked for while connected happens now.
    void readyToShutdown();
    void favouriteClick();
    void connectClick();

public slots:
    // Tray icon and menu follow the tunnel; a drop to disconnected emits
    // readyToShutdown.
    void onStatusChanged(int state);
    // Connected: the coloured background; any other status: the white one.
    void changeBackground(Varnel::OpenConnectConnection::Status status);
    void onLoginSuccessfull();
    void onLoginFailed();
    // After a referral code was redeemed: log in again from the network.
    void refresh();
    // Asks, disconnects, forgets the login, lifts the kill switch.
    void onLogout();
    // The tray's "Quit" (or the desktop entry's): at once, or after the
    // tunnel is down when it is up.
    void requestQuit();
    // The system asks the program to end: the tunnel goes down without
    // asking anyone, then the program quits (bounded).
    void endProgram();

    // Close button and Escape.
    void reject() override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void chooseStartPage();
    void showRootPage(RootPage page);
    void paintBackground();
    QPixmap scaledBackground(const QString &path);

    std::unique_ptr<Ui::RootWindow> ui;
    // The stack, in index order (RootPage).
    AutoLoginPage *m_autoLoginPage = nullptr;
    ServerSelectionPage *m_serverSelectionPage = nullptr;
    LoginPage *m_loginPage = nullptr;
    ServerPage *m_serverPage = nullptr;
    QString m_background;
    QHash<QString, QPixmap> m_scaledBackgrounds;
    QSize m_scaledFor;
    std::unique_ptr<SteppedPicture> m_preparing;   // the connected background, while a tunnel is made
    TrayIcon *m_tray = nullptr;
    int m_lastStatus = OpenConnectConnection::Disconnected;
};

} // namespace Varnel
