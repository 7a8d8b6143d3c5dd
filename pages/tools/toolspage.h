#pragma once

#include "common/gui/page.h"

#include <memory>

class QNetworkAccessManager;

namespace Varnel {

namespace Ui {
class ToolsPage;
}

// The network test: whether the tunnel is up, the address in use, rough
// download and upload rates from two small web requests, and one ping.
class ToolsPage : public Page
{
    Q_OBJECT
public:
    explicit ToolsPage(QWidget *parent = nullptr);
    ~ToolsPage() override;

public slots:
    void on_btnBack_pressed();
    void on_btnTest_pressed();
    bool measureNetworkSpeed();
    void measureUploadSpeed();

protected:
    void reload() override;

private:
    QNetworkAccessManager *network();

    std::unique_ptr<Ui::ToolsPage> ui;
    QNetworkAccessManager *m_network = nullptr;
};

} // namespace Varnel
