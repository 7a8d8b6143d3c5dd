// The login page in its three modes, driven like a user would, against the
// reference backend over HTTPS on loopback.
#include "backendpagetest.h"
#include "child.h"
#include "messagecatcher.h"
#include "startuplook.h"

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

class LoginPageTest : public BackendPageTest
{
    Q_OBJECT

    std::unique_ptr<QWidget> m_host;
    LoginPage *m_page = nullptr;
    MessageCatcher *m_messages = nullptr;
    static constexpr int kLogIn = LoginPage::LogInMode;
    static constexpr int kSignUp = LoginPage::SignUpMode;
    static constexpr int kForgot = LoginPage::ForgotPasswordMode;

    QLineEdit *edit(const char *name) const { return child<QLineEdit>(m_page, name); }
    QPushButton *button(const char *name) const { return child<QPushButton>(m_page, name); }
    void fill(const QString &username, const QString &password, const QString &confirmation = QString())
    {
        edit("editUsername")->setText(username);
        edit("editPassword")->setText(password);
        edit("editConfirmPassword")->setText(confirmation);
    }
    void click(const char *name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    void switchTo(int mode)
    {
        click(mode == kSignUp ? "btnSignup" : "btnForgotPassword");
        QCOMPARE(m_page->mode(), mode);
    }
    // The mode's main and secondary button texts and the inputs shown.
    QStringList look() const
    {
        QStringList seen{button("btnLogin")->text(), button("btnSignup")->text()};
        for (const char *name : {"editUsername", "editPassword", "editConfirmPassword", "editSubscription",
                                 "chkPromotion", "btnForgotPassword"}) {
            if (child(m_page, name)->isVisible())
                seen << QLatin1String(name);
        }
        return seen;
    }
    QStringList messages() const { return m_messages->texts(); }

private slots:
    void init()
    {
        BackendPageTest::init();
        m_page = new LoginPage;
        m_host.reset(hostInRootWindowFrame(m_page));
        m_messages = new MessageCatcher(m_page);
    }
    void cleanup()
    {
        m_host.reset();
        BackendPageTest::cleanup();
    }

    void modesSwitchTextsAndFields()
    {
        const QStringList logIn{"Log In", "Sign Up Now", "editUsername", "editPassword", "btnForgotPassword"};
        QSignalSpy signUpPage(m_page, &LoginPage::signUpPage);
        QCOMPARE(m_page->mode(), kLogIn);
        QCOMPARE(look(), logIn);

        switchTo(kSignUp);
        QCOMPARE(signUpPage.count(), 1);
        QCOMPARE(look(), (QStringList{"Sign Up", "Go back", "editUsername", "editPassword", "editConfirmPassword",
                                      "editSubscription", "chkPromotion"}));
        click("btnSignup");   // "Go back"
        QCOMPARE(m_page->mode(), kLogIn);
        QCOMPARE(look(), logIn);

        switchTo(kForgot);
        QCOMPARE(look(), (QStringList{"Send", "Go back", "editUsername"}));
        click("btnSignup");
        QCOMPARE(m_page->mode(), kLogIn);
        QCOMPARE(look(), logIn);
        QCOMPARE(signUpPage.count(), 1);   // only entering sign-up announces it
        QVERIFY(messages().isEmpty());
        QCOMPARE(m_backend.totalCount(), 0);
    }

    void everyModeFitsTheWindow()
    {
        // A layout that needs more room than the root window has squeezes its
        // spacing and overlaps the version line.
        for (int mode : {kLogIn, kSignUp, kForgot}) {
            if (mode == kForgot)
                click("btnSignup");
            if (mode != kLogIn)
                switchTo(mode);
            const QSize needed = m_page->layout()->minimumSize();
            QVERIFY2(needed.height() <= m_host->height() && needed.width() <= m_host->width(),
                     qPrintable(QStringLiteral("mode %1 needs %2 x %3").arg(mode).arg(needed.width())
                                    .arg(needed.height())));
        }
        QVERIFY(child<QLabel>(m_page, "lblVersion")->isVisible());
        QVERIFY(child<QLabel>(m_page, "lblVersion")->text().contains(applicationVersion()));
    }

    void validationStopsBeforeAnyRequest_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("username");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<QString>("message");
        const QString invalid = QStringLiteral("Invalid credentials");
        const QString fill = QStringLiteral("Please fill all fields");
        const QString length = QStringLiteral("Password should be minimum 6 characters");
        QTest::newRow("log-in: no user name") << kLogIn << "" << "secret1" << "" << invalid;
        QTest::newRow("log-in: password of blanks") << kLogIn << "premium.user" << "  \t " << "" << invalid;
        QTest::newRow("sign-up: no user name") << kSignUp << " " << "secret1" << "secret1" << fill;
        QTest::newRow("sign-up: emptiness before length") << kSignUp << "" << "abc" << "xyz" << fill;
        QTest::newRow("sign-up: five characters") << kSignUp << "new.user" << "abcde" << "abcde" << length;
        QTest::newRow("sign-up: blanks do not count") << kSignUp << "new.user" << "ab c de" << "ab c de" << length;
        QTest::newRow("sign-up: length before match") << kSignUp << "new.user" << "abc" << "xyz" << length;
        QTest::newRow("sign-up: confirmation differs") << kSignUp << "new.user" << "secret1" << "secret2"
                                                       << "Passwords do not match";
        QTest::newRow("forgot: no user name") << kForgot << "" << "" << "" << fill;
    }
    void validationStopsBeforeAnyRequest()
    {
        QFETCH(int, mode);
        QFETCH(QString, username);
        QFETCH(QString, password);
        QFETCH(QString, confirmation);
        QFETCH(QString, message);
        QSignalSpy success(m_page, &LoginPage::loginSuccessfull);
        if (mode != kLogIn)
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
        QCOMPARE(formValues(m_backend.last(QLatin1String(Routes::kLogin)), {"username", "pass"}),
                 (QStringList{"premium.user", "premium-pass"}));

        QCOMPARE(vpnCredentials().username, QStringLiteral("premium.user"));
        QCOMPARE(vpnCredentials().password, QStringLiteral("premium-pass"));
        config->load();   // what was saved, not only what is in memory
        QCOMPARE(config->serverHash(), QStringLiteral("premium.user"));
        QCOMPARE(config->connectionHash(), QStringLiteral("premium-pass"));
        QVERIFY(config->autoLogin());
        // The network reply, cached for the next start.
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
        QCOMPARE(m_page->mode(), kLogIn);
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
            click("btnSignup");
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
        QCOMPARE(modeAfterClick, kLogIn);

        // Everything back as it was.
        QCOMPARE(button("btnLogin")->text(), QStringLiteral("Log In"));
        QCOMPARE(button("btnLogin")->icon().isNull(), idleIcon.isNull());
        for (const char *name : {"editUsername", "editPassword", "btnLogin", "btnSignup", "btnForgotPassword"})
            QVERIFY2(child(m_page, name)->isEnabled(), name);
    }

