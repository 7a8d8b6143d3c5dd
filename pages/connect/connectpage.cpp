#include "pages/connect/connectpage.h"
#include "ui_connectpage.h"

#include "backend/user.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "common/gui/afterpaint.h"
#include "common/gui/iconcache.h"
#include "common/gui/lockedserver.h"
#include "common/gui/restyle.h"
#include "common/gui/showmessage.h"
#include "common/gui/showrefresh.h"
#include "common/netinfo.h"
#include "platform/serviceclient.h"
#include "vpn/openconnectserver.h"
#include "widgets/settingkillswitch/networkinterfacestate.h"

#include <QConicalGradient>
#include <QDebug>
#include <QPainter>

namespace Varnel {

namespace {

constexpr int kStatsIntervalMs = 10000;
constexpr int kAnimationIntervalMs = 10;
constexpr int kStateIconHeight = 30;

// Drawn once: the protection display follows every status.
QPixmap stateIcon(const QString &path)
{
    return cachedPictureOfHeight(path, kStateIconHeight);
}

// What the user reads when a tunnel could not be made or went down.
QString failureText(TunnelFailure failure, const QString &detail)
{
    switch (failure) {
    case TunnelFailure::ServiceUnavailable:
        return detail.startsWith(ServiceClient::notRunningText())
            ? detail
            : ConnectPage::tr("The VPN connection ended: %1. Start the service with \"sudo systemctl start "
                              "varnelvpn\", then connect again.")
                  .arg(detail);
    case TunnelFailure::ServiceRefused:
        return ConnectPage::tr("The VPN connection could not be made: %1.").arg(detail);
    case TunnelFailure::ProgramMissing:
        return ConnectPage::tr("The OpenVPN program could not be started (%1). Install OpenVPN (for example "
                               "\"sudo apt install openvpn\") or name the program in VARNELVPN_OPENVPN, then "
                               "connect again.")
            .arg(detail);
    case TunnelFailure::ConfigurationRefused:
        return ConnectPage::tr("The configuration of this server was refused: it holds \"%1\", which could run "
                               "programs or write files on this computer. Nothing was started. Please choose "
                               "another server.")
            .arg(detail);
    case TunnelFailure::TunnelDevice:
        return ConnectPage::tr("The tunnel device could not be opened. Check that /dev/net/tun exists (\"sudo "
                               "modprobe tun\"), then connect again.");
    case TunnelFailure::ServerUnreachable:
        return ConnectPage::tr("Could not connect to the VPN server. Check your internet connection, then try "
                               "again or choose another server.");
    case TunnelFailure::CredentialsRejected:
        return ConnectPage::tr("Server connection error. Try another server.");
    case TunnelFailure::ServerKeyChanged:
        return ConnectPage::tr("The server identified itself with another key than before, so your password "
                               "was not sent. Someone may be intercepting the connection: try another server "
                               "or another network.");
    case TunnelFailure::ConnectionLost:
        return detail.isEmpty()
            ? ConnectPage::tr("The connection to the VPN server was lost. Connect again or choose another server.")
            : ConnectPage::tr("The connection to the VPN server was lost (%1). Connect again or choose another "
                              "server.")
                  .arg(detail);
    case TunnelFailure::SetupFailed:
        return ConnectPage::tr("The VPN connection could not be prepared (%1). Please try again.").arg(detail);
    case TunnelFailure::None:
        break;
    }
    return QString();
}

QString stateStyle(bool connected, int pixelSize)
{
    return QStringLiteral("font-size:%1px;font-weight: 500;color:%2;font-family: 'Montserrat';")
        .arg(pixelSize)
        .arg(connected ? QStringLiteral("white") : QStringLiteral("#434343"));
}

} // namespace

ConnectPage::ConnectPage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ConnectPage>())
{
    ui->setupUi(this);
    const auto engine = OpenConnectConnection::instance();
    connect(engine.get(), &OpenConnectConnection::statusChanged, this, &ConnectPage::onStatusChanged,
            Qt::QueuedConnection);
    // Queued like the status, so it arrives before the Disconnected it precedes.
    connect(engine.get(), &OpenConnectConnection::failed, this, &ConnectPage::onFailure, Qt::QueuedConnection);
    connect(&m_statsTimer, &QTimer::timeout, this, &ConnectPage::onStatsTimeout);
    connect(&m_animationTimer, &QTimer::timeout, this, &ConnectPage::onAnimationTimeout);

    connect(ui->serverSelectWidget, &ServerButton::clicked, this, &ConnectPage::requestServerSelection);
    connect(ui->stremmingServer, &StreamingServerButton::StreamingServerButtonClicked, this,
            &ConnectPage::connectToStreamingServer);
    connect(ui->gammingServer, &GammingServerButton::GammingServerClicked, this,
            &ConnectPage::connectToGammingServer);
    connect(ui->fastServer, &FastestServerButton::fastestServerClicked, this, &ConnectPage::ConnectToFastestServer);
    connect(ui->BuyPremiumWidget, &BuyPremiumButton::clicked, this, &ConnectPage::clickBuyPremiumButton);
    // On press, not on release: the button answers at once.
    connect(ui->btnConnect, &QPushButton::pressed, this, &ConnectPage::btnConnect_clicked);

    ui->btnConnect->setIcon(cachedIcon(QStringLiteral(":/img/disconnected.png")));
    nameConnectButton(OpenConnectConnection::Disconnected);
    QSizePolicy keepPlace = ui->statsWidget->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    ui->statsWidget->setSizePolicy(keepPlace);
    ui->statsWidget->hide();
    // Styled now, not at the first connect, where it would delay the news.
    ui->statsWidget->ensurePolished();

    setServerButton();
    refreshOnShow(this, [this] { refresh(); });
}

