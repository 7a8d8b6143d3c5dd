// The login page in its three modes, driven like a user would, against the
// reference backend over HTTPS on loopback.
#include "messagecatcher.h"
#include "startuplook.h"

#include "endpointsetup.h"
#include "integration/backend/backendtest.h"

#include "backend/apirequest.h"
#include "backend/logincache.h"
#include "backend/vpncredentials.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "pages/login/loginpage.h"
#include "tools/refbackend/routes.h"

#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace Varnel;
namespace Routes = Varnel::RefBackend::Routes;

class LoginPageTest : public QObject
{
    Q_OBJECT

    ClientSandbox m_sandbox;
    RefBackendProcess m_backend;
    std::unique_ptr<QWidget> m_host;
    LoginPage *m_page = nullptr;
    MessageCatcher *m_messages = nullptr;

    template<typename T>
    T *child(const char *name) const
    {
        T *widget = m_page->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    QLineEdit *edit(const char *name) const { return child<QLineEdit>(name); }
    QPushButton *button(const char *name) const { return child<QPushButton>(name); }

    void fill(const QString &username, const QString &password, const QString &confirmation = QString(),
              const QString &subscription = QString())
    {
        edit("editUsername")->setText(username);
        edit("editPassword")->setText(password);
        edit("editConfirmPassword")->setText(confirmation);
        edit("editSubscription")->setText(subscription);
    }
    void click(const char *name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    void switchTo(int mode)
    {
        if (mode == LoginPage::SignUpMode)
            click("btnSignup");
        else if (mode == LoginPage::ForgotPasswordMode)
            click("btnForgotPassword");
        QCOMPARE(m_page->mode(), mode);
    }
    QStringList inputsVisible() const
    {
        QStringList names;
        for (const char *name : {"editUsername", "editPassword", "editConfirmPassword", "editSubscription",
                                 "chkPromotion", "btnForgotPassword"}) {
            if (m_page->findChild<QWidget *>(QLatin1String(name))->isVisible())
                names << QLatin1String(name);
        }
        return names;
    }
    QStringList messages() const { return m_messages->texts(); }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_backend.start(), qPrintable(m_backend.errorText()));
        applyStartupLook();
    }
    void init()
    {
        QVERIFY(enterFreshClient(m_sandbox, m_backend));
        m_page = new LoginPage;
        m_host.reset(hostInRootWindowFrame(m_page));
        m_messages = new MessageCatcher(m_page);
    }
    void cleanup()
    {
        m_host.reset();
        m_sandbox.leave();
    }

    void modesSwitchTextsAndFields()
    {
        QSignalSpy signUpPage(m_page, &LoginPage::signUpPage);
        QCOMPARE(m_page->mode(), int(LoginPage::LogInMode));
        QCOMPARE(button("btnLogin")->text(), QStringLiteral("Log In"));
        QCOMPARE(button("btnSignup")->text(), QStringLiteral("Sign Up Now"));
        QCOMPARE(inputsVisible(), (QStringList{"editUsername", "editPassword", "btnForgotPassword"}));

        switchTo(LoginPage::SignUpMode);
        QCOMPARE(signUpPage.count(), 1);
        QCOMPARE(button("btnLogin")->text(), QStringLiteral("Sign Up"));
        QCOMPARE(button("btnSignup")->text(), QStringLiteral("Go back"));
        QCOMPARE(inputsVisible(), (QStringList{"editUsername", "editPassword", "editConfirmPassword",
                                               "editSubscription", "chkPromotion"}));

        click("btnSignup");   // "Go back"
        QCOMPARE(m_page->mode(), int(LoginPage::LogInMode));
        QCOMPARE(button("btnLogin")->text(), QStringLiteral("Log In"));

        switchTo(LoginPage::ForgotPasswordMode);
        QCOMPARE(button("btnLogin")->text(), QStringLiteral("Send"));
        QCOMPARE(button("btnSignup")->text(), QStringLiteral("Go back"));
        QCOMPARE(inputsVisible(), QStringList{"editUsername"});

        click("btnSignup");
        QCOMPARE(m_page->mode(), int(LoginPage::LogInMode));
        QCOMPARE(inputsVisible(), (QStringList{"editUsername", "editPassword", "btnForgotPassword"}));
        QCOMPARE(signUpPage.count(), 1);   // only entering sign-up announces it
        QVERIFY(messages().isEmpty());
        QCOMPARE(m_backend.totalCount(), 0);
    }

