#pragma once

#include "vpn/openconnectconnection.h"
#include "widgets/quickconnect/quickconnectbutton.h"

#include <memory>

namespace Varnel {

namespace Ui {
class RecommendedServerButton;
}

// A quick button for the servers of one feature: a press makes a randomly
// chosen one of them the active server.
class RecommendedServerButton : public QuickConnectButton
{
    Q_OBJECT
public:
    ~RecommendedServerButton() override;

public slots:
    void onStatusChanged(Varnel::OpenConnectConnection::Status status);

protected:
    struct Look {
        QString title;
        QString picture;         // on the idle background
        QString connectedPicture;
        bool (IPBundle::*feature)() const;
    };
    RecommendedServerButton(const Look &look, QWidget *parent);

    // True when a server of the feature was made active.
    bool chooseServer() const;

private:
    void showPicture(const QString &path);

    std::unique_ptr<Ui::RecommendedServerButton> ui;
    Look m_look;
    QString m_shownPicture;
};

class GammingServerButton : public RecommendedServerButton
{
    Q_OBJECT
public:
    explicit GammingServerButton(QWidget *parent = nullptr);

signals:
    void GammingServerClicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

class StreamingServerButton : public RecommendedServerButton
{
    Q_OBJECT
public:
    explicit StreamingServerButton(QWidget *parent = nullptr);

signals:
    void StreamingServerButtonClicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

} // namespace Varnel
