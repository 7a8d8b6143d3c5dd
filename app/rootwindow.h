#pragma once

#include "vpn/openconnectconnection.h"

#include <QDialog>

#include <memory>

namespace Varnel {

namespace Ui {
class RootWindow;
}

// The program's only top-level window: a stack of the automatic-login page,
// the (never shown) server list, the login page and the logged-in area.
// Closing it or pressing Escape only hides it; the program keeps running.
class RootWindow : public QDialog
{
    Q_OBJECT
public:
    // launchMode "Yes" (started with an argument, e.g. through the URL
    // scheme) discards the cached login reply before anything else.
    explicit RootWindow(const QString &launchMode, QWidget *parent = nullptr);
    ~RootWindow() override;

public slots:
    // Connected: the coloured background; any other status: the white one.
    void changeBackground(Varnel::OpenConnectConnection::Status status);

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void chooseStartPage();
    void paintBackground();

    std::unique_ptr<Ui::RootWindow> ui;
    QString m_background;
};

} // namespace Varnel
