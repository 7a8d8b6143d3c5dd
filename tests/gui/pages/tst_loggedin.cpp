// The root window with a real automatic login (the reference backend over
// HTTPS on loopback): every re-show, as from the tray, passes through the
// automatic login and reopens the logged-in area where the user left it.
#include "messagecatcher.h"

#include "endpointsetup.h"
#include "integration/backend/backendtest.h"

#include "app/rootwindow.h"
#include "common/config.h"
#include "widgets/menuentry/menuentry.h"

#include <QStackedWidget>
#include <QtTest>

using namespace Varnel;

class LoggedInTest : public QObject
{
    Q_OBJECT

    ClientSandbox m_sandbox;
    RefBackendProcess m_backend;

private slots:
    void initTestCase() { QVERIFY2(m_backend.start(), qPrintable(m_backend.errorText())); }
    void init()
    {
        QVERIFY(enterFreshClient(m_sandbox, m_backend));
    }
    void cleanup() { m_sandbox.leave(); }

    void reshowPassesThroughAutomaticLogin()
    {
        const auto config = Config::instance();
        config->setServerHash(QStringLiteral("premium.user"));
        config->setConnectionHash(QStringLiteral("premium-pass"));
        config->setAutoLogin(true);
        config->save();
        MessageCatcher boxes;

        RootWindow window(QStringLiteral("not"));
        auto *pages = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        QList<int> visited;
        connect(pages, &QStackedWidget::currentChanged, this, [&visited](int index) { visited << index; });
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(visited, (QList<int>{0, 3}), 15000);

        // To the settings through the menu: the settings page records itself.
        QWidget *area = pages->widget(3);
        auto *left = area->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        QTest::mousePress(area->findChild<QWidget *>(QStringLiteral("btnManu")), Qt::LeftButton);
        QTest::mousePress(area->findChild<MenuEntry *>(QStringLiteral("settingButton")), Qt::LeftButton);
        QCOMPARE(left->currentIndex(), 9);
        QTRY_COMPARE(config->loadState(), qMakePair(9, 0));

        // Hidden to the tray and brought back: through the automatic login
        // (answered from the cache) and back to the settings.
        window.hide();
        // Elsewhere meanwhile, on a page that records nothing: only the
        // restore can bring the settings back.
        left->setCurrentIndex(6);
        visited.clear();
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(visited, (QList<int>{0, 3}), 15000);
        QCOMPARE(left->currentIndex(), 9);
        QCOMPARE(m_backend.count(QStringLiteral("/api/login.php")), 1);
        QVERIFY(boxes.texts().isEmpty());
    }
};

QTEST_MAIN(LoggedInTest)
#include "tst_loggedin.moc"
