#pragma once

#include "common/gui/page.h"

#include <memory>

namespace Varnel {

namespace Ui {
class SettingPage;
}

// The protocol filter of the server list, the quick-access choice of the
// connect page, auto-connect and the kill switch. Every choice is stored at
// once; every show reads them back.
class SettingPage : public Page
{
    Q_OBJECT
public:
    explicit SettingPage(QWidget *parent = nullptr);
    ~SettingPage() override;

signals:
    void clickedGeneralButton();
    void clickNetworkProtecton();
    void autoConnectClicked();

public slots:
    void on_btnBack_clicked();
    void clickProtocolButton();
    void clickGeneralButton();
    void on_radioButtonAll_pressed();
    void on_radioButtonProtocol1_pressed();
    void on_radioButtonProtocol2_pressed();
    void on_quickAccessradioButton_pressed();
    void on_AlwaysSelectServerradioButton_pressed();
    void setAutoConnect();

protected:
    void reload() override;

private:
    void storeProtocol(int protocol);
    void storeServerButton(bool quickAccess);

    std::unique_ptr<Ui::SettingPage> ui;
};

} // namespace Varnel