ConnectPage::~ConnectPage() = default;

void ConnectPage::on_btnLogout_clicked()
{
    emit logout();
}

void ConnectPage::btnConnect_clicked()
{
    const auto engine = OpenConnectConnection::instance();
    // Connecting, connected or going down: the button stops it.
    if (m_pageStatus != OpenConnectConnection::Disconnected) {
        engine->disconnect();
        return;
    }

    const auto bundle = User::instance()->activeBundle();
    if (!bundle)
        return;
    const QString address = bundle->ip();
    const QString config = bundle->config();
    const int type = bundle->type();
    qDebug() << "server:::" << address;
    if (address.isEmpty() || (type == OpenConnectConnection::kOpenVpn && config.isEmpty()))
        return;
    if (offerPurchaseIfLocked(*bundle, [this] { emit paymentPageRequest(); }))
        return;
    qDebug() << "bundle-> ipId::::::::" << bundle->ipId();

    const auto settings = Config::instance();
    settings->setActiveServer(bundle->ipId());
    engine->setProtocol(type);
    engine->setOpenVpnConfig(config, address);
    settings->save();
    if (const auto profile = engine->server()) {
        profile->gateway = address;
        qDebug() << "server:::" << profile->gateway;
    } else {
        engine->setServer(std::make_shared<OpenConnectServer>(address));
    }

    settings->load();
    if (settings->killSwitch())
        setNetworkInterfaceState(false);

    const OpenConnectConnection::ConnectResult result = engine->connect();
    if (result == OpenConnectConnection::Started
        && (type == OpenConnectConnection::kOpenVpn || type == OpenConnectConnection::kOpenConnect)) {
        m_ownsAttempt = true;
        m_failure = TunnelFailure::None;
    }
    switch (result) {
    case OpenConnectConnection::SetupFailed:
        showMessage(failureText(TunnelFailure::SetupFailed, engine->lastError()), QMessageBox::Ok);
        break;
    case OpenConnectConnection::AlreadyActive:
        showMessage(tr("Connection already active"), QMessageBox::Ok);
        break;
    case OpenConnectConnection::AlreadyRunning:
        showMessage(tr("VPN already running"), QMessageBox::Ok);
        break;
    case OpenConnectConnection::InvalidCredentials:
        showMessage(tr("Invalid credentials"), QMessageBox::Ok);
        break;
    case OpenConnectConnection::InvalidServer:
        showMessage(tr("Invalid server"), QMessageBox::Ok);
        break;
    default:
        break;
    }
}

