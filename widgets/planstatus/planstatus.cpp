#include "widgets/planstatus/planstatus.h"
#include "ui_planstatus.h"

#include "backend/user.h"
#include "common/gui/iconcache.h"
#include "common/gui/showrefresh.h"
#include "common/gui/stylesheetbackground.h"

#include <QCoreApplication>
#include <QPixmap>

namespace Varnel {

QString expiringText(int days)
{
    if (days <= 0)
        return QCoreApplication::translate("Varnel::PlanStatus", "Expired");
    return days == 1 ? QCoreApplication::translate("Varnel::PlanStatus", "Expiring in 1 day")
                     : QCoreApplication::translate("Varnel::PlanStatus", "Expiring in %1 days").arg(days);
}

QString planPicture(int userType)
{
    switch (userType) {
    case 1:
        return QStringLiteral(":/img/my account card.png");
    case 2:
        return QStringLiteral(":/img/my account premium.png");
    default:
        return QStringLiteral(":/img/my account free.png");
    }
}

PlanStatus::PlanStatus(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::PlanStatus>())
{
    ui->setupUi(this);
    connect(ui->btnBuyPremium, &QPushButton::clicked, this, &PlanStatus::buyPremiumClicked);
    refreshOnShow(this, [this] { refresh(); });
}

PlanStatus::~PlanStatus() = default;

void PlanStatus::refresh()
{
    const auto user = User::instance();
    const bool free = !user->hasPaidPlan();
    ui->lblPlan->setText(user->planName());
    ui->lblIcon->setPixmap(cachedPicture(planPicture(user->userType()), QSize(32, 32)));
    ui->lblExpiring->setText(free ? tr("Limited locations") : expiringText(user->expireInDays()));
    ui->btnBuyPremium->setVisible(free || user->expireInDays() <= kRenewalDays);
}

void PlanStatus::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

} // namespace Varnel
