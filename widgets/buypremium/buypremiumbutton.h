#pragma once

#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class BuyPremiumButton;
}

// The free account's way to the purchase page; a press emits clicked().
class BuyPremiumButton : public QWidget
{
    Q_OBJECT
public:
    explicit BuyPremiumButton(QWidget *parent = nullptr);
    ~BuyPremiumButton() override;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    std::unique_ptr<Ui::BuyPremiumButton> ui;
};

} // namespace Varnel