void ConnectPage::reconnect(bool force)
{
    qDebug() << "reconncet request click";
    if (force && m_pageStatus != OpenConnectConnection::Disconnected) {
        btnConnect_clicked();
        m_reconnectPending = true;
        return;
    }
    btnConnect_clicked();
}

void ConnectPage::onStatusChanged(OpenConnectConnection::Status status)
{
    // OpenVPN reports Connecting for each step of an attempt: the page shows
    // it once (the rest would redo the same labels on this thread while the
    // tunnel is being made).
    if (status == OpenConnectConnection::Connecting && m_pageStatus == OpenConnectConnection::Connecting)
        return;
    switch (status) {
    case OpenConnectConnection::Connecting:
        m_pageStatus = status;
        ui->btnConnect->setIcon(cachedIcon(QStringLiteral(":/img/disconnected.png")));
        m_animationTimer.start(kAnimationIntervalMs);
        update(ringArea());
        break;
    case OpenConnectConnection::Disconnected:
        m_pageStatus = status;
        ui->btnConnect->setIcon(cachedIcon(QStringLiteral(":/img/disconnected.png")));
        ui->statsWidget->hide();
        m_statsTimer.stop();
        m_animationTimer.stop();
        qDebug() << "fire net update";
        if (Config::instance()->killSwitch())
            setNetworkInterfaceState(true);
        update(ringArea());
        if (m_reconnectPending) {
            m_reconnectPending = false;
            QTimer::singleShot(0, this, &ConnectPage::btnConnect_clicked);
        }
        if (m_ownsAttempt) {
            m_ownsAttempt = false;
            // After this slot: the page shows the new state behind the box.
            if (m_failure != TunnelFailure::None)
                QTimer::singleShot(0, this, &ConnectPage::tellFailure);
        }
        break;
    case OpenConnectConnection::Connected:
        m_pageStatus = status;
        ui->btnConnect->setIcon(cachedIcon(QStringLiteral(":/img/connected.png")));
        ui->statsWidget->show();
        m_statsTimer.start(kStatsIntervalMs);
        m_animationTimer.stop();
        update(ringArea());
        break;
    default:
        break;
    }
    nameConnectButton(status);
    showProtection();
}

void ConnectPage::nameConnectButton(int status)
{
    // The button is a picture: screen readers announce what a press does now.
    QString name;
    QString description;
    switch (status) {
    case OpenConnectConnection::Connecting:
        name = tr("Connecting");
        description = tr("Press to cancel");
        break;
    case OpenConnectConnection::Connected:
        name = tr("Disconnect");
        description = tr("Connected; press to disconnect");
        break;
    case OpenConnectConnection::Disconnecting:
        name = tr("Disconnecting");
        break;
    default:
        name = tr("Connect");
        description = tr("Connects to the selected location");
        break;
    }
    ui->btnConnect->setAccessibleName(name);
    ui->btnConnect->setAccessibleDescription(description);
}

void ConnectPage::onFailure(TunnelFailure failure, const QString &detail)
{
    if (!m_ownsAttempt)
        return;
    m_failure = failure;
    m_failureDetail = detail;
}

void ConnectPage::tellFailure()
{
    const TunnelFailure failure = m_failure;
    m_failure = TunnelFailure::None;
    if (failure != TunnelFailure::None)
        showMessage(failureText(failure, m_failureDetail), QMessageBox::Ok);
}

void ConnectPage::onStatsTimeout()
{
    OpenConnectConnection::instance()->update_stats();
}

