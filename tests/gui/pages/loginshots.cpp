// Renders the login pages as the root window shows them (1080 x 740, start-up
// fonts and style sheet) into PNG files, for looking at the design:
//   varnel-login-shots <output directory>
// Requests go to a silent listener on 127.0.0.1, so the busy pictures are
// taken while a real request waits.
#include "messagecatcher.h"
#include "startuplook.h"

#include "pages/autologin/autologinpage.h"
#include "pages/login/loginpage.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

int main(int argc, char *argv[])
{
    QTemporaryDir sandbox;
    qputenv("XDG_CONFIG_HOME", sandbox.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_STATE_HOME", sandbox.filePath(QStringLiteral("state")).toUtf8());
    QApplication app(argc, argv);
    const QString out = shotsFolder(argc, argv);
    if (out.isEmpty())
        return 2;

    QTcpServer silent;   // accepts and never answers
    silent.listen(QHostAddress::LocalHost, 0);
    qputenv("VARNELVPN_API_BASE", QStringLiteral("https://127.0.0.1:%1").arg(silent.serverPort()).toUtf8());
    qputenv("VARNELVPN_HTTP_TIMEOUT_MS", "1500");

    applyStartupLook();
    MessageCatcher catcher;

    auto *login = new Varnel::LoginPage;
    std::unique_ptr<QWidget> loginHost(hostInRootWindowFrame(login));
    const auto shoot = [&](const QString &name) {
        QApplication::processEvents();
        saveShot(loginHost->grab(), out, name);
    };
    const auto type = [login](const char *edit, const QString &text) {
        login->findChild<QLineEdit *>(QLatin1String(edit))->setText(text);
    };
    shoot(QStringLiteral("login-0-login.png"));
    login->on_btnSignup_pressed();
    type("editUsername", QStringLiteral("new.user"));
    shoot(QStringLiteral("login-1-signup.png"));
    login->on_btnSignup_pressed();
    login->on_btnForgotPassword_pressed();
    shoot(QStringLiteral("login-2-forgot.png"));

    login->on_btnSignup_pressed();
    type("editPassword", QStringLiteral("secret-pass"));
    QTimer::singleShot(500, [&] { saveShot(loginHost->grab(), out, QStringLiteral("login-3-busy.png")); });
    login->on_btnLogin_pressed();
    loginHost.reset();

    auto *autoLogin = new Varnel::AutoLoginPage;
    std::unique_ptr<QWidget> autoHost(hostInRootWindowFrame(autoLogin));
    QTimer::singleShot(500, [&] { saveShot(autoHost->grab(), out, QStringLiteral("autologin.png")); });
    QEventLoop wait;
    QObject::connect(autoLogin, &Varnel::AutoLoginPage::loginFailed, &wait, &QEventLoop::quit);
    wait.exec();

    for (const QString &text : catcher.texts())
        qInfo("message box: %s", qPrintable(text));
    return 0;
}
