#include "pages/placeholder/placeholderpage.h"
#include "ui_placeholderpage.h"

namespace Varnel {

PlaceholderPage::PlaceholderPage(const QString &title, QWidget *parent)
    : Page(parent)
    , ui(std::make_unique<Ui::PlaceholderPage>())
{
    ui->setupUi(this);
    ui->lblTitle->setText(title);
    setBackButton(ui->btnBack);
}

PlaceholderPage::~PlaceholderPage() = default;

MyAccountPage::MyAccountPage(QWidget *parent) : PlaceholderPage(tr("My Account"), parent)
{
    recordWhenShown(LeftPage::MyAccount);
}

ReferralRedeem::ReferralRedeem(QWidget *parent) : PlaceholderPage(tr("Redeem Referral Code"), parent)
{
    recordWhenShown(LeftPage::ReferralRedeem);
}

ReferFriendPage::ReferFriendPage(QWidget *parent) : PlaceholderPage(tr("Refer a Friend"), parent)
{
    recordWhenShown(LeftPage::ReferFriend);
}

// The devices page records itself once it shows its list.
DevicesPage::DevicesPage(QWidget *parent) : PlaceholderPage(tr("Devices"), parent) {}

RedeemVoucherPage::RedeemVoucherPage(QWidget *parent) : PlaceholderPage(tr("Redeem Voucher"), parent)
{
    recordWhenShown(LeftPage::RedeemVoucher);
}

// The purchase page sits on the right; the left page's record stands.
PaymentPage::PaymentPage(QWidget *parent) : PlaceholderPage(tr("Go Premium"), parent) {}

} // namespace Varnel
