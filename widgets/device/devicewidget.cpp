#include "widgets/device/devicewidget.h"
#include "ui_devicegroup.h"
#include "ui_devicewidget.h"

#include "common/gui/iconcache.h"
#include "common/gui/stylesheetbackground.h"

#include <QPixmap>

namespace Varnel {

DeviceWidget::DeviceWidget(const QString &model, const QString &brand, const QString &osVersion,
                           const QString &appVersion, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::DeviceWidget>())
{
    ui->setupUi(this);
    ui->lblModel->setText(model);
    ui->lblBrand->setText(brand);
    ui->lblOsVersion->setText(tr("Version %1").arg(osVersion));
    ui->lblAppVersion->setText(tr("App Version-") + appVersion);
}

DeviceWidget::~DeviceWidget() = default;

void DeviceWidget::paintEvent(QPaintEvent *)
{
    paintStyleSheetBackground(this);
}

DeviceGroup::DeviceGroup(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::DeviceGroup>())
{
    ui->setupUi(this);
    hide();
}

DeviceGroup::~DeviceGroup() = default;

void DeviceGroup::setSystem(const QString &title, const QString &picture)
{
    ui->lblSystem->setText(title);
    showPicture(ui->lblIcon, picture, QSize(28, 28));
}

void DeviceGroup::add(DeviceWidget *device)
{
    ui->deviceList->addWidget(device);
    ++m_count;
    showCount();
    show();
}

void DeviceGroup::clear()
{
    while (QLayoutItem *item = ui->deviceList->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_count = 0;
    hide();
}

void DeviceGroup::showCount()
{
    ui->lblCount->setText(QString::number(m_count));
}

} // namespace Varnel
