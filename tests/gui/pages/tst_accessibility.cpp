// The window as keyboard and screen-reader users meet it: on every page each
// interactive control of the accessibility tree has a name and Tab walks the
// controls in the order the page shows them; Enter, Return and Space press
// the focused control; the connect button says what a press does. The
// logged-in window logs in against the reference backend (premium account).
#include "backendpagetest.h"
#include "child.h"
#include "messagecatcher.h"

#include "app/rootwindow.h"
#include "common/gui/msgbox.h"
#include "common/gui/pressable.h"
#include "common/gui/showmessage.h"
#include "pages/connect/connectpage.h"
#include "pages/login/loginpage.h"
#include "pages/menu/menupage.h"
#include "pages/setting/settingpage.h"
#include "vpn/openconnectconnection.h"
#include "widgets/settingrows/settingrow.h"
#include "widgets/sharepanel/sharepanel.h"

#include <QAccessible>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

using namespace Varnel;

namespace {

bool isControl(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::Button:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::EditableText:
    case QAccessible::ComboBox:
    case QAccessible::SpinBox:
    case QAccessible::Slider:
    case QAccessible::Link:
    case QAccessible::Tree:
    case QAccessible::TreeItem:
    case QAccessible::List:
    case QAccessible::ListItem:
        return true;
    default:
        return false;
    }
}

// The visible interactive controls without a name, as "class objectName"
// (or the role of an item of a list).
void unnamedControls(QAccessibleInterface *node, QStringList &unnamed)
{
    if (!node || node->state().invisible || node->state().offscreen)
        return;
    const bool control = isControl(node->role()) || (node->state().focusable && node->role() == QAccessible::Client);
    if (control && node->text(QAccessible::Name).trimmed().isEmpty()) {
        const QObject *object = node->object();
        unnamed << (object ? QStringLiteral("%1 %2").arg(QLatin1String(object->metaObject()->className()),
                                                         object->objectName())
                           : QStringLiteral("item of role %1").arg(node->role()));
    }
    for (int i = 0; i < node->childCount(); ++i)
        unnamedControls(node->child(i), unnamed);
}

// The controls Tab reaches inside a page, in Tab's order.
QList<QWidget *> tabChain(QWidget *page)
{
    QList<QWidget *> chain;
    QWidget *widget = page;
    for (int steps = 0; steps < 1000; ++steps) {
        widget = widget->nextInFocusChain();
        if (widget == page)
            break;
        if (page->isAncestorOf(widget) && widget->isVisible() && widget->isEnabled()
            && (widget->focusPolicy() & Qt::TabFocus))
            chain << widget;
    }
    return chain;
}

// Pairs in the chain that go back against the reading order: up to an
// earlier row, or leftwards within a row.
QStringList outOfOrder(QWidget *page)
{
    QStringList wrong;
    const QList<QWidget *> chain = tabChain(page);
    for (int i = 1; i < chain.size(); ++i) {
        const QRect a(chain.at(i - 1)->mapTo(page, QPoint()), chain.at(i - 1)->size());
        const QRect b(chain.at(i)->mapTo(page, QPoint()), chain.at(i)->size());
        const bool nextRow = b.top() >= a.bottom() - 2;
        const bool sameRowRightwards = b.top() < a.bottom() && b.bottom() > a.top() && b.left() >= a.right() - 2;
        if (!nextRow && !sameRowRightwards)
            wrong << chain.at(i - 1)->objectName() + QStringLiteral(" -> ") + chain.at(i)->objectName();
    }
    return wrong;
}

} // namespace

class AccessibilityTest : public BackendPageTest
{
    Q_OBJECT

    std::unique_ptr<RootWindow> m_window;

    QStackedWidget *stack(const char *name) const
    {
        return child<QStackedWidget>(child<QStackedWidget>(m_window.get(), "stackedWidget")->widget(3), name);
    }

private slots:
    void cleanup()
    {
        m_window.reset();
        BackendPageTest::cleanup();
    }

