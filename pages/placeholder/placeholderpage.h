#pragma once

#include "common/gui/page.h"

#include <memory>

namespace Varnel {

namespace Ui {
class PlaceholderPage;
}

// A page of the logged-in area whose content comes later: its title, its
// back button and its record, so that the navigation around it works.
class PlaceholderPage : public Page
{
    Q_OBJECT
public:
    ~PlaceholderPage() override;

protected:
    PlaceholderPage(const QString &title, QWidget *parent);

private:
    std::unique_ptr<Ui::PlaceholderPage> ui;
};

class MyAccountPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit MyAccountPage(QWidget *parent = nullptr);
signals:
    void byNowButtonClick();
};

class ReferralRedeem : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit ReferralRedeem(QWidget *parent = nullptr);
signals:
    // A referral code was redeemed: the account is logged in again.
    void refresh();
};

class ReferFriendPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit ReferFriendPage(QWidget *parent = nullptr);
signals:
    void redeemReferalClick();
};

class DevicesPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit DevicesPage(QWidget *parent = nullptr);
};

class RedeemVoucherPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit RedeemVoucherPage(QWidget *parent = nullptr);
};

class PaymentPage : public PlaceholderPage
{
    Q_OBJECT
public:
    explicit PaymentPage(QWidget *parent = nullptr);
};

} // namespace Varnel
