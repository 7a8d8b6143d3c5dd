#pragma once

#include "vpn/openconnectconnection.h"
#include "widgets/quickconnect/quickconnectbutton.h"

#include <memory>

namespace Varnel {

namespace Ui {
class FastestServerButton;
}

// Connects with one press to a high-speed server: successive presses walk
// round-robin through the high-speed bundles. Shown, it names the fastest
// server the server list recorded, and connects by itself when the user
// turned auto-connect on and no tunnel is up.
class FastestServerButton : public QuickConnectButton
{
    Q_OBJECT
public:
    explicit FastestServerButton(QWidget *parent = nullptr);
    ~FastestServerButton() override;

signals:
    void fastestServerClicked();
    void updateData();
    void selectData();

public slots:
    // Shows the recorded fastest server.
    void selectRandomBundil();
    void onStatusChanged(Varnel::OpenConnectConnection::Status status);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    void shown();
    void showServer(const QString &countryName, int countryCode);

    std::unique_ptr<Ui::FastestServerButton> ui;
    int m_presses = 0;
};

} // namespace Varnel
