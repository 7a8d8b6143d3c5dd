#pragma once

#include "vpn/openconnectconnection.h"
#include "widgets/quickconnect/quickconnectbutton.h"

#include <memory>

namespace Varnel {

namespace Ui {
class ServerButton;
}

// The selected location: flag, country and server name of the active
// server. A press asks for the server list.
class ServerButton : public QuickConnectButton
{
    Q_OBJECT
public:
    explicit ServerButton(QWidget *parent = nullptr);
    ~ServerButton() override;

signals:
    void clicked();

public slots:
    void onStatusChanged(Varnel::OpenConnectConnection::Status status);

protected:
    QColor fill() const override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void refresh();

    std::unique_ptr<Ui::ServerButton> ui;
};

} // namespace Varnel
