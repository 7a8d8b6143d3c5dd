#pragma once

#include "common/gui/page.h"

#include <memory>

namespace Varnel {

namespace Ui {
class MyAccountPage;
}

// The account's plan, its expiry and the VPN credentials, with buttons that
// copy the credentials and a way to buy or extend premium.
class MyAccountPage : public Page
{
    Q_OBJECT
public:
    explicit MyAccountPage(QWidget *parent = nullptr);
    ~MyAccountPage() override;

signals:
    void byNowButtonClick();

protected:
    void reload() override;

private slots:
    void on_btnCopyUser_pressed();
    void on_btnCopyPassword_pressed();
    void on_byNowButton_pressed();

private:
    std::unique_ptr<Ui::MyAccountPage> ui;
};

} // namespace Varnel
