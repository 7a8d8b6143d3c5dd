#pragma once

#include "common/gui/page.h"

#include <memory>

namespace Varnel {

namespace Ui {
class RedeemVoucherPage;
}

class BusyState;

// Redeems a subscription code (voucher); the new plan applies from the
// next login.
class RedeemVoucherPage : public Page
{
    Q_OBJECT
public:
    explicit RedeemVoucherPage(QWidget *parent = nullptr);
    ~RedeemVoucherPage() override;

private slots:
    void on_btnSubmit_pressed();

private:
    std::unique_ptr<Ui::RedeemVoucherPage> ui;
    BusyState *m_busy;
};

} // namespace Varnel
