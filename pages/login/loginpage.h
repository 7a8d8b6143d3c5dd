#pragma once

#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class LoginPage;
}

class BusyState;
class OutcomeTable;

// The page of a logged-out user, in one of three modes: log-in, sign-up and
// forgot-password. The main button runs the action of the mode; the
// secondary one toggles between log-in and sign-up.
class LoginPage : public QWidget
{
    Q_OBJECT
public:
    enum Mode { LogInMode = 0, SignUpMode = 1, ForgotPasswordMode = 2 };

    explicit LoginPage(QWidget *parent = nullptr);
    ~LoginPage() override;

    int mode() const { return m_mode; }

signals:
    void loginSuccessfull();
    // The page has switched to sign-up mode.
    void signUpPage();

public slots:
    // Logs in with the typed credentials, whatever the mode.
    void goToLogin();
    void on_btnLogin_pressed();
    void on_btnForgotPassword_pressed();
    void on_btnSignup_pressed();

private:
    void setMode(int mode);
    void signUp();
    void recoverPassword();
    // Shared ending of sign-up and recovery: back to log-in on success.
    void finishAccountRequest(int result, const OutcomeTable &outcomes);

    std::unique_ptr<Ui::LoginPage> ui;
    BusyState *m_busy = nullptr;
    int m_mode = LogInMode;
};

} // namespace Varnel
