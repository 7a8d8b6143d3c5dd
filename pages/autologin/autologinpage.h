#pragma once

#include <QWidget>

#include <memory>

namespace Varnel {

class BusyState;

namespace Ui {
class AutoLoginPage;
}

// Shown while a logged-in user is logged in again with the stored
// credentials; every time it is shown it makes one attempt.
class AutoLoginPage : public QWidget
{
    Q_OBJECT
public:
    explicit AutoLoginPage(QWidget *parent = nullptr);
    ~AutoLoginPage() override;

signals:
    void loginSuccessfull();
    void loginFailed();

private:
    void attemptLogin();

    std::unique_ptr<Ui::AutoLoginPage> ui;
    // The request's nested event loop may deliver another show (the window
    // brought back from the tray): one attempt at a time.
    BusyState *m_busy = nullptr;
};

} // namespace Varnel
