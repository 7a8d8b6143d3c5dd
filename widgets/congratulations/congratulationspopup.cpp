#include "widgets/congratulations/congratulationspopup.h"
#include "ui_congratulationspopup.h"

#include "common/appinfo.h"

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
    ui->lblPicture->setPixmap(QPixmap(QStringLiteral(":/img/congratulations.png"))
                                  .scaled(96, 96, Qt::KeepAspectRatio, Qt::SmoothTransformation));
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
