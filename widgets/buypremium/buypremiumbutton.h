#pragma once

#include "widgets/clickablecard.h"

#include <memory>

namespace Varnel {

namespace Ui {
class BuyPremiumButton;
}

// The free account's way to the purchase page; a press emits clicked().
class BuyPremiumButton : public ClickableCard
{
    Q_OBJECT
public:
    explicit BuyPremiumButton(QWidget *parent = nullptr);
    ~BuyPremiumButton() override;

private:
    std::unique_ptr<Ui::BuyPremiumButton> ui;
};

} // namespace Varnel
