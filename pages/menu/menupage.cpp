#include "pages/menu/menupage.h"
#include "ui_menupage.h"

#include "common/gui/pageindex.h"
#include "common/gui/showrefresh.h"

namespace Varnel {

MenuPage::MenuPage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::MenuPage>())
{
    ui->setupUi(this);
    connect(ui->btnBack, &QPushButton::clicked, this, &MenuPage::backClick);
    connect(ui->myaccountButton, &MenuEntry::clicked, this, &MenuPage::myAccountButtonClick);
    connect(ui->premimumButton, &MenuEntry::clicked, this, &MenuPage::premiumButtonClick);
    connect(ui->supportButton, &MenuEntry::clicked, this, &MenuPage::supportButtonClick);
    connect(ui->settingButton, &MenuEntry::clicked, this, &MenuPage::settingButtonClick);
    connect(ui->toolButton, &MenuEntry::clicked, this, &MenuPage::toolsButtonClick);
    connect(ui->deviceButton, &MenuEntry::clicked, this, &MenuPage::deviceButtonClick);
    connect(ui->aboutUsButton, &MenuEntry::clicked, this, &MenuPage::aboutUsButtonClick);
    connect(ui->varnelMoreButton, &MenuEntry::clicked, this, &MenuPage::varnelMoreButtonClick);
    connect(ui->referButton, &MenuEntry::clicked, this, &MenuPage::referButtonClick);
    connect(ui->redeemVoucherButton, &MenuEntry::clicked, this, &MenuPage::redeemVoucherButtonClick);
    connect(ui->logoutButton, &MenuEntry::clicked, this, &MenuPage::logoutButtonClick);
    connect(ui->planStatus, &PlanStatus::buyPremiumClicked, this, &MenuPage::premiumButtonClick);
    // This platform has no private browser: an entry that does nothing is
    // not offered.
    ui->privateBrowser->hide();

    refreshOnShow(this, [] { recordPages(LeftPage::Menu); });
}

MenuPage::~MenuPage() = default;

} // namespace Varnel
