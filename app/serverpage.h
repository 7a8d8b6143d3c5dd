#pragma once

#include "common/gui/pageindex.h"

#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class ServerPage;
}

class AboutUsPage;
class ConnectPage;
class DevicesPage;
class MenuPage;
class MyAccountPage;
class PaymentPage;
class RedeemVoucherPage;
class ReferFriendPage;
class ReferralRedeem;
class ServerSelectionPage;
class SettingPage;
class SupportPage;
class ToolsPage;
class VarnelMorePage;

// The logged-in area: on the left the server list and the side-menu pages,
// on the right the connect page and the purchase page.
class ServerPage : public QWidget
{
    Q_OBJECT
public:
    explicit ServerPage(QWidget *parent = nullptr);
    ~ServerPage() override;

    // Back to the recorded page pair; with auto-connect on, always the
    // server list beside the connect page.
    void restorePages();

signals:
    void logout();
    void connectButtonClick();
    void refreshLogin();

private:
    void makePages();
    void wire();
    void showPages(LeftPage left, RightPage right);
    void showLeft(LeftPage left);
    void showRight(RightPage right);

    std::unique_ptr<Ui::ServerPage> ui;
    // Left stack, in index order (LeftPage).
    ServerSelectionPage *m_serverList = nullptr;
    MenuPage *m_menu = nullptr;
    MyAccountPage *m_myAccount = nullptr;
    SupportPage *m_support = nullptr;
    ToolsPage *m_tools = nullptr;
    ReferralRedeem *m_referralRedeem = nullptr;
    VarnelMorePage *m_more = nullptr;
    AboutUsPage *m_aboutUs = nullptr;
    ReferFriendPage *m_referFriend = nullptr;
    SettingPage *m_setting = nullptr;
    DevicesPage *m_devices = nullptr;
    RedeemVoucherPage *m_redeemVoucher = nullptr;
    // Right stack (RightPage).
    ConnectPage *m_connect = nullptr;
    PaymentPage *m_purchase = nullptr;
};

} // namespace Varnel