    // One row per page: where it is (the root stack, the logged-in area's
    // left or right stack, or a panel of its own) and its index there.
    void everyPageNamesItsControlsInTabOrder_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("index");
        QTest::newRow("login") << "root" << 2;
        QTest::newRow("server list, a category open") << "left" << 0;
        QTest::newRow("menu") << "left" << 1;
        QTest::newRow("account") << "left" << 2;
        QTest::newRow("support") << "left" << 3;
        QTest::newRow("tools") << "left" << 4;
        QTest::newRow("referral code") << "left" << 5;
        QTest::newRow("more") << "left" << 6;
        QTest::newRow("about") << "left" << 7;
        QTest::newRow("refer a friend") << "left" << 8;
        QTest::newRow("settings, all rows open") << "left" << 9;
        QTest::newRow("devices") << "left" << 10;
        QTest::newRow("voucher") << "left" << 11;
        QTest::newRow("connect") << "right" << 0;
        QTest::newRow("payment") << "right" << 1;
        QTest::newRow("share panel") << "panel" << 0;
        QTest::newRow("message box") << "box" << 0;
    }
    void everyPageNamesItsControlsInTabOrder()
    {
        QFETCH(QString, where);
        QFETCH(int, index);
        auto boxes = std::make_unique<MessageCatcher>();
        m_window = std::make_unique<RootWindow>(QStringLiteral("not"));
        auto *root = child<QStackedWidget>(m_window.get(), "stackedWidget");
        if (where != QLatin1String("root")) {
            storeLoggedInUser(QStringLiteral("premium.user"), QStringLiteral("premium-pass"));
            m_window->show();
            QTRY_COMPARE_WITH_TIMEOUT(root->currentIndex(), 3, 15000);
        } else {
            m_window->show();
            QTRY_COMPARE(root->currentIndex(), index);
        }
        setMainWindow(m_window.get());

        QWidget *page = root->currentWidget();
        if (where == QLatin1String("left") || where == QLatin1String("right")) {
            QStackedWidget *pages = stack(where == QLatin1String("left") ? "stackedWidget" : "stackedWidget_2");
            pages->setCurrentIndex(index);
            page = pages->currentWidget();
        }
        QTest::qWait(300);   // the pages' refreshes and their requests
        if (auto *list = page->findChild<QTreeWidget *>(QStringLiteral("treeServerList")))
            list->expandItem(list->topLevelItem(0));
        for (SettingRow *row : page->findChildren<ExpandableSettingRow *>())
            QTest::mousePress(row, Qt::LeftButton);

        QStringList unnamed;
        QStringList wrongOrder;
        int controls = 0;
        const auto inspect = [&](QWidget *shown) {
            unnamedControls(QAccessible::queryAccessibleInterface(shown), unnamed);
            wrongOrder = outOfOrder(shown);
            controls = tabChain(shown).size();
        };
        if (where == QLatin1String("panel")) {
            SharePanel panel(QStringLiteral("VRNPREM01"), page);
            panel.show();
            QVERIFY(QTest::qWaitForWindowExposed(&panel));
            inspect(&panel);
        } else if (where == QLatin1String("box")) {
            boxes.reset();   // this box stays open until it is looked at
            QTimer poll;
            connect(&poll, &QTimer::timeout, this, [&] {
                auto *box = m_window->findChild<MsgBox *>();
                if (!box || !box->isVisible())
                    return;
                poll.stop();
                inspect(box);
                QTest::keyClick(box, Qt::Key_Escape);
            });
            poll.start(20);
            showAddress(QStringLiteral("No browser could open this link."), QStringLiteral("https://127.0.0.1:9/"));
        } else {
            inspect(page);
            // The rest of the window (the connect page beside a left page).
            unnamedControls(QAccessible::queryAccessibleInterface(m_window.get()), unnamed);
        }
        QVERIFY(controls > 0);
        QVERIFY2(unnamed.isEmpty(), qPrintable(QStringLiteral("unnamed: ") + unnamed.join(QStringLiteral("; "))));
        QVERIFY2(wrongOrder.isEmpty(), qPrintable(QStringLiteral("Tab order: ") + wrongOrder.join(QStringLiteral("; "))));
    }

    // The connect button is a picture: it says what a press does now.
    void connectButtonAnnouncesItsState_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("name");
        QTest::newRow("disconnected") << int(OpenConnectConnection::Disconnected) << "Connect";
        QTest::newRow("connecting") << int(OpenConnectConnection::Connecting) << "Connecting";
        QTest::newRow("connected") << int(OpenConnectConnection::Connected) << "Disconnect";
    }
    void connectButtonAnnouncesItsState()
    {
        QFETCH(int, status);
        QFETCH(QString, name);
        ConnectPage page;
        QAccessibleInterface *button =
            QAccessible::queryAccessibleInterface(child<QPushButton>(&page, "btnConnect"));
        emit OpenConnectConnection::instance()->statusChanged(OpenConnectConnection::Status(status));
        QTRY_COMPARE(button->text(QAccessible::Name), name);
        QCOMPARE(button->role(), QAccessible::Button);
        QVERIFY(button->state().focusable);
    }

    // Enter, Return and Space press the focused control, a button or a
    // widget that acts on a mouse press.
    void keysPressTheFocusedControl_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        QTest::addColumn<QByteArray>("signal");
        QTest::newRow("login: button, Enter") << "login" << "btnSignup" << int(Qt::Key_Enter)
                                              << QByteArray(SIGNAL(signUpPage()));
        QTest::newRow("menu: entry, Return") << "menu" << "settingButton" << int(Qt::Key_Return)
                                             << QByteArray(SIGNAL(settingButtonClick()));
        QTest::newRow("menu: entry, Space") << "menu" << "supportButton" << int(Qt::Key_Space)
                                            << QByteArray(SIGNAL(supportButtonClick()));
        QTest::newRow("settings: switch row, Enter") << "settings" << "autoConnectButton" << int(Qt::Key_Enter)
                                                     << QByteArray(SIGNAL(autoConnectClicked()));
        QTest::newRow("connect: location card, Space") << "connect" << "serverSelectWidget" << int(Qt::Key_Space)
                                                       << QByteArray(SIGNAL(requestServerSelection()));
    }
    void keysPressTheFocusedControl()
    {
        QFETCH(QString, page);
        QFETCH(QString, control);
        QFETCH(int, key);
        QFETCH(QByteArray, signal);
        installKeyboardActivation();
        std::unique_ptr<QWidget> shown;
        if (page == QLatin1String("login"))
            shown = std::make_unique<LoginPage>();
        else if (page == QLatin1String("menu"))
            shown = std::make_unique<MenuPage>();
        else if (page == QLatin1String("settings"))
            shown = std::make_unique<SettingPage>();
        else
            shown = std::make_unique<ConnectPage>();
        shown->show();
        QVERIFY(QTest::qWaitForWindowActive(shown.get()));
        QWidget *target = child(shown.get(), qPrintable(control));
        target->setFocus(Qt::TabFocusReason);
        QVERIFY(target->hasFocus());
        QSignalSpy pressed(shown.get(), signal.constData());
        QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(pressed.count(), 1);
        // A switch tells screen readers its new state.
        QAccessibleInterface *node = QAccessible::queryAccessibleInterface(target);
        if (node->role() == QAccessible::CheckBox)
            QVERIFY(node->state().checked);
    }
};

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
