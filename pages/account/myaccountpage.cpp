#include "pages/account/myaccountpage.h"
#include "ui_myaccountpage.h"

#include "backend/user.h"
#include "backend/vpncredentials.h"
#include "common/gui/clipboardcopy.h"
#include "common/gui/iconcache.h"
#include "widgets/planstatus/planstatus.h"

#include <QPixmap>

namespace Varnel {

MyAccountPage::MyAccountPage(QWidget *parent)
    : Page(parent)
    , ui(std::make_unique<Ui::MyAccountPage>())
{
    ui->setupUi(this);
    setBackButton(ui->btnBack);
    recordWhenShown(LeftPage::MyAccount);
}

MyAccountPage::~MyAccountPage() = default;

void MyAccountPage::reload()
{
    const auto user = User::instance();
    const VpnCredentials credentials = vpnCredentials();
    ui->lblPlan->setText(user->planName());
    ui->lblUserName->setText(credentials.username);
    ui->lblPassword->setText(QString(credentials.password.size(), QLatin1Char('*')));
    ui->lblPlanImage->setPixmap(cachedPicture(planPicture(user->userType()), QSize(72, 72)));
    // A free account without an end date has nothing to count down.
    const QDate validity = user->validityDate();
    ui->lblExpire->setVisible(validity.isValid());
    ui->lblDays->setVisible(validity.isValid());
    ui->lblExpire->setText(tr("Expire on") + QLatin1Char(' ') + validity.toString(Qt::TextDate));
    ui->lblDays->setText(QString::number(user->expireInDays()) + QLatin1Char(' ') + tr("Days"));
    ui->byNowButton->setText(user->hasPaidPlan() ? tr("Extend Your Plan") : tr("Buy Premium"));
    // The account's own address (the backend's contact_email).
    ui->lblEmail->setText(user->contactEmail());
    ui->lblEmail->setVisible(!user->contactEmail().isEmpty());
}

void MyAccountPage::on_btnCopyUser_pressed()
{
    copyWithNotice(vpnCredentials().username, tr("UserName copied to clipboard"));
}

void MyAccountPage::on_btnCopyPassword_pressed()
{
    copyWithNotice(vpnCredentials().password, tr("Password copied to clipboard"));
}

void MyAccountPage::on_byNowButton_pressed()
{
    emit byNowButtonClick();
}

} // namespace Varnel
