#pragma once

#include <QWidget>

#include <memory>

class QMovie;

namespace Varnel {

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

protected:
    void showEvent(QShowEvent *event) override;
    // A successful login leaves the page; the spinner need not turn unseen.
    void hideEvent(QHideEvent *event) override;

private:
    void attemptLogin();

    std::unique_ptr<Ui::AutoLoginPage> ui;
    QMovie *m_movie = nullptr;
    // The request's nested event loop may deliver another show (the window
    // brought back from the tray); one attempt at a time.
    bool m_attempting = false;
};

} // namespace Varnel
