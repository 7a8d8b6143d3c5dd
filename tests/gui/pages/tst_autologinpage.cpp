// The automatic-login page: one attempt per show with the stored
// credentials, against the reference backend over HTTPS on loopback.
#include "backendpagetest.h"
#include "child.h"
#include "messagecatcher.h"
#include "startuplook.h"

#include "backend/logincache.h"
#include "backend/vpncredentials.h"
#include "common/config.h"
#include "pages/autologin/autologinpage.h"
#include "tools/refbackend/routes.h"

#include <QLabel>
#include <QMovie>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace Varnel;
namespace Routes = Varnel::RefBackend::Routes;

class AutoLoginPageTest : public BackendPageTest
{
    Q_OBJECT

    std::unique_ptr<QWidget> m_host;
    AutoLoginPage *m_page = nullptr;
    MessageCatcher *m_messages = nullptr;
    std::unique_ptr<QSignalSpy> m_success;
    std::unique_ptr<QSignalSpy> m_failure;

    void showPage()
    {
        m_page = new AutoLoginPage;
        m_success = std::make_unique<QSignalSpy>(m_page, &AutoLoginPage::loginSuccessfull);
        m_failure = std::make_unique<QSignalSpy>(m_page, &AutoLoginPage::loginFailed);
        m_messages = new MessageCatcher(m_page);
        m_host.reset(hostInRootWindowFrame(m_page));
    }
    bool waitForOutcome(int outcomes)
    {
        return QTest::qWaitFor([&] { return m_success->count() + m_failure->count() >= outcomes; }, 15000);
    }
    QMovie::MovieState spinner() const
    {
        QLabel *label = child<QLabel>(m_page, "lblBusy");
        return label->isVisible() && label->movie() ? label->movie()->state() : QMovie::NotRunning;
    }

private slots:
    void cleanup()
    {
        m_host.reset();
        m_success.reset();
        m_failure.reset();
        BackendPageTest::cleanup();
    }

    void everyShowLogsInAgainFromTheCache()
    {
        storeLoggedInUser(QStringLiteral("premium.user"), QStringLiteral("premium-pass"));
        QVERIFY(m_backend.setFault(QLatin1String(Routes::kLogin), QStringLiteral("delay"), 500));

        QMovie::MovieState whileBusy = QMovie::NotRunning;
        QTimer::singleShot(250, this, [&] { whileBusy = spinner(); });
        showPage();
        QVERIFY(waitForOutcome(1));
        QCOMPARE(m_success->count(), 1);
        QCOMPARE(m_failure->count(), 0);
        QCOMPARE(whileBusy, QMovie::Running);
        QVERIFY(m_messages->texts().isEmpty());
        QCOMPARE(m_backend.count(QLatin1String(Routes::kLogin)), 1);
        QCOMPARE(formValues(m_backend.last(QLatin1String(Routes::kLogin)), {"username", "pass"}),
                 (QStringList{"premium.user", "premium-pass"}));
        QCOMPARE(vpnCredentials().username, QStringLiteral("premium.user"));
        QCOMPARE(vpnCredentials().password, QStringLiteral("premium-pass"));
        QVERIFY(Config::instance()->autoLogin());

        // Brought back from the tray: a second attempt, answered by the cache.
        setVpnCredentials(QString(), QString());
        m_host->hide();
        QCOMPARE(child<QLabel>(m_page, "lblBusy")->movie()->state(), QMovie::NotRunning);
        m_host->show();
        QVERIFY(waitForOutcome(2));
        QCOMPARE(m_success->count(), 2);
        QCOMPARE(m_backend.count(QLatin1String(Routes::kLogin)), 1);
        QCOMPARE(vpnCredentials().username, QStringLiteral("premium.user"));
    }

    void aShowDuringTheAttemptStartsNoSecondOne()
    {
        storeLoggedInUser(QStringLiteral("premium.user"), QStringLiteral("premium-pass"));
        QVERIFY(m_backend.setFault(QLatin1String(Routes::kLogin), QStringLiteral("delay"), 600));
        QMovie::MovieState afterReshow = QMovie::NotRunning;
        QTimer::singleShot(250, this, [&] {
            m_host->hide();
            m_host->show();
            QTimer::singleShot(100, this, [&] { afterReshow = spinner(); });
        });
        showPage();
        QVERIFY(waitForOutcome(1));
        QTest::qWait(300);   // room for a wrongly started second attempt
        QCOMPARE(m_success->count(), 1);
        QCOMPARE(m_backend.count(QLatin1String(Routes::kLogin)), 1);
        QCOMPARE(afterReshow, QMovie::Running);
    }

    void failuresTellAndGiveUp_data()
    {
        addLoginFailureRows();
        QTest::newRow("cached refusal") << "cache" << "cached refusal";
    }
    void failuresTellAndGiveUp()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        storeLoggedInUser(QStringLiteral("premium.user"), QStringLiteral("old-pass"));
        if (setup == QLatin1String("cache"))
            LoginCache::write(QJsonDocument(QJsonObject{{"response_code", 2}, {"message", "cached refusal"}}));
        QVERIFY(breakBackend(setup, m_backend));

        showPage();
        QVERIFY(waitForOutcome(1));
        QCOMPARE(m_failure->count(), 1);
        QCOMPARE(m_success->count(), 0);
        QCOMPARE(m_messages->texts(), QStringList{message});
        QCOMPARE(child<QLabel>(m_page, "lblBusy")->movie()->state(), QMovie::NotRunning);
        QVERIFY(vpnCredentials().username.isEmpty());
    }
};

QTEST_MAIN(AutoLoginPageTest)
#include "tst_autologinpage.moc"
