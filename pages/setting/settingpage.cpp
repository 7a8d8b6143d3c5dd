#include "pages/setting/settingpage.h"
#include "ui_settingpage.h"

#include "common/config.h"

#include <QDebug>
#include <QScrollBar>

namespace Varnel {

namespace {

constexpr int kScrollBarHeight = 80;

void toggle(QWidget *part)
{
    part->setVisible(!part->isVisible());
}

} // namespace

SettingPage::SettingPage(QWidget *parent)
    : Page(parent)
    , ui(std::make_unique<Ui::SettingPage>())
{
    ui->setupUi(this);
    recordWhenShown(LeftPage::Setting);
    connect(ui->protocolWidget, &SettingRow::clicked, this, &SettingPage::clickProtocolButton);
    connect(ui->generalButton, &SettingRow::clicked, this, &SettingPage::clickGeneralButton);
    connect(ui->networkProtection, &SettingRow::clicked, this, &SettingPage::clickNetworkProtecton);
    connect(ui->autoConnectButton, &SettingRow::clicked, this, &SettingPage::setAutoConnect);
    ui->scrollArea->verticalScrollBar()->setFixedHeight(kScrollBarHeight);
    for (QWidget *hidden : {static_cast<QWidget *>(ui->appsetting), ui->protocolToolWidget, ui->generalToolWidget,
                            static_cast<QWidget *>(ui->AppCrashReport), static_cast<QWidget *>(ui->Notification)})
        hidden->hide();
}

SettingPage::~SettingPage() = default;

void SettingPage::reload()
{
    const auto config = Config::instance();
    config->load();
    qDebug() << "serverButton:::::" << (config->serverButton() ? "true" : "false");
    switch (config->protocol()) {
    case 0:
        ui->radioButtonAll->setChecked(true);
        break;
    case 1:
        ui->radioButtonProtocol1->setChecked(true);
        break;
    default:
        ui->radioButtonProtocol2->setChecked(true);
        break;
    }
    (config->serverButton() ? ui->quickAccessradioButton : ui->AlwaysSelectServerradioButton)->setChecked(true);
    config->save();
}

void SettingPage::on_btnBack_clicked()
{
    emit clickBack();
}

void SettingPage::clickProtocolButton()
{
    toggle(ui->protocolToolWidget);
}

void SettingPage::clickGeneralButton()
{
    toggle(ui->generalToolWidget);
}

void SettingPage::on_radioButtonAll_pressed()
{
    storeProtocol(0);
}

void SettingPage::on_radioButtonProtocol1_pressed()
{
    storeProtocol(1);
}

void SettingPage::on_radioButtonProtocol2_pressed()
{
    storeProtocol(2);
}

void SettingPage::on_quickAccessradioButton_pressed()
{
    storeServerButton(true);
}

void SettingPage::on_AlwaysSelectServerradioButton_pressed()
{
    storeServerButton(false);
}

void SettingPage::setAutoConnect()
{
    const auto config = Config::instance();
    if (config->autoConnect() && !config->connectionState())
        emit autoConnectClicked();
}

void SettingPage::storeProtocol(int protocol)
{
    const auto config = Config::instance();
    config->setProtocol(protocol);
    config->save();
}

void SettingPage::storeServerButton(bool quickAccess)
{
    const auto config = Config::instance();
    config->setServerButton(quickAccess);
    config->save();
    emit clickedGeneralButton();
}

} // namespace Varnel
