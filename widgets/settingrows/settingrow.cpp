#include "widgets/settingrows/settingrow.h"
#include "ui_settingrow.h"

#include "common/config.h"
#include "common/gui/iconcache.h"
#include "common/gui/pressable.h"
#include "common/gui/showrefresh.h"

#include <QMouseEvent>

namespace Varnel {

namespace {

const char kArrow[] = ":/img/arrow.png";
const char kOn[] = ":/img/1.png";
const char kOff[] = ":/img/0.png";

} // namespace

SettingRow::SettingRow(const QString &picture, const QString &title, const QString &description, QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::SettingRow>())
{
    ui->setupUi(this);
    showPicture(ui->lblIcon, picture, ui->lblIcon->maximumSize());
    ui->lblTitle->setText(title);
    ui->lblDescription->setText(description);
    setIndicator(QString::fromLatin1(kArrow), 15);
    makePressable(this, title, description.simplified());
}

SettingRow::~SettingRow() = default;

void SettingRow::setIndicator(const QString &picture, int size, int rotation)
{
    ui->lblArrow->setPixmap(cachedPicture(picture, QSize(size, size), rotation));
}

void SettingRow::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    pressed();
    emit clicked();
}

void ExpandableSettingRow::pressed()
{
    m_expanded = !m_expanded;
    setIndicator(QString::fromLatin1(kArrow), 15, m_expanded ? 90 : 0);
}

SettingProtocolButton::SettingProtocolButton(QWidget *parent)
    : ExpandableSettingRow(QStringLiteral(":/img/protocol.png"), tr("Protocol"), tr("Choose a type of protocol"), parent)
{
}

SettingGeneralButton::SettingGeneralButton(QWidget *parent)
    : ExpandableSettingRow(QStringLiteral(":/img/general.png"), tr("General"),
                           tr("More setting here to custom your \nVPN setting"), parent)
{
}

NetworkProtection::NetworkProtection(QWidget *parent)
    : SettingRow(QStringLiteral(":/img/network protection.png"), tr("Network Protection"),
                 tr("Discover local unprotected network"), parent)
{
}

SettingAutoConnectButton::SettingAutoConnectButton(QWidget *parent)
    : SettingRow(QStringLiteral(":/img/auto connect.png"), tr("Auto Connect"),
                 tr("Customize your conncect setting easily"), parent)
{
    refreshOnShow(this, [this] {
        const auto config = Config::instance();
        config->load();
        m_on = config->autoConnect();
        showSwitch();
    });
    showSwitch();
}

void SettingAutoConnectButton::pressed()
{
    m_on = !m_on;
    showSwitch();
    const auto config = Config::instance();
    config->setAutoConnect(m_on);
    config->save();
}

void SettingAutoConnectButton::showSwitch()
{
    setIndicator(QString::fromLatin1(m_on ? kOn : kOff), 32);
    setSwitchState(this, m_on);
}

AppCrashReportButton::AppCrashReportButton(QWidget *parent)
    : SettingRow(QStringLiteral(":/img/app crash.png"), tr("App Crash Report"),
                 tr("Automatically send a report if app crashed"), parent)
{
}

NotificationButton::NotificationButton(QWidget *parent)
    : SettingRow(QStringLiteral(":/img/no notifications.png"), tr("Notification"), tr("Enabel basic notifications"),
                 parent)
{
    setIndicator(QString::fromLatin1(kOff), 26);
    setSwitchState(this, false);
}

void NotificationButton::pressed()
{
    m_on = !m_on;
    setIndicator(QString::fromLatin1(m_on ? kOn : kOff), 26);
    setSwitchState(this, m_on);
}

} // namespace Varnel
