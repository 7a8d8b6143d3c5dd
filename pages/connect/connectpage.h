#pragma once

#include "vpn/openconnectconnection.h"

#include <QTimer>
#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class ConnectPage;
}

// The home screen of a logged-in user: the big connect button with its
// ring, the protection state and address, the selected location and the
// quick-connect buttons, the traffic panel, the version line and, for free
// accounts, the way to the purchase page. It turns presses into connects
// and disconnects of the controller and reflects every status change.
class ConnectPage : public QWidget
{
    Q_OBJECT
public:
    explicit ConnectPage(QWidget *parent = nullptr);
    ~ConnectPage() override;

    // The user picked a server: with force, a tunnel that is up (or coming
    // up) goes down first and the new server is connected after it.
    void reconnect(bool force);

    // The button's meaning follows the last status seen here: connect only
    // when disconnected.
    int pageStatus() const { return m_pageStatus; }
    double ringAngle() const { return m_ringAngle; }

    // Emits logout().
    void on_btnLogout_clicked();

signals:
    void logout();
    void requestServerSelection();
    void connectToStreamingServer();
    void connectToGammingServer();
    void ConnectToFastestServer();
    void clickBuyPremiumButton();
    void paymentPageRequest();

public slots:
    void btnConnect_clicked();
    void onStatusChanged(Varnel::OpenConnectConnection::Status status);
    // The tunnel this page started ended without being asked to: its
    // Disconnected brings a message that says why and what to do.
    void onFailure(Varnel::TunnelFailure failure, const QString &detail);
    void onStatsTimeout();
    void onAnimationTimeout();
    // The kill switch around a connection: false lifts the block before a
    // connect, true blocks again once the tunnel is down.
    void setNetworkInterfaceState(bool enable);
    // Shows the quick-access buttons when the settings ask for them.
    void setServerButton();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();
    void showProtection();
    void nameConnectButton(int status);
    void tellFailure();
    // The square around the connect button that the ring is painted in.
    QRect ringArea() const;

    std::unique_ptr<Ui::ConnectPage> ui;
    QTimer m_statsTimer;
    QTimer m_animationTimer;
    double m_ringAngle = 360.0;
    bool m_reconnectPending = false;
    bool m_savePending = false;   // the protection state waits to be written
    int m_pageStatus = OpenConnectConnection::Disconnected;
    // This page started the tunnel that is coming up or up (the other
    // connect pages only follow it), and why it failed, once known.
    bool m_ownsAttempt = false;
    TunnelFailure m_failure = TunnelFailure::None;
    QString m_failureDetail;
};

} // namespace Varnel
