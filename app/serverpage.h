#pragma once

#include "common/gui/pageindex.h"

#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class ServerPage;
}

// The logged-in area: on the left the server list and the side-menu pages,
// on the right the connect page and the purchase page.
class ServerPage : public QWidget
{
    Q_OBJECT
public:
    explicit ServerPage(QWidget *parent = nullptr);
    ~ServerPage() override;

    // Back to the recorded page pair; with auto-connect on, always the
    // server list beside the connect page.
    void restorePages();

signals:
    void logout();
    void connectButtonClick();
    void refreshLogin();

private:
    void wire();
    void showPages(LeftPage left, RightPage right);
    void showLeft(LeftPage left);
    void showRight(RightPage right);

    std::unique_ptr<Ui::ServerPage> ui;
};

} // namespace Varnel
