#include "widgets/settingkillswitch/settingkillswitch.h"
#include "ui_settingkillswitch.h"

#include "common/config.h"
#include "common/gui/iconcache.h"
#include "common/gui/pressable.h"
#include "common/gui/showrefresh.h"
#include "vpn/killswitch.h"

#include <QDebug>
#include <QMouseEvent>
#include <QPixmap>

namespace Varnel {

SettingKillSwitch::SettingKillSwitch(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::SettingKillSwitch>())
{
    ui->setupUi(this);
    makePressable(this);   // named by its title and description
    refreshOnShow(this, [this] { refresh(); });
}

SettingKillSwitch::~SettingKillSwitch() = default;

void SettingKillSwitch::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    // The picture first: the script that follows may take a while.
    showSwitch(!Config::instance()->killSwitch());
    KillSwitch::toggle();
    emit clicked();
}

void SettingKillSwitch::refresh()
{
    const bool on = Config::instance()->killSwitch();
    qDebug() << "state::::" << (on ? "true" : "false");
    showSwitch(on);
}

void SettingKillSwitch::showSwitch(bool on)
{
    ui->lblArrow->setPixmap(
        cachedPicture(on ? QStringLiteral(":/img/1.png") : QStringLiteral(":/img/0.png"), QSize(32, 32)));
    setSwitchState(this, on);
}

} // namespace Varnel
