#pragma once

#include "common/gui/page.h"

#include <memory>

namespace Varnel {

namespace Ui {
class ReferralRedeem;
}

class BusyState;

// Redeems a friend's referral code. A redeemed code changes the account,
// so the program logs in again afterwards (refresh).
class ReferralRedeem : public Page
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
    std::unique_ptr<Ui::ReferralRedeem> ui;
    BusyState *m_busy;
};

} // namespace Varnel
