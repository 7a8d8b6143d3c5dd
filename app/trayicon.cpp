#include "app/trayicon.h"

#include "common/appinfo.h"
#include "common/gui/iconcache.h"
#include "common/logger.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace Varnel {

namespace {

constexpr int kNotificationMs = 5000;

} // namespace

QString connectedNotice(const QString &serverName)
{
    // Two blanks before the name, as the product has always shown it.
    return TrayIcon::tr("You are connected to ") + QLatin1Char(' ') + serverName;
}

TrayIcon::TrayIcon(QObject *parent)
    : QObject(parent)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        Logger::instance().log(tr("System doesn't support tray icon"), 1, 4);
        return;
    }
    m_icon = new QSystemTrayIcon(this);
    m_menu = new QMenu;
    m_connect = m_menu->addAction(tr("Connect"));
    m_quit = m_menu->addAction(tr("Quit"));
    m_icon->setContextMenu(m_menu);
    setIcon(QStringLiteral(":/img/logo.png"));
    m_icon->setVisible(true);

    connect(m_connect, &QAction::triggered, this, &TrayIcon::connectTriggered);
    connect(m_quit, &QAction::triggered, this, &TrayIcon::quitTriggered);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            emit showRequested();
    });
}

TrayIcon::~TrayIcon()
{
    delete m_menu;   // a context menu has no parent of its own
}

void TrayIcon::showConnecting()
{
    if (!m_icon)
        return;
    m_connect->setEnabled(false);
    setIcon(QStringLiteral(":/img/connecting.png"));
}

void TrayIcon::showConnected(const QString &serverName)
{
    if (!m_icon)
        return;
    m_connect->setEnabled(true);
    m_connect->setText(tr("Disconnect"));
    setIcon(QStringLiteral(":/img/connected.png"));
    notify(connectedNotice(serverName));
}

void TrayIcon::notify(const QString &text)
{
    if (m_icon)
        m_icon->showMessage(applicationName(), text, QSystemTrayIcon::Information, kNotificationMs);
}

void TrayIcon::showDisconnected(bool loggedIn)
{
    if (!m_icon)
        return;
    m_connect->setEnabled(loggedIn);
    m_connect->setText(tr("Connect"));
    setIcon(QStringLiteral(":/img/200.png"));
}

void TrayIcon::setConnectEnabled(bool enabled)
{
    if (m_connect)
        m_connect->setEnabled(enabled);
}

void TrayIcon::setIcon(const QString &path)
{
    m_icon->setIcon(cachedIcon(path, true));
}

} // namespace Varnel
