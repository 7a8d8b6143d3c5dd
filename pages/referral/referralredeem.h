#pragma once

#include "common/gui/codeentrypage.h"

#include <memory>

namespace Varnel {

namespace Ui {
class ReferralRedeem;
}

// Redeems a friend's referral code. A redeemed code changes the account,
// so the program logs in again afterwards (refresh).
class ReferralRedeem : public CodeEntryPage
{
    Q_OBJECT
public:
    explicit ReferralRedeem(QWidget *parent = nullptr);
    ~ReferralRedeem() override;

signals:
    void refresh();

private slots:
    void on_btnSubmit_pressed();

private:
    void submitCode() override { on_btnSubmit_pressed(); }

    std::unique_ptr<Ui::ReferralRedeem> ui;
};

} // namespace Varnel
