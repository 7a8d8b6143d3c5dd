#pragma once

#include "common/gui/codeentrypage.h"

#include <memory>

namespace Varnel {

namespace Ui {
class RedeemVoucherPage;
}

// Redeems a subscription code (voucher); the new plan applies from the
// next login.
class RedeemVoucherPage : public CodeEntryPage
{
    Q_OBJECT
public:
    explicit RedeemVoucherPage(QWidget *parent = nullptr);
    ~RedeemVoucherPage() override;

private slots:
    void on_btnSubmit_pressed();

private:
    void submitCode() override { on_btnSubmit_pressed(); }

    std::unique_ptr<Ui::RedeemVoucherPage> ui;
};

} // namespace Varnel
