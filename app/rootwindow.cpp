#include "app/rootwindow.h"
#include "ui_rootwindow.h"

#include "app/fonts.h"
#include "app/serverpage.h"
#include "app/trayicon.h"
#include "backend/ipbundle.h"
#include "backend/logincache.h"
#include "backend/user.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "common/gui/iconcache.h"
#include "common/gui/pageindex.h"
#include "common/gui/pagestack.h"
#include "common/gui/pagestyling.h"
#include "common/gui/showmessage.h"
#include "common/gui/showrefresh.h"
#include "pages/autologin/autologinpage.h"
#include "pages/login/loginpage.h"
#include "pages/serverselection/serverselectionpage.h"
#include "platform/heaprelease.h"
#include "vpn/killswitch.h"
#include "widgets/toast/dialog.h"

#include <QAction>
#include <QCoreApplication>
#include <QPixmap>
#include <QTimer>

namespace Varnel {

namespace {

// How long the end of the program waits for the tunnel to go down.
constexpr int kShutdownBoundMs = 5000;
// A login allocates and frees tens of megabytes (the reply, the rows of the
// server list) and draws with more faces; once the logged-in area has
// settled, the free heap and the font pages go back (what is drawn later
// reads its glyphs in again).
constexpr int kSettledAfterLoginMs = 1000;
const char kConnectedBackground[] = ":/img/background.png";
const char kDisconnectedBackground[] = ":/img/white_background.png";

} // namespace

RootWindow::RootWindow(const QString &launchMode, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::RootWindow>())
{
    // A start through the URL scheme must not log in from a stale reply.
    if (launchMode == QLatin1String("Yes"))
        LoginCache::write(QJsonDocument());

    ui->setupUi(this);
    styleWhenShown(ui->stackedWidget);
    m_autoLoginPage = makePage<AutoLoginPage>(ui->stackedWidget, "autoLoginPage");
    m_serverSelectionPage = makePage<ServerSelectionPage>(ui->stackedWidget, "serverSelectionPage");
    m_loginPage = makePage<LoginPage>(ui->stackedWidget, "loginPage");
    m_serverPage = makePage<ServerPage>(ui->stackedWidget, "serverPage");
    addPages(ui->stackedWidget, {m_autoLoginPage, m_serverSelectionPage, m_loginPage, m_serverPage},
             int(RootPage::Login));
    // Modal, but modal to its own (absent) parent only: an application-modal
    // window would block the tray icon, which is a window of this
    // application on X11, and so its menu.
    setWindowModality(Qt::WindowModal);
    setWindowTitle(applicationName());
    // The background is drawn when the window is shown, at its size then.
    m_background = QLatin1String(kDisconnectedBackground);
    // Every (re)show, also from the tray, starts over at the right page.
    refreshOnShow(this, [this] { chooseStartPage(); });

    m_tray = new TrayIcon(this);
    connect(m_tray, &TrayIcon::connectTriggered, this, &RootWindow::connectClick);
    connect(m_tray, &TrayIcon::quitTriggered, this, &RootWindow::requestQuit);
    connect(m_tray, &TrayIcon::showRequested, this, &RootWindow::show);

    connect(m_autoLoginPage, &AutoLoginPage::loginSuccessfull, this, &RootWindow::onLoginSuccessfull);
    connect(m_autoLoginPage, &AutoLoginPage::loginFailed, this, &RootWindow::onLoginFailed);
    connect(m_loginPage, &LoginPage::loginSuccessfull, this, &RootWindow::onLoginSuccessfull);
    connect(m_serverPage, &ServerPage::refreshLogin, this, &RootWindow::refresh);
    connect(m_serverPage, &ServerPage::logout, this, &RootWindow::onLogout);
    // The form's own server list is never shown; its signals are wired all the same.
    connect(m_serverSelectionPage, &ServerSelectionPage::connectUiAndConnect, this,
            [this] { showRootPage(RootPage::AutoLogin); });
    connect(this, &RootWindow::favouriteClick, m_serverSelectionPage, &ServerSelectionPage::filterChanged);
    connect(this, &RootWindow::connectClick, m_serverPage, &ServerPage::connectButtonClick);

    const auto engine = OpenConnectConnection::instance();
    connect(engine.get(), &OpenConnectConnection::statusChanged, this, &RootWindow::onStatusChanged,
            Qt::QueuedConnection);
    connect(engine.get(), &OpenConnectConnection::statusChanged, this, &RootWindow::changeBackground,
            Qt::QueuedConnection);
}

RootWindow::~RootWindow() = default;

void RootWindow::onStatusChanged(int state)
{
    switch (state) {
    case OpenConnectConnection::Connecting:
        m_tray->showConnecting();
        m_lastStatus = state;
        break;
    case OpenConnectConnection::Connected: {
        m_lastStatus = state;
        const auto bundle = User::instance()->activeBundle();
        m_tray->showConnected(bundle ? bundle->ipName() : QString());
        break;
    }
    case OpenConnectConnection::Disconnected:
        m_lastStatus = state;
        m_tray->showDisconnected(Config::instance()->autoLogin());
        emit readyToShutdown();
        break;
    default:
        break;
    }
}

void RootWindow::onLoginSuccessfull()
{
    m_serverPage->restorePages();
    showRootPage(RootPage::Server);
    m_tray->setConnectEnabled(true);
    QTimer::singleShot(kSettledAfterLoginMs, this, [] {
        releaseFreeHeap();
        releaseFontPages();
    });
}

void RootWindow::onLoginFailed()
{
    showRootPage(RootPage::Login);
}

void RootWindow::refresh()
{
    LoginCache::write(QJsonDocument());
    chooseStartPage();
}

void RootWindow::onLogout()
{
    const auto engine = OpenConnectConnection::instance();
    const QString question = engine->status() != OpenConnectConnection::Disconnected
        ? tr("Are you sure you want to disconnect and log out?")
        : tr("Do you want to log out?");
    if (showMessage(question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;

    engine->disconnect();
    const auto config = Config::instance();
    config->setAutoLogin(false);   // keeps the account's favourites
    m_tray->setConnectEnabled(false);
    config->save();
    showRootPage(RootPage::Login);
    LoginCache::write(QJsonDocument());
    recordPages(LeftPage::ServerList, RightPage::Connect);
    config->load();
    KillSwitch::liftOnLogout();
}

void RootWindow::requestQuit()
{
    // A tunnel that is up stays up until the user brings it down; the
    // program ends with it.
    if (m_lastStatus == OpenConnectConnection::Connected) {
        connect(this, &RootWindow::readyToShutdown, qApp, &QCoreApplication::quit, Qt::UniqueConnection);
        const QString notice = tr("%1 will quit as soon as you disconnect.").arg(applicationName());
        if (m_tray->isAvailable()) {
            m_tray->notify(notice);
        } else {
            // No tray to say so: the window comes up, with its connect button.
            show();
            setWindowState(windowState() & ~Qt::WindowMinimized);
            raise();
            activateWindow();
            (new Dialog(notice, this))->show();
        }
        return;
    }
    QCoreApplication::quit();
}

void RootWindow::reject()
{
    // A window hidden without a tray could not be brought back (nor the
    // program quitted) from the desktop: it goes to the task bar instead.
    if (!m_tray->isAvailable()) {
        showMinimized();
        return;
    }
    QDialog::reject();
}

void RootWindow::endProgram()
{
    const auto engine = OpenConnectConnection::instance();
    if (engine->status() == OpenConnectConnection::Disconnected) {
        QCoreApplication::quit();
        return;
    }
    connect(this, &RootWindow::readyToShutdown, qApp, &QCoreApplication::quit, Qt::UniqueConnection);
    // A tunnel that does not come down in time must not keep the program.
    QTimer::singleShot(kShutdownBoundMs, qApp, &QCoreApplication::quit);
    engine->disconnect();
}

void RootWindow::changeBackground(OpenConnectConnection::Status status)
{
    // The connected picture is drawn while the tunnel is being made, a strip
    // per turn of the event loop, so Connected only swaps the brush and the
    // engine's work on this thread (OpenVPN's management) never waits for
    // it; without a tunnel it is not kept (megabytes at the screen's pixels).
    const QString connected = QLatin1String(kConnectedBackground);
    if (status == OpenConnectConnection::Connecting) {
        if (!m_preparing && !m_scaledBackgrounds.contains(connected))
            m_preparing = std::make_unique<SteppedPicture>(connected, size());
    } else if (status == OpenConnectConnection::Disconnected) {
        m_preparing.reset();
        m_scaledBackgrounds.remove(connected);
    }

    const QString background = QLatin1String(status == OpenConnectConnection::Connected ? kConnectedBackground
                                                                                         : kDisconnectedBackground);
    // Connecting keeps the picture: a new palette would reach every child
    // and repaint the whole window while the tunnel is being made.
    if (background == m_background)
        return;
    m_background = background;
    paintBackground();
}

void RootWindow::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    // A pixmap brush tiles: rescale, or a grown window repeats the picture.
    paintBackground();
}

void RootWindow::showEvent(QShowEvent *event)
{
    paintBackground();
    QDialog::showEvent(event);
}

void RootWindow::chooseStartPage()
{
    showRootPage(Config::instance()->autoLogin() ? RootPage::AutoLogin : RootPage::Login);
}

void RootWindow::showRootPage(RootPage page)
{
    ui->stackedWidget->setCurrentIndex(int(page));
}

QPixmap RootWindow::scaledBackground(const QString &path)
{
    // Both pictures are kept drawn for the window's size and the screen's
    // pixel ratio: drawing one takes milliseconds, and the shared pixmap
    // cache, which holds only a few pictures of this size, would drop them.
    if (m_scaledFor != size()) {
        m_scaledBackgrounds.clear();
        m_scaledFor = size();
    }
    if (m_preparing && m_preparing->size() != size())
        m_preparing.reset();
    QPixmap &scaled = m_scaledBackgrounds[path];
    if (scaled.isNull()) {
        if (m_preparing && path == QLatin1String(kConnectedBackground)) {
            scaled = m_preparing->finish();
            m_preparing.reset();
        } else {
            scaled = uncachedPicture(path, size());
        }
    }
    return scaled;
}

void RootWindow::paintBackground()
{
    // Not drawn for a window nobody sees (start-up places and sizes it first).
    if (!isVisible())
        return;
    const QPixmap scaled = scaledBackground(m_background);
    if (scaled.isNull() || palette().brush(QPalette::Window).texture().cacheKey() == scaled.cacheKey())
        return;
    QPalette palette = this->palette();
    palette.setBrush(QPalette::Window, scaled);
    setPalette(palette);
    update();
}

} // namespace Varnel
