#pragma once

#include <QDialog>

#include <memory>

namespace Varnel {

namespace Ui {
class SharePanel;
}

// Sends the user's referral code to friends: by e-mail or through a social
// network's share page, opened in the browser.
class SharePanel : public QDialog
{
    Q_OBJECT
public:
    explicit SharePanel(const QString &referCode, QWidget *parent = nullptr);
    ~SharePanel() override;

private:
    std::unique_ptr<Ui::SharePanel> ui;
};

} // namespace Varnel