void ConnectPage::onAnimationTimeout()
{
    m_ringAngle -= 3.0;
    if (m_ringAngle < 0)
        m_ringAngle = 360.0;
    // Only the ring's square: a hundred frames a second of the whole page
    // (and the window's background under it) would keep the GUI thread busy.
    repaint(ringArea());
}

QRect ConnectPage::ringArea() const
{
    const QRect button = ui->btnConnect->geometry();
    return QRect(button.x() - 4, button.y() - 6, button.width() + 12, button.width() + 12);
}

void ConnectPage::setNetworkInterfaceState(bool enable)
{
    applyNetworkInterfaceState(this, enable);
}

void ConnectPage::setServerButton()
{
    const auto config = Config::instance();
    config->load();
    ui->serverButton->setVisible(config->serverButton());
}

void ConnectPage::refresh()
{
    showProtection();
    ui->lblVersion->setText(tr("Version: ") + applicationVersion());
    ui->BuyPremiumWidget->setVisible(User::instance()->planName() == QLatin1String("Free"));
    ui->homeImageWidget->setVisible(User::instance()->showBanner() != 0);
}

void ConnectPage::showProtection()
{
    const auto bundle = User::instance()->activeBundle();
    const bool connected = m_pageStatus == OpenConnectConnection::Connected;
    const auto config = Config::instance();
    if (connected) {
        ui->lblSelectionIp->setText(bundle ? bundle->ip().section(QLatin1Char(':'), 0, 0) : QString());
        ui->lblProtectedLogo->setPixmap(stateIcon(QStringLiteral(":/img/protected.png")));
        ui->lblProtectedText->setText(tr("Protected Now"));
        ui->lblIPLogo->setPixmap(stateIcon(QStringLiteral(":/img/ip.png")));
    } else {
        ui->lblSelectionIp->setText(localIpv4());
        ui->lblProtectedLogo->setPixmap(stateIcon(QStringLiteral(":/img/not-protected.png")));
        ui->lblProtectedText->setText(tr("Not Protected"));
        ui->lblIPLogo->setPixmap(stateIcon(QStringLiteral(":/img/ip-icon.png")));
    }
    restyle(ui->lblSelectionIp, stateStyle(connected, 16));
    restyle(ui->lblProtectedText, stateStyle(connected, 16));
    restyle(ui->lblVersion, stateStyle(connected, 14));
    config->setConnectionState(connected);
    // Written right after the window has shown the state: a changed settings
    // file is synced to disk twice, and the disk's speed must not stand
    // between a tunnel's state and what the user sees of it.
    if (!m_savePending) {
        m_savePending = true;
        afterPendingPaints(this, [this] {
            m_savePending = false;
            const auto config = Config::instance();
            config->setConnectionState(m_pageStatus == OpenConnectConnection::Connected);
            config->save();
        });
    }
}

void ConnectPage::paintEvent(QPaintEvent *)
{
    if (m_pageStatus != OpenConnectConnection::Connecting && m_pageStatus != OpenConnectConnection::Connected)
        return;
    const QRect button = ui->btnConnect->geometry();
    const int x = button.x();
    const int y = button.y();
    const int w = button.width();

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_pageStatus == OpenConnectConnection::Connecting) {
        const QRectF square(x - 2, y - 4, w + 8, w + 8);
        QConicalGradient gradient(square.center(), m_ringAngle);
        gradient.setColorAt(0.0, QColor(191, 30, 46));
        gradient.setColorAt(0.6, Qt::transparent);
        gradient.setColorAt(1.0, Qt::transparent);
        QPen pen(QBrush(gradient), 3.0);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        painter.drawArc(square, -90 * 16, 360 * 16);
    } else {
        const QRectF square(x, y - 2, w + 4, w + 4);
        QConicalGradient gradient(square.center(), 0);
        gradient.setColorAt(0.0, QColor(0, 128, 0));
        gradient.setColorAt(1.0, QColor(0, 128, 0));
        QPen pen(QBrush(gradient), 4.0);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        painter.drawArc(square, 1435, -360 * 16);
    }
}

} // namespace Varnel
