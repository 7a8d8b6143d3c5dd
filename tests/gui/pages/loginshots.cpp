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
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

namespace {

void save(QWidget *host, const QString &dir, const QString &name)
{
    const QString file = QDir(dir).filePath(name);
    if (host->grab().save(file))
        qInfo("%s", qPrintable(file));
    else
        qWarning("could not write %s", qPrintable(file));
}

void type(QWidget *page, const char *edit, const QString &text)
{
    page->findChild<QLineEdit *>(QLatin1String(edit))->setText(text);
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir sandbox;
    qputenv("XDG_CONFIG_HOME", sandbox.filePath(QStringLiteral("config")).toUtf8());
    QApplication app(argc, argv);
    if (argc < 2) {
        qWarning("usage: varnel-login-shots <output directory>");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);
    QDir::setCurrent(sandbox.path());

    QTcpServer silent;   // accepts and never answers
    silent.listen(QHostAddress::LocalHost, 0);
    qputenv("VARNELVPN_API_BASE", QStringLiteral("https://127.0.0.1:%1").arg(silent.serverPort()).toUtf8());
    qputenv("VARNELVPN_HTTP_TIMEOUT_MS", "1500");

    applyStartupLook();
    MessageCatcher catcher;

    auto *login = new Varnel::LoginPage;
    std::unique_ptr<QWidget> loginHost(hostInRootWindowFrame(login));
    QApplication::processEvents();
    save(loginHost.get(), out, QStringLiteral("login-0-login.png"));

    login->on_btnSignup_pressed();
    type(login, "editUsername", QStringLiteral("new.user"));
    QApplication::processEvents();
    save(loginHost.get(), out, QStringLiteral("login-1-signup.png"));

    login->on_btnSignup_pressed();
    login->on_btnForgotPassword_pressed();
    QApplication::processEvents();
    save(loginHost.get(), out, QStringLiteral("login-2-forgot.png"));

    login->on_btnSignup_pressed();
    type(login, "editPassword", QStringLiteral("secret-pass"));
    QTimer::singleShot(500, [&] { save(loginHost.get(), out, QStringLiteral("login-3-busy.png")); });
    login->on_btnLogin_pressed();
    loginHost.reset();

    auto *autoLogin = new Varnel::AutoLoginPage;
    std::unique_ptr<QWidget> autoHost(hostInRootWindowFrame(autoLogin));
    QTimer::singleShot(500, [&] { save(autoHost.get(), out, QStringLiteral("autologin.png")); });
    QEventLoop wait;
    QObject::connect(autoLogin, &Varnel::AutoLoginPage::loginFailed, &wait, &QEventLoop::quit);
    wait.exec();

    for (const QString &text : catcher.texts())
        qInfo("message box: %s", qPrintable(text));
    return 0;
}
