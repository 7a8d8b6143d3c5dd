#include "app/serverpage.h"
#include "ui_serverpage.h"

#include "common/config.h"
#include "common/gui/pagestack.h"
#include "common/gui/pagestyling.h"
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
    makePages();
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

void ServerPage::makePages()
{
    QStackedWidget *left = ui->stackedWidget;
    QStackedWidget *right = ui->stackedWidget_2;
    styleWhenShown(left);
    styleWhenShown(right);
    m_serverList = makePage<ServerSelectionPage>(left, "serverSelectionPage");
    m_menu = makePage<MenuPage>(left, "menuPage");
    m_myAccount = makePage<MyAccountPage>(left, "myAccountPage");
    m_support = makePage<SupportPage>(left, "supportPage");
    m_tools = makePage<ToolsPage>(left, "toolsPage");
    m_referralRedeem = makePage<ReferralRedeem>(left, "referralRedeem");
    m_more = makePage<VarnelMorePage>(left, "varnelMorePage");
    m_aboutUs = makePage<AboutUsPage>(left, "aboutUsPage");
    m_referFriend = makePage<ReferFriendPage>(left, "referFriendPage");
    m_setting = makePage<SettingPage>(left, "settingPage");
    m_devices = makePage<DevicesPage>(left, "devicesPage");
    m_redeemVoucher = makePage<RedeemVoucherPage>(left, "redeemVoucherPage");
    m_connect = makePage<ConnectPage>(right, "connectPage");
    m_purchase = makePage<PaymentPage>(right, "purchasePage");

    // The pages the restore below shows first, so no other is laid out.
    const auto config = Config::instance();
    const QPair<int, int> restored = config->autoConnect() ? qMakePair(0, 0) : config->loadState();
    addPages(left,
             {m_serverList, m_menu, m_myAccount, m_support, m_tools, m_referralRedeem, m_more, m_aboutUs,
              m_referFriend, m_setting, m_devices, m_redeemVoucher},
             restored.first);
    addPages(right, {m_connect, m_purchase}, restored.second);
}

void ServerPage::wire()
{
    const auto pages = [this](LeftPage left, RightPage right) { return [=] { showPages(left, right); }; };
    const auto left = [this](LeftPage page) { return [=] { showLeft(page); }; };
    const auto purchase = [this] { showRight(RightPage::Purchase); };
    using L = LeftPage;
    using R = RightPage;
    MenuPage *menu = m_menu;
    ConnectPage *connectPage = m_connect;

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
    ServerSelectionPage *list = m_serverList;
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

    connect(m_myAccount, &MyAccountPage::clickBack, this, pages(L::Menu, R::Connect));
    connect(m_myAccount, &MyAccountPage::byNowButtonClick, this, purchase);
    // Network tools are reached from the settings too, and lead back there.
    connect(m_tools, &ToolsPage::clickBack, this, pages(L::Setting, R::Connect));
    for (Page *page : std::initializer_list<Page *>{m_support, m_more, m_aboutUs,
                                                     m_referFriend, m_setting, m_devices,
                                                     m_redeemVoucher})
        connect(page, &Page::clickBack, this, left(L::Menu));
    connect(m_purchase, &PaymentPage::clickBack, this, [this] { showRight(R::Connect); });
    connect(m_referFriend, &ReferFriendPage::redeemReferalClick, this, pages(L::ReferralRedeem, R::Connect));
    connect(m_referralRedeem, &ReferralRedeem::clickBack, this, pages(L::ReferFriend, R::Connect));
    connect(m_referralRedeem, &ReferralRedeem::refresh, this, &ServerPage::refreshLogin);

    SettingPage *settings = m_setting;
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
