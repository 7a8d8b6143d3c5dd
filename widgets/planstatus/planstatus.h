#pragma once

#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class PlanStatus;
}

// The account's plan at a glance: its name, the days it has left and, for a
// free plan or one about to end, the offer to buy premium. Read from the
// account record each time it is shown.
class PlanStatus : public QWidget
{
    Q_OBJECT
public:
    // Paid plans with this many days left or fewer are offered premium again.
    static constexpr int kRenewalDays = 7;

    explicit PlanStatus(QWidget *parent = nullptr);
    ~PlanStatus() override;

    void refresh();

signals:
    void buyPremiumClicked();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::unique_ptr<Ui::PlanStatus> ui;
};

// "Expiring in 1 day", "Expiring in 30 days"; "Expired" from 0 on.
QString expiringText(int days);

// The plan picture of an account type: scratch card (1), premium (2), free.
QString planPicture(int userType);

} // namespace Varnel
