#include "widgets/congratulations/congratulationspopup.h"
#include "ui_congratulationspopup.h"

#include "common/appinfo.h"
#include "common/gui/iconcache.h"

#include <QPixmap>

namespace Varnel {

CongratulationsPopup::CongratulationsPopup(QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::CongratulationsPopup>())
{
    ui->setupUi(this);
    setWindowTitle(applicationName());
    setAttribute(Qt::WA_DeleteOnClose);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    ui->lblPicture->setPixmap(cachedPicture(QStringLiteral(":/img/congratulations.png"), QSize(96, 96)));
}

CongratulationsPopup::~CongratulationsPopup() = default;

void CongratulationsPopup::on_btnNotNow_pressed()
{
    close();
}

void CongratulationsPopup::on_btnReferMore_pressed()
{
    emit connectToReferPage();
    close();
}

} // namespace Varnel
