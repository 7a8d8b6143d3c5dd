#include "widgets/quickconnect/fastestserverbutton.h"
#include "ui_fastestserverbutton.h"

#include "backend/user.h"
#include "common/config.h"
#include "common/gui/iconcache.h"
#include "common/gui/restyle.h"
#include "common/gui/roundbadge.h"
#include "common/gui/showrefresh.h"
#include "common/iconnames.h"

#include <QDebug>
#include <QImage>

namespace Varnel {

namespace {

constexpr int kBadgeHeight = 40;

// Long country names do not fit the button: their first five letters.
QString shortName(const QString &countryName)
{
    return countryName.size() <= 9 ? countryName : countryName.left(5);
}

} // namespace

FastestServerButton::FastestServerButton(QWidget *parent)
    : QuickConnectButton(parent)
    , ui(std::make_unique<Ui::FastestServerButton>())
{
    ui->setupUi(this);
    ui->lblName->setText(tr("Fastest Server"));
    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged, this,
            &FastestServerButton::onStatusChanged, Qt::QueuedConnection);
    refreshOnShow(this, [this] { shown(); });
}

FastestServerButton::~FastestServerButton() = default;

void FastestServerButton::mousePressEvent(QMouseEvent *event)
{
    QuickConnectButton::mousePressEvent(event);
    qDebug() << "is bundles is empty::::calling:::" << (User::instance()->bundles().isEmpty() ? "true" : "false");
    const IPBundleList fast = bundlesWith([](const IPBundle &bundle) { return bundle.fastServer(); });
    if (!fast.isEmpty()) {
        const auto &bundle = fast.at(m_presses % fast.size());
        makeActive(*bundle);
        showServer(bundle->countryName(), bundle->countryCode());
        emit fastestServerClicked();
    }
    ++m_presses;
}

void FastestServerButton::selectRandomBundil()
{
    const auto config = Config::instance();
    showServer(config->fastestServer(), config->fastestCountryCode());
}

void FastestServerButton::shown()
{
    const auto config = Config::instance();
    config->load();
    selectRandomBundil();
    if (config->autoConnect() && !config->connectionState()) {
        qDebug() << "emit a singal for autoconncet";
        emit fastestServerClicked();
    }
}

void FastestServerButton::showServer(const QString &countryName, int countryCode)
{
    ui->lblName->setText(tr("Fastest Server"));
    ui->lblTitle->setText(shortName(countryName));
    ui->lblLogo->setPixmap(roundBadge(sourcePicture(iconPath(countryCode)), kBadgeHeight));
}

void FastestServerButton::onStatusChanged(OpenConnectConnection::Status status)
{
    const bool connected = status == OpenConnectConnection::Connected;
    restyle(ui->lblTitle, textStyle(connected, 18));
    restyle(ui->lblName, textStyle(connected, 14));
    update();
}

} // namespace Varnel
