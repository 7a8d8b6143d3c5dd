#include "widgets/buypremium/buypremiumbutton.h"
#include "ui_buypremiumbutton.h"

#include "common/gui/iconcache.h"

#include <QPixmap>

namespace Varnel {

BuyPremiumButton::BuyPremiumButton(QWidget *parent)
    : ClickableCard(parent)
    , ui(std::make_unique<Ui::BuyPremiumButton>())
{
    ui->setupUi(this);
    // The crown in white, as on the premium account picture.
    showPicture(ui->lblIcon, QStringLiteral(":/img/crown white.png"), QSize(20, 20));
}

BuyPremiumButton::~BuyPremiumButton() = default;

} // namespace Varnel
