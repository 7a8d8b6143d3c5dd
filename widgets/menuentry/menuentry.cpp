#include "widgets/menuentry/menuentry.h"
#include "ui_menuentry.h"

#include "common/config.h"
#include "common/gui/iconcache.h"
#include "common/gui/showmessage.h"
#include "common/gui/pressable.h"
#include "common/gui/stylesheetbackground.h"

#include <QMouseEvent>
#include <QPixmap>

namespace Varnel {

MenuEntry::MenuEntry(const QString &picturePath, const QString &text, bool needsTunnel, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::MenuEntry>())
    , m_needsTunnel(needsTunnel)
{
    ui->setupUi(this);
    showPicture(ui->lblIcon, picturePath, QSize(32, 32));
    ui->lblText->setText(text);
    showPicture(ui->lblArrow, QStringLiteral(":/img/arrow.png"), QSize(14, 14));
    makePressable(this, text);
}

MenuEntry::~MenuEntry() = default;

void MenuEntry::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    const auto config = Config::instance();
    if (m_needsTunnel && config->killSwitch() && !config->connectionState()) {
        showMessage(tr("Please Connect the VPN to Proceed Further."), QMessageBox::Ok);
        return;
    }
    emit clicked();
}

void MenuEntry::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

MyAccout::MyAccout(QWidget *parent) : MenuEntry(QStringLiteral(":/img/menu account.png"), tr("My Account"), false, parent) {}
PremiumButton::PremiumButton(QWidget *parent) : MenuEntry(QStringLiteral(":/img/menu premium.png"), tr("Go Premium"), false, parent) {}
SupportButton::SupportButton(QWidget *parent) : MenuEntry(QStringLiteral(":/img/menu support.png"), tr("Support"), false, parent) {}
SettingButton::SettingButton(QWidget *parent) : MenuEntry(QStringLiteral(":/img/menu settings.png"), tr("Settings"), false, parent) {}
Tools::Tools(QWidget *parent) : MenuEntry(QStringLiteral(":/img/menu tools.png"), tr("Network Tools"), false, parent) {}
Devices::Devices(QWidget *parent) : MenuEntry(QStringLiteral(":/img/menu devices.png"), tr("Devices"), true, parent) {}
AboutUs::AboutUs(QWidget *parent) : MenuEntry(QStringLiteral(":/img/menu about.png"), tr("About Us"), false, parent) {}
VarnelMoreButton::VarnelMoreButton(QWidget *parent) : MenuEntry(QStringLiteral(":/img/menu more.png"), tr("More from Varnel"), false, parent) {}
Refer::Refer(QWidget *parent) : MenuEntry(QStringLiteral(":/img/menu refer.png"), tr("Refer a Friend"), true, parent) {}
RedeemVoucherButton::RedeemVoucherButton(QWidget *parent) : MenuEntry(QStringLiteral(":/img/menu voucher.png"), tr("Redeem Voucher"), true, parent) {}
PrivateBrowserButton::PrivateBrowserButton(QWidget *parent) : MenuEntry(QStringLiteral(":/img/menu browser.png"), tr("Private Browser"), false, parent) {}
LogoutButton::LogoutButton(QWidget *parent) : MenuEntry(QStringLiteral(":/img/menu logout.png"), tr("Log Out"), false, parent) {}

} // namespace Varnel