    void everyModeFitsTheWindow()
    {
        // A layout that needs more room than the root window has squeezes its
        // spacing and overlaps the version line.
        for (int mode : {LoginPage::LogInMode, LoginPage::SignUpMode, LoginPage::ForgotPasswordMode}) {
            if (mode == LoginPage::ForgotPasswordMode)
                click("btnSignup");
            switchTo(mode);
            const QSize needed = m_page->layout()->minimumSize();
            QVERIFY2(needed.height() <= m_host->height() && needed.width() <= m_host->width(),
                     qPrintable(QStringLiteral("mode %1 needs %2 x %3").arg(mode).arg(needed.width())
                                    .arg(needed.height())));
        }
        QVERIFY(child<QLabel>("lblVersion")->isVisible());
        QVERIFY(child<QLabel>("lblVersion")->text().contains(applicationVersion()));
    }

    void validationStopsBeforeAnyRequest_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<QString>("message");

        const int logIn = LoginPage::LogInMode;
        const int signUp = LoginPage::SignUpMode;
        const int forgot = LoginPage::ForgotPasswordMode;
        QTest::newRow("log-in: no user name") << logIn << "" << "secret1" << "" << "Invalid credentials";
        QTest::newRow("log-in: password of blanks") << logIn << "premium.user" << "  \t " << ""
                                                    << "Invalid credentials";
        QTest::newRow("sign-up: no user name") << signUp << " " << "secret1" << "secret1"
                                               << "Please fill all fields";
        QTest::newRow("sign-up: emptiness before length") << signUp << "" << "abc" << "xyz"
                                                          << "Please fill all fields";
        QTest::newRow("sign-up: five characters") << signUp << "new.user" << "abcde" << "abcde"
                                                  << "Password should be minimum 6 characters";
        QTest::newRow("sign-up: blanks do not count") << signUp << "new.user" << "ab c de" << "ab c de"
                                                      << "Password should be minimum 6 characters";
        QTest::newRow("sign-up: length before match") << signUp << "new.user" << "abc" << "xyz"
                                                      << "Password should be minimum 6 characters";
        QTest::newRow("sign-up: confirmation differs") << signUp << "new.user" << "secret1" << "secret2"
                                                       << "Passwords do not match";
        QTest::newRow("forgot: no user name") << forgot << "" << "" << "" << "Please fill all fields";
    }
    void validationStopsBeforeAnyRequest()
    {
        QFETCH(int, mode);
        QFETCH(QString, username);
        QFETCH(QString, password);
        QFETCH(QString, confirmation);
        QFETCH(QString, message);
        QSignalSpy success(m_page, &LoginPage::loginSuccessfull);

        switchTo(mode);
        fill(username, password, confirmation);
        click("btnLogin");

        QCOMPARE(messages(), QStringList{message});
        QCOMPARE(m_page->mode(), mode);
        QCOMPARE(edit("editUsername")->text(), username);   // kept as typed
        QCOMPARE(success.count(), 0);
        QCOMPARE(m_backend.totalCount(), 0);
    }

    void enterInAFieldActsLikeTheMainButton()
    {
        fill(QString(), QStringLiteral("secret1"));
        QTest::keyClick(edit("editPassword"), Qt::Key_Return);
        QCOMPARE(messages(), QStringList{"Invalid credentials"});
    }

    void loginStoresTheAccountAndEmitsOnce()
    {
        // A stale cache of a logged-in user must not answer a manual login.
        const auto config = Config::instance();
        config->setAutoLogin(true);
        config->save();
        LoginCache::write(QJsonDocument(QJsonObject{{"response_code", 2}, {"message", "cached refusal"}}));

        QSignalSpy success(m_page, &LoginPage::loginSuccessfull);
        fill(QStringLiteral(" premium .user "), QStringLiteral("premium-pass "));
        click("btnLogin");

        QVERIFY2(messages().isEmpty(), qPrintable(messages().join('|')));
        QCOMPARE(success.count(), 1);
        QCOMPARE(m_backend.count(QLatin1String(Routes::kLogin)), 1);
        const QJsonObject request = m_backend.last(QLatin1String(Routes::kLogin));
        QCOMPARE(formValue(request, "username"), QStringLiteral("premium.user"));
        QCOMPARE(formValue(request, "pass"), QStringLiteral("premium-pass"));

        QCOMPARE(vpnCredentials().username, QStringLiteral("premium.user"));
        QCOMPARE(vpnCredentials().password, QStringLiteral("premium-pass"));
        config->load();   // what was saved, not only what is in memory
        QCOMPARE(config->serverHash(), QStringLiteral("premium.user"));
        QCOMPARE(config->connectionHash(), QStringLiteral("premium-pass"));
        QVERIFY(config->autoLogin());
        QVERIFY(LoginCache::read().isObject());   // the network reply, cached for the next start
        QCOMPARE(LoginCache::read().object().value("response_code").toInt(), 1);
    }

    void loginFailuresShowTheirText_data() { addLoginFailureRows(); }
    void loginFailuresShowTheirText()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        QVERIFY(breakBackend(setup, m_backend));

        QSignalSpy success(m_page, &LoginPage::loginSuccessfull);
        fill(QStringLiteral("premium.user"), QStringLiteral("wrong-pass"));
        click("btnLogin");

        QCOMPARE(messages(), QStringList{message});
        QCOMPARE(success.count(), 0);
        QCOMPARE(m_page->mode(), int(LoginPage::LogInMode));
        QCOMPARE(edit("editPassword")->text(), QStringLiteral("wrong-pass"));
        QVERIFY(vpnCredentials().username.isEmpty());
        Config::instance()->load();
        QVERIFY(!Config::instance()->autoLogin());
        QVERIFY(Config::instance()->serverHash().isEmpty());
    }

    void pageIsInertWhileTheRequestRuns()
    {
        QVERIFY(m_backend.setFault(QLatin1String(Routes::kLogin), QStringLiteral("delay"), 800));
        fill(QStringLiteral("premium.user"), QStringLiteral("premium-pass"));
        const QIcon idleIcon = button("btnLogin")->icon();

        // Looked at from inside the request's nested event loop.
        QStringList enabledWhileBusy;
        QString textWhileBusy = QStringLiteral("not observed");
        QSet<qint64> spinnerFrames;
        int modeAfterClick = -1;
        QTimer probe;
        probe.setInterval(60);
        connect(&probe, &QTimer::timeout, this, [&] {
            textWhileBusy = button("btnLogin")->text();
            spinnerFrames << button("btnLogin")->icon().pixmap(26, QIcon::Disabled).cacheKey();
            for (QWidget *w : m_page->findChildren<QWidget *>()) {
                if (w->isVisible() && w->isEnabled()
                    && (qobject_cast<QLineEdit *>(w) || qobject_cast<QAbstractButton *>(w)))
                    enabledWhileBusy << w->objectName();
            }
            // A user's click on "Sign Up Now" now must change nothing.
            QTest::mouseClick(button("btnSignup"), Qt::LeftButton);
            modeAfterClick = m_page->mode();
        });
        probe.start();
        QSignalSpy success(m_page, &LoginPage::loginSuccessfull);
        click("btnLogin");
        probe.stop();

        QCOMPARE(success.count(), 1);
        QVERIFY(enabledWhileBusy.isEmpty());
        QCOMPARE(textWhileBusy, QString());
        QVERIFY2(spinnerFrames.size() > 2, "the spinner does not turn");
        QCOMPARE(modeAfterClick, int(LoginPage::LogInMode));

        // Everything back as it was.
        QCOMPARE(button("btnLogin")->text(), QStringLiteral("Log In"));
        QCOMPARE(button("btnLogin")->icon().isNull(), idleIcon.isNull());
        for (const char *name : {"editUsername", "editPassword", "btnLogin", "btnSignup", "btnForgotPassword"})
            QVERIFY2(m_page->findChild<QWidget *>(QLatin1String(name))->isEnabled(), name);
    }

    void signUpSendsTheCleanedFormAndReturnsToLogIn()
    {
        switchTo(LoginPage::SignUpMode);
        fill(QStringLiteral("new. user"), QStringLiteral("pass word1"), QStringLiteral("password1 "));
        child<QCheckBox>("chkPromotion")->setChecked(true);
        click("btnLogin");

        QCOMPARE(messages(), QStringList{"Signup successfull. Login to continue"});
        QCOMPARE(m_page->mode(), int(LoginPage::LogInMode));
        QCOMPARE(button("btnLogin")->text(), QStringLiteral("Log In"));
        const QJsonObject request = m_backend.last(QLatin1String(Routes::kSignUp));
        QCOMPARE(formValue(request, "username"), QStringLiteral("new.user"));
        QCOMPARE(formValue(request, "password"), QStringLiteral("password1"));
        QCOMPARE(formValue(request, "should_receive_promotion"), QStringLiteral("1"));
        QCOMPARE(formValue(request, "subscription_code"), QString());
        QVERIFY(!m_backend.account(QStringLiteral("new.user")).isEmpty());
    }

    void signUpFailuresKeepTheMode_data()
    {
        QTest::addColumn<bool>("backendDown");
        QTest::addColumn<QString>("message");
        QTest::newRow("name taken: server's text") << false << "This username is already taken.";
        QTest::newRow("backend down") << true << "Could not connect to server";
    }
    void signUpFailuresKeepTheMode()
    {
        QFETCH(bool, backendDown);
        QFETCH(QString, message);
        if (backendDown)
            useEndpointsAt(closedBase());
        switchTo(LoginPage::SignUpMode);
        fill(QStringLiteral("premium.user"), QStringLiteral("another1"), QStringLiteral("another1"));
        click("btnLogin");

        QCOMPARE(messages(), QStringList{message});
        QCOMPARE(m_page->mode(), int(LoginPage::SignUpMode));
        QCOMPARE(edit("editConfirmPassword")->text(), QStringLiteral("another1"));
    }

    void passwordRecovery_data()
    {
        QTest::addColumn<QString>("username");
        QTest::addColumn<bool>("backendDown");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("modeAfter");
        QTest::newRow("known user") << "premium.user" << false << "Password reset instructions"
                                    << int(LoginPage::LogInMode);
        QTest::newRow("unknown user: 422 without JSON") << "nobody" << false << "User Not Found!"
                                                        << int(LoginPage::ForgotPasswordMode);
        QTest::newRow("backend down") << "premium.user" << true << "Could not connect to server"
                                      << int(LoginPage::ForgotPasswordMode);
    }
    void passwordRecovery()
    {
        QFETCH(QString, username);
        QFETCH(bool, backendDown);
        QFETCH(QString, message);
        QFETCH(int, modeAfter);
        if (backendDown)
            useEndpointsAt(closedBase());
        switchTo(LoginPage::ForgotPasswordMode);
        fill(username, QString());
        click("btnLogin");

        QCOMPARE(messages().size(), 1);
        QVERIFY2(messages().constFirst().startsWith(message), qPrintable(messages().constFirst()));
        QCOMPARE(m_page->mode(), modeAfter);
        QCOMPARE(m_backend.count(QLatin1String(Routes::kForgotPassword)), backendDown ? 0 : 1);
    }
};

QTEST_MAIN(LoginPageTest)
#include "tst_loginpage.moc"