    void signUpSendsTheCleanedFormAndReturnsToLogIn()
    {
        switchTo(kSignUp);
        fill(QStringLiteral("new. user"), QStringLiteral("pass word1"), QStringLiteral("password1 "));
        child<QCheckBox>(m_page, "chkPromotion")->setChecked(true);
        click("btnLogin");

        QCOMPARE(messages(), QStringList{"Signup successfull. Login to continue"});
        QCOMPARE(m_page->mode(), kLogIn);
        QCOMPARE(button("btnLogin")->text(), QStringLiteral("Log In"));
        QCOMPARE(formValues(m_backend.last(QLatin1String(Routes::kSignUp)),
                            {"username", "password", "should_receive_promotion", "subscription_code"}),
                 (QStringList{"new.user", "password1", "1", ""}));
        QVERIFY(!m_backend.account(QStringLiteral("new.user")).isEmpty());
    }

    // Sign-up and recovery requests that do not succeed keep their mode and
    // what was typed; a recovery that does returns to log-in.
    void requestOutcomes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("username");
        QTest::addColumn<bool>("backendDown");
        QTest::addColumn<QString>("message");   // the start of the one box's text
        QTest::addColumn<int>("modeAfter");
        QTest::newRow("sign-up, name taken: server's text")
            << kSignUp << "premium.user" << false << "This username is already taken." << kSignUp;
        QTest::newRow("sign-up, backend down")
            << kSignUp << "premium.user" << true << "Could not connect to server" << kSignUp;
        QTest::newRow("recovery, known user") << kForgot << "premium.user" << false << "Password reset instructions"
                                              << kLogIn;
        QTest::newRow("recovery, unknown user: 422 without JSON") << kForgot << "nobody" << false << "User Not Found!"
                                                                  << kForgot;
        QTest::newRow("recovery, backend down") << kForgot << "premium.user" << true << "Could not connect to server"
                                                << kForgot;
    }
    void requestOutcomes()
    {
        QFETCH(int, mode);
        QFETCH(QString, username);
        QFETCH(bool, backendDown);
        QFETCH(QString, message);
        if (backendDown)
            useEndpointsAt(closedBase());
        switchTo(mode);
        const QString password = mode == kSignUp ? QStringLiteral("another1") : QString();
        fill(username, password, password);
        click("btnLogin");

        QCOMPARE(messages().size(), 1);
        QVERIFY2(messages().constFirst().startsWith(message), qPrintable(messages().constFirst()));
        QTEST(m_page->mode(), "modeAfter");
        if (mode == kSignUp)
            QCOMPARE(edit("editConfirmPassword")->text(), password);
        else
            QCOMPARE(m_backend.count(QLatin1String(Routes::kForgotPassword)), backendDown ? 0 : 1);
    }
};

QTEST_MAIN(LoginPageTest)
#include "tst_loginpage.moc"
