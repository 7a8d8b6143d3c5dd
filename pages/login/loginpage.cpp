#include "pages/login/loginpage.h"
#include "ui_loginpage.h"

#include "backend/apirequest.h"
#include "backend/logincache.h"
#include "backend/vpncredentials.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "common/gui/cardshadow.h"
#include "common/gui/iconcache.h"
#include "common/gui/outcometext.h"
#include "common/gui/showmessage.h"
#include "widgets/busystate.h"
#include "widgets/placeholdertint.h"


namespace Varnel {

namespace {

constexpr int kMinimumPasswordLength = 6;

// Credentials are never meant to hold blanks; typing or pasting adds them.
QString compactText(const QLineEdit *edit)
{
    return edit->text().simplified().remove(QLatin1Char(' '));
}

void inform(const QString &text)
{
    showMessage(text, QMessageBox::Ok);
}

} // namespace

LoginPage::LoginPage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::LoginPage>())
{
    ui->setupUi(this);
    // Drawn for the screen's pixel ratio at the size the form shows it.
    showPicture(ui->lblLogo, QStringLiteral(":/img/varnel-vpn-logo.png"), ui->lblLogo->maximumSize());
    ui->lblVersion->setText(tr("Version %1").arg(applicationVersion()));

    m_busy = new BusyState(ui->btnLogin, this);
    m_busy->setWidgets({ui->editUsername, ui->editPassword, ui->editConfirmPassword, ui->editSubscription,
                        ui->chkPromotion, ui->btnForgotPassword, ui->btnSignup});

    const QList<QLineEdit *> edits{ui->editUsername, ui->editPassword, ui->editConfirmPassword,
                                   ui->editSubscription};
    PlaceholderTint::install(edits);
    // Enter in any field acts like the main button.
    for (QLineEdit *edit : edits)
        connect(edit, &QLineEdit::returnPressed, this, &LoginPage::on_btnLogin_pressed);

    addCardShadow(ui->loginCard, 18, 48, QPoint(0, 8), QColor(67, 67, 67, 40));

    setMode(LogInMode);
}

LoginPage::~LoginPage() = default;

void LoginPage::setMode(int mode)
{
    m_mode = mode;
    const bool logIn = mode == LogInMode;
    const bool signUp = mode == SignUpMode;

    ui->editPassword->setVisible(mode != ForgotPasswordMode);
    ui->editConfirmPassword->setVisible(signUp);
    ui->editSubscription->setVisible(signUp);
    ui->chkPromotion->setVisible(signUp);
    ui->btnForgotPassword->setVisible(logIn);
    ui->lblSignupHint->setVisible(logIn);

    switch (mode) {
    case SignUpMode:
        ui->lblTitle->setText(tr("Create your account"));
        ui->lblSubtitle->setText(tr("Sign up and start browsing privately with VarnelVPN"));
        ui->btnLogin->setText(tr("Sign Up"));
        ui->btnSignup->setText(tr("Go back"));
        break;
    case ForgotPasswordMode:
        ui->lblTitle->setText(tr("Forgot your password?"));
        ui->lblSubtitle->setText(tr("Enter your user ID to recover your password"));
        ui->btnLogin->setText(tr("Send"));
        ui->btnSignup->setText(tr("Go back"));
        break;
    default:
        ui->lblTitle->setText(tr("Welcome back"));
        ui->lblSubtitle->setText(tr("Log in to your VarnelVPN account"));
        ui->btnLogin->setText(tr("Log In"));
        ui->btnSignup->setText(tr("Sign Up Now"));
        break;
    }
}

void LoginPage::on_btnLogin_pressed()
{
    switch (m_mode) {
    case SignUpMode:
        signUp();
        break;
    case ForgotPasswordMode:
        recoverPassword();
        break;
    default:
        goToLogin();
        break;
    }
}

void LoginPage::on_btnSignup_pressed()
{
    setMode(m_mode == LogInMode ? SignUpMode : LogInMode);
    if (m_mode == SignUpMode)
        emit signUpPage();
}

void LoginPage::on_btnForgotPassword_pressed()
{
    setMode(ForgotPasswordMode);
}

void LoginPage::goToLogin()
{
    const QString username = compactText(ui->editUsername);
    const QString password = compactText(ui->editPassword);
    if (username.isEmpty() || password.isEmpty()) {
        inform(tr("Invalid credentials"));
        return;
    }

    const auto api = ApiRequest::instance();
    int result = 0;
    const bool ran = m_busy->run([&] {
        // An empty cache sends this login to the network, never to an old reply.
        LoginCache::write(QJsonDocument());
        result = api->login(username, password);
    });
    if (!ran)
        return;

    if (result != 0) {
        inform(Outcomes::login().text(result, api->message()));
        return;
    }
    setVpnCredentials(username, password);
    const auto config = Config::instance();
    config->load();
    config->setServerHash(username);
    config->setConnectionHash(password);
    config->setAutoLogin(true);
    config->save();
    emit loginSuccessfull();
}

void LoginPage::signUp()
{
    const QString username = compactText(ui->editUsername);
    const QString password = compactText(ui->editPassword);
    const QString confirmation = compactText(ui->editConfirmPassword);
    const QString subscription = compactText(ui->editSubscription);
    const QString promotion = ui->chkPromotion->isChecked() ? QStringLiteral("1") : QStringLiteral("0");

    if (username.isEmpty() || password.isEmpty()) {
        inform(tr("Please fill all fields"));
        return;
    }
    if (password.size() < kMinimumPasswordLength) {
        inform(tr("Password should be minimum 6 characters"));
        return;
    }
    if (password != confirmation) {
        inform(tr("Passwords do not match"));
        return;
    }

    const auto api = ApiRequest::instance();
    int result = 0;
    if (m_busy->run([&] { result = api->signUp(username, password, promotion, subscription); }))
        finishAccountRequest(result, Outcomes::signUp());
}

void LoginPage::recoverPassword()
{
    const QString username = ui->editUsername->text();
    if (username.isEmpty()) {
        inform(tr("Please fill all fields"));
        return;
    }

    const auto api = ApiRequest::instance();
    int result = 0;
    if (m_busy->run([&] { result = api->forgotPassword(username); }))
        finishAccountRequest(result, Outcomes::passwordRecovery());
}

void LoginPage::finishAccountRequest(int result, const OutcomeTable &outcomes)
{
    if (result == 0)
        setMode(LogInMode);
    inform(outcomes.text(result, ApiRequest::instance()->message()));
}

} // namespace Varnel
