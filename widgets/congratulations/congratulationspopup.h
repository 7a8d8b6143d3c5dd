#pragma once

#include <QDialog>

#include <memory>

namespace Varnel {

namespace Ui {
class CongratulationsPopup;
}

// Shown over the referral page after a referral code was redeemed; it leads
// back to the refer-a-friend page or just closes.
class CongratulationsPopup : public QDialog
{
    Q_OBJECT
public:
    explicit CongratulationsPopup(QWidget *parent = nullptr);
    ~CongratulationsPopup() override;

signals:
    void connectToReferPage();

private slots:
    void on_btnNotNow_pressed();
    void on_btnReferMore_pressed();

private:
    std::unique_ptr<Ui::CongratulationsPopup> ui;
};

} // namespace Varnel
