#include "widgets/quickconnect/serverbutton.h"
#include "ui_serverbutton.h"

#include "backend/user.h"
#include "common/gui/iconcache.h"
#include "common/gui/restyle.h"
#include "common/gui/roundbadge.h"
#include "common/gui/showrefresh.h"
#include "common/iconnames.h"

#include <QImage>
#include <QLabel>

namespace Varnel {

namespace {

constexpr int kBadgeHeight = 48;
const QColor kAccent(191, 30, 46);

bool tunnelDown()
{
    return OpenConnectConnection::instance()->status() == OpenConnectConnection::Disconnected;
}

} // namespace

ServerButton::ServerButton(QWidget *parent)
    : QuickConnectButton(parent)
    , ui(std::make_unique<Ui::ServerButton>())
{
    ui->setupUi(this);
    ui->lblFlag->setPixmap(
        cachedPicture(QStringLiteral(":/img/varnel-white-logo.png"), QSize(kBadgeHeight, kBadgeHeight)));
    ui->lblChangeLocation->setText(tr("Selected Location"));
    ui->lblCountry->setText(tr("No server selected"));
    ui->lblCity->clear();
    connect(OpenConnectConnection::instance().get(), &OpenConnectConnection::statusChanged, this,
            &ServerButton::onStatusChanged, Qt::QueuedConnection);
    refreshOnShow(this, [this] { refresh(); });
}

ServerButton::~ServerButton() = default;

// The accent while a tunnel is under way or up (white texts on the red
// window); a white card with accent texts on the white window otherwise,
// where accent texts on an accent fill could not be read.
QColor ServerButton::fill() const
{
    return tunnelDown() ? QColor(Qt::white) : kAccent;
}

void ServerButton::mousePressEvent(QMouseEvent *event)
{
    QuickConnectButton::mousePressEvent(event);
    emit clicked();
}

void ServerButton::onStatusChanged(OpenConnectConnection::Status)
{
    refresh();
}

void ServerButton::refresh()
{
    if (tunnelDown()) {
        setTextColour(ui->lblChangeLocation, Qt::black);
        setTextColour(ui->lblCity, Qt::black);
        setTextColour(ui->lblCountry, kAccent);
    } else {
        for (QLabel *label : {ui->lblChangeLocation, ui->lblCity, ui->lblCountry})
            setTextColour(label, Qt::white);
    }
    ui->lblChangeLocation->setText(tr("Selected Location"));
    // Without any server the initial texts and picture stay.
    if (const auto bundle = User::instance()->activeBundle()) {
        ui->lblCountry->setText(bundle->countryName());
        ui->lblCity->setText(bundle->ipName());
        ui->lblFlag->setPixmap(roundBadge(sourcePicture(iconPath(bundle->countryCode())), kBadgeHeight));
    }
    update();
}

} // namespace Varnel
