#pragma once

#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class MenuPage;
}

// The side menu: one entry per page of the logged-in area, a back button to
// the server list, and logging out.
class MenuPage : public QWidget
{
    Q_OBJECT
public:
    explicit MenuPage(QWidget *parent = nullptr);
    ~MenuPage() override;

signals:
    void backClick();
    void myAccountButtonClick();
    void premiumButtonClick();
    void supportButtonClick();
    void settingButtonClick();
    void toolsButtonClick();
    void deviceButtonClick();
    void aboutUsButtonClick();
    void varnelMoreButtonClick();
    void referButtonClick();
    void redeemVoucherButtonClick();
    void logoutButtonClick();
    void addonsButtonClick();

private:
    std::unique_ptr<Ui::MenuPage> ui;
};

} // namespace Varnel
