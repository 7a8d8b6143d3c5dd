// The root window with a real automatic login (the reference backend over
// HTTPS on loopback): every re-show, as from the tray, passes through the
// automatic login and reopens the logged-in area where the user left it.
#include "backendpagetest.h"
#include "child.h"
#include "messagecatcher.h"

#include "app/rootwindow.h"
#include "common/config.h"
#include "widgets/menuentry/menuentry.h"

#include <QStackedWidget>
#include <QtTest>

using namespace Varnel;

class LoggedInTest : public BackendPageTest
{
    Q_OBJECT

private slots:
    void reshowPassesThroughAutomaticLogin()
    {
        storeLoggedInUser(QStringLiteral("premium.user"), QStringLiteral("premium-pass"));
        MessageCatcher boxes;

        RootWindow window(QStringLiteral("not"));
        auto *pages = child<QStackedWidget>(&window, "stackedWidget");
        QList<int> visited;
        connect(pages, &QStackedWidget::currentChanged, this, [&visited](int index) { visited << index; });
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(visited, (QList<int>{0, 3}), 15000);

        // To the settings through the menu: the settings page records itself.
        QWidget *area = pages->widget(3);
        auto *left = child<QStackedWidget>(area, "stackedWidget");
        QTest::mousePress(child(area, "btnManu"), Qt::LeftButton);
        QTest::mousePress(child<MenuEntry>(area, "settingButton"), Qt::LeftButton);
        QCOMPARE(left->currentIndex(), 9);
        QTRY_COMPARE(Config::instance()->loadState(), qMakePair(9, 0));

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
