#include "app/serverpage.h"
#include "ui_serverpage.h"

#include "common/config.h"
#include "pages/about/aboutuspage.h"
#include "pages/account/myaccountpage.h"
#include "pages/connect/connectpage.h"
#include "pages/devices/devicespage.h"
#include "pages/menu/menupage.h"
#include "pages/more/varnelmorepage.h"
#include "pages/payment/paymentpage.h"
#include "pages/referral/referfriendpage.h"
#include "pages/referral/referralredeem.h"
#include "pages/serverselection/serverselectionpage.h"
#include "pages/setting/settingpage.h"
#include "pages/tools/toolspage.h"
#include "pages/support/supportpage.h"
#include "pages/voucher/redeemvoucherpage.h"

namespace Varnel {

namespace {

// A recorded index without a page (an older or damaged record) leaves the
// stack where it is.
void showIndex(QStackedWidget *stack, int index)
{
    if (index >= 0 && index < stack->count())
        stack->setCurrentIndex(index);
}

} // namespace

ServerPage::ServerPage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ServerPage>())
{
    ui->setupUi(this);
    wire();
    restorePages();
}

ServerPage::~ServerPage() = default;

void ServerPage::restorePages()
{
    const auto config = Config::instance();
    if (config->autoConnect()) {
        showPages(LeftPage::ServerList, RightPage::Connect);
        return;
    }
    const QPair<int, int> state = config->loadState();
    showIndex(ui->stackedWidget, state.first);
    showIndex(ui->stackedWidget_2, state.second);
}

void ServerPage::wire()
{
    const auto pages = [this](LeftPage left, RightPage right) { return [=] { showPages(left, right); }; };
    const auto left = [this](LeftPage page) { return [=] { showLeft(page); }; };
    const auto purchase = [this] { showRight(RightPage::Purchase); };
    using L = LeftPage;
    using R = RightPage;
    MenuPage *menu = ui->menuPage;
    ConnectPage *connectPage = ui->connectPage;

    connect(menu, &MenuPage::backClick, this, pages(L::ServerList, R::Connect));
    connect(menu, &MenuPage::logoutButtonClick, this, &ServerPage::logout);
    connect(menu, &MenuPage::myAccountButtonClick, this, pages(L::MyAccount, R::Connect));
    connect(menu, &MenuPage::supportButtonClick, this, pages(L::Support, R::Connect));
    connect(menu, &MenuPage::toolsButtonClick, this, pages(L::Tools, R::Connect));
    connect(menu, &MenuPage::varnelMoreButtonClick, this, pages(L::VarnelMore, R::Connect));
    connect(menu, &MenuPage::aboutUsButtonClick, this, pages(L::AboutUs, R::Connect));
    connect(menu, &MenuPage::referButtonClick, this, pages(L::ReferFriend, R::Connect));
    connect(menu, &MenuPage::settingButtonClick, this, pages(L::Setting, R::Connect));
    connect(menu, &MenuPage::deviceButtonClick, this, pages(L::Devices, R::Connect));
    connect(menu, &MenuPage::redeemVoucherButtonClick, this, left(L::RedeemVoucher));
    connect(menu, &MenuPage::premiumButtonClick, this, purchase);

    // A server was picked: the connect page (re)connects to it.
    const auto connectPicked = [this, connectPage] {
        showRight(R::Connect);
        connectPage->reconnect(true);
    };
    ServerSelectionPage *list = ui->serverSelectionPage;
    connect(list, &ServerSelectionPage::menueButtonClick, this, left(L::Menu));
    connect(list, &ServerSelectionPage::connectUiAndConnect, this, connectPicked);
    connect(list, &ServerSelectionPage::paymentPageRequest, this, purchase);
    connect(list, &ServerSelectionPage::autoConncet, this, &ServerPage::connectButtonClick);
    // The selected location leads to the list of locations.
    connect(connectPage, &ConnectPage::requestServerSelection, this, left(L::ServerList));
    connect(connectPage, &ConnectPage::connectToStreamingServer, this, connectPicked);
    connect(connectPage, &ConnectPage::connectToGammingServer, this, connectPicked);
    connect(connectPage, &ConnectPage::ConnectToFastestServer, this, connectPicked);
    connect(connectPage, &ConnectPage::clickBuyPremiumButton, this, purchase);
    connect(connectPage, &ConnectPage::paymentPageRequest, this, purchase);
    connect(this, &ServerPage::connectButtonClick, connectPage, &ConnectPage::btnConnect_clicked);

    connect(ui->myAccountPage, &MyAccountPage::clickBack, this, pages(L::Menu, R::Connect));
    connect(ui->myAccountPage, &MyAccountPage::byNowButtonClick, this, purchase);
    // Network tools are reached from the settings too, and lead back there.
    connect(ui->toolsPage, &ToolsPage::clickBack, this, pages(L::Setting, R::Connect));
    for (Page *page : std::initializer_list<Page *>{ui->supportPage, ui->varnelMorePage, ui->aboutUsPage,
                                                     ui->referFriendPage, ui->settingPage, ui->devicesPage,
                                                     ui->redeemVoucherPage})
        connect(page, &Page::clickBack, this, left(L::Menu));
    connect(ui->purchasePage, &PaymentPage::clickBack, this, [this] { showRight(R::Connect); });
    connect(ui->referFriendPage, &ReferFriendPage::redeemReferalClick, this, pages(L::ReferralRedeem, R::Connect));
    connect(ui->referralRedeem, &ReferralRedeem::clickBack, this, pages(L::ReferFriend, R::Connect));
    connect(ui->referralRedeem, &ReferralRedeem::refresh, this, &ServerPage::refreshLogin);

    SettingPage *settings = ui->settingPage;
    connect(settings, &SettingPage::autoConnectClicked, this, &ServerPage::connectButtonClick);
    connect(settings, &SettingPage::clickedGeneralButton, connectPage, &ConnectPage::setServerButton);
    connect(settings, &SettingPage::clickNetworkProtecton, this, pages(L::Tools, R::Connect));
}

void ServerPage::showPages(LeftPage left, RightPage right)
{
    showLeft(left);
    showRight(right);
}

void ServerPage::showLeft(LeftPage left)
{
    showIndex(ui->stackedWidget, int(left));
}

void ServerPage::showRight(RightPage right)
{
    showIndex(ui->stackedWidget_2, int(right));
}

} // namespace Varnel
