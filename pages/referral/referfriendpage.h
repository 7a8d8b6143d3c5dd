#pragma once

#include "common/gui/page.h"

#include <QJsonObject>

#include <memory>

namespace Varnel {

namespace Ui {
class ReferFriendPage;
}

class BusyState;

// The user's own referral code with the backend's referral texts, ways to
// copy and share the code, and the way to redeem a friend's code.
class ReferFriendPage : public Page
{
    Q_OBJECT
public:
    explicit ReferFriendPage(QWidget *parent = nullptr);
    ~ReferFriendPage() override;

signals:
    void redeemReferalClick();

protected:
    void reload() override;

private slots:
    void on_btnRedeemReferal_pressed();
    void on_btnSubscribe_3_pressed();
    void on_btnShare_pressed();

private:
    // Members the page knows go to their fields; a reply without a code
    // leaves the code shown before.
    void fill(const QJsonObject &info);

    std::unique_ptr<Ui::ReferFriendPage> ui;
    BusyState *m_busy;
};

} // namespace Varnel
