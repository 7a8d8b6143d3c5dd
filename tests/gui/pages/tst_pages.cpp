// The pages against the reference backend over HTTPS on loopback: what they
// show and send, the links they open (caught before any browser starts), how
// each request ends, and every page as keyboard and screen-reader users meet it.
#include "backendpagetest.h"
#include "child.h"
#include "messagecatcher.h"
#include "openedlinks.h"
#include "startuplook.h"

#include "app/rootwindow.h"
#include "backend/apirequest.h"
#include "backend/logincache.h"
#include "backend/user.h"
#include "backend/vpncredentials.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "common/crypto.h"
#include "common/gui/iconcache.h"
#include "common/iconnames.h"
#include "common/gui/linkopener.h"
#include "common/gui/msgbox.h"
#include "common/gui/pressable.h"
#include "common/gui/showmessage.h"
#include "common/netinfo.h"
#include "pages/about/aboutuspage.h"
#include "pages/account/myaccountpage.h"
#include "pages/autologin/autologinpage.h"
#include "pages/connect/connectpage.h"
#include "pages/devices/devicespage.h"
#include "pages/login/loginpage.h"
#include "pages/menu/menupage.h"
#include "pages/more/varnelmorepage.h"
#include "pages/payment/paymentpage.h"
#include "pages/referral/referfriendpage.h"
#include "pages/referral/referralredeem.h"
#include "pages/serverselection/serverselectionpage.h"
#include "pages/serverselection/servertree.h"
#include "pages/setting/settingpage.h"
#include "pages/support/supportpage.h"
#include "pages/tools/toolspage.h"
#include "pages/voucher/redeemvoucherpage.h"
#include "platform/deviceinfo.h"
#include "tools/refbackend/routes.h"
#include "tools/refbackend/webpages.h"
#include "vpn/trafficformat.h"
#include "widgets/congratulations/congratulationspopup.h"
#include "widgets/device/devicewidget.h"
#include "widgets/payment/package.h"
#include "widgets/payment/webpicturelink.h"
#include "widgets/settingrows/settingrow.h"
#include "widgets/sharepanel/sharepanel.h"
#include "widgets/toast/dialog.h"
#include "widgets/treeitems/treechilditem.h"
#include "widgets/treeitems/treeparentitem.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>

using namespace Varnel;
namespace Routes = Varnel::RefBackend::Routes;
using RefBackend::WebPages;

namespace {

// The client's request time limit here; the backend's delays go beyond it.
constexpr int kLimitMs = 1000;
const QStringList kFaults{"status500", "notjson", "close", "delay", "down"};
const QString kCategories[] = {QStringLiteral("High Speed Server"), QStringLiteral("Ad Blocking Server"),
                               QStringLiteral("Favorite Server"), QStringLiteral("Gaming Server"),
                               QStringLiteral("Streaming Server")};
const QString kUk = QStringLiteral("The United Kingdom of Great Britain and Northern Ireland");

// The pages the tables name.
std::unique_ptr<QWidget> makePage(const QString &name)
{
    static const QMap<QString, std::function<QWidget *()>> pages{
        {"login", [] { return new LoginPage; }},
        {"automatic login", [] { return new AutoLoginPage; }},
        {"about", [] { return new AboutUsPage; }},
        {"voucher", [] { return new RedeemVoucherPage; }},
        {"referral", [] { return new ReferralRedeem; }},
        {"refer info", [] { return new ReferFriendPage; }},
        {"devices", [] { return new DevicesPage; }},
        {"support", [] { return new SupportPage; }},
        {"more", [] { return new VarnelMorePage; }},
        {"menu", [] { return new MenuPage; }},
        {"settings", [] { return new SettingPage; }},
        {"connect", [] { return new ConnectPage; }},
        {"package", [] { return new Package(QJsonObject{{"id", "monthly"}, {"name", "Monthly"}}); }},
        {"features", [] { return new AccoutBottomButton; }},
        {"home", [] { return new HomeImage; }},
    };
    return std::unique_ptr<QWidget>(pages.value(name)());
}

// Each page that sends a request: the widget that shows it busy (the button
// that sends, or a spinner when showing the page sends) and what follows.
enum FormId { Login, SignUp, Recovery, AutoLogin, Newsletter, Voucher, Referral, ReferInfo, LoggedDevices };
struct Form {
    const char *name;
    const char *page;
    const char *path;
    const char *busy;
    const char *idle;          // the button's text at rest; null for a spinner
    QStringList successTexts;  // the start of what a success says
    QString failureText;       // what every failure says, when always the same (the page closes itself)
    bool clears;               // the typed text is gone afterwards, else kept (but after a success)
};
const Form &form(int id)
{
    static const Form forms[] = {
        {"login", "login", Routes::kLogin, "btnLogin", "Log In", {}, {}, false},
        {"sign-up", "login", Routes::kSignUp, "btnLogin", "Sign Up", {"Signup successfull"}, {}, false},
        {"recovery", "login", Routes::kForgotPassword, "btnLogin", "Send",
         {"Password reset instructions", "A new password was sent"}, {}, false},
        {"automatic login", "automatic login", Routes::kLogin, "lblBusy", nullptr, {}, {}, false},
        {"newsletter", "about", Routes::kSubscribe, "btnSubscribe", "Subscribe", {"You are subscribed now!"}, {}, false},
        {"voucher", "voucher", Routes::kRedeemVoucher, "btnSubmit", "Subscribe", {}, {}, true},
        {"referral", "referral", Routes::kRefer, "btnSubmit", "Procced", {}, {}, true},
        {"refer info", "refer info", Routes::kReferInfo, "lblSpinner", nullptr, {}, "Could not connect to server!", false},
        {"devices", "devices", Routes::kLoggedDevices, "lblSpinner", nullptr, {}, "Could not connect to server!", false},
    };
    return forms[id];
}

// Every line the program writes to its output, at any level.
QStringList g_output;
QtMessageHandler g_previousHandler = nullptr;
void recordOutput(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    g_output << text;
    g_previousHandler(type, context, text);
}

QImage picture(const char *path, int size, int rotation = 0)
{
    return cachedPicture(QLatin1String(path), QSize(size, size), rotation).toImage();
}
QImage labelImage(QWidget *parent, const char *label)
{
    return child<QLabel>(parent, label)->pixmap(Qt::ReturnByValue).toImage();
}
QString text(QWidget *parent, const char *label)
{
    return child<QLabel>(parent, label)->text();
}
void press(QWidget *parent, const char *name)
{
    QTest::mouseClick(child<QPushButton>(parent, name), Qt::LeftButton);
}

// The visible interactive controls without a name, as "class objectName"
// (or the role of an item of a list).
void unnamedControls(QAccessibleInterface *node, QStringList &unnamed)
{
    static const QList<QAccessible::Role> controls{
        QAccessible::Button,   QAccessible::CheckBox, QAccessible::RadioButton, QAccessible::EditableText,
        QAccessible::ComboBox, QAccessible::SpinBox,  QAccessible::Slider,      QAccessible::Link,
        QAccessible::Tree,     QAccessible::TreeItem, QAccessible::List,        QAccessible::ListItem};
    if (!node || node->state().invisible || node->state().offscreen)
        return;
    const bool control = controls.contains(node->role()) || (node->state().focusable && node->role() == QAccessible::Client);
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
    QWidget *widget = page->nextInFocusChain();
    for (int steps = 0; widget != page && steps < 1000; ++steps, widget = widget->nextInFocusChain()) {
        if (page->isAncestorOf(widget) && widget->isVisible() && widget->isEnabled()
            && (widget->focusPolicy() & Qt::TabFocus))
            chain << widget;
    }
    return chain;
}

// What a keyboard or screen-reader user would miss on a page: unnamed
// controls, no control for Tab, and Tab steps against the reading order (up
// to an earlier row, or leftwards within a row).
QStringList accessFaults(QWidget *page, const QString &name)
{
    QStringList faults;
    QStringList unnamed;
    unnamedControls(QAccessible::queryAccessibleInterface(page), unnamed);
    if (!unnamed.isEmpty())
        faults << name + QStringLiteral(": unnamed ") + unnamed.join(QStringLiteral(", "));
    const QList<QWidget *> chain = tabChain(page);
    if (chain.isEmpty())
        faults << name + QStringLiteral(": Tab reaches nothing");
    for (int i = 1; i < chain.size(); ++i) {
        const QRect a(chain.at(i - 1)->mapTo(page, QPoint()), chain.at(i - 1)->size());
        const QRect b(chain.at(i)->mapTo(page, QPoint()), chain.at(i)->size());
        const bool nextRow = b.top() >= a.bottom() - 2;
        const bool sameRowRightwards = b.top() < a.bottom() && b.bottom() > a.top() && b.left() >= a.right() - 2;
        if (!nextRow && !sameRowRightwards)
            faults << name + QStringLiteral(": Tab ") + chain.at(i - 1)->objectName() + QStringLiteral(" -> ")
                    + chain.at(i)->objectName();
    }
    return faults;
}

} // namespace

class PagesTest : public BackendPageTest
{
    Q_OBJECT

public:
    // The backend takes the last data file it is given.
    PagesTest() : BackendPageTest({QStringLiteral("--data"), QStringLiteral(PAGES_DATA)}) {}

private:
    std::unique_ptr<OpenedLinks> m_links;
    int m_logMark = 0;
    std::unique_ptr<QWidget> m_host;
    ServerSelectionPage *m_page = nullptr;   // the server list, in m_host
    MessageCatcher *m_messages = nullptr;

    static QPair<int, int> recorded()
    {
        Config::instance()->load();
        return Config::instance()->loadState();
    }
    // The page shown, and the request its show makes answered.
    template <typename P>
    std::unique_ptr<P> shown(const char *path = nullptr)
    {
        const int before = path ? m_backend.count(QLatin1String(path)) : 0;
        auto page = std::make_unique<P>();
        page->show();
        if (path && !QTest::qWaitFor([&] { return m_backend.count(QLatin1String(path)) > before; }, 10000))
            qWarning("no request on %s", path);
        QTest::qWait(20);   // the zero-delay refresh after the answer
        return page;
    }
    void useProbesAt(const QString &base)
    {
        qputenv("VARNELVPN_DOWNLOAD_PROBE", (base + QLatin1String(WebPages::kDownloadProbePath)).toUtf8());
        qputenv("VARNELVPN_UPLOAD_PROBE", (base + QLatin1String(WebPages::kUploadProbePath)).toUtf8());
    }
    // "down" points the client at a closed port, "no endpoints" blanks the
    // table and fails the fetch of it, "cache" leaves a refusal in the login
    // cache; any other word is the backend's fault on the route.
    bool breakBackend(const QString &setup, const char *path)
    {
        if (setup == QLatin1String("down")) {
            useEndpointsAt(closedBase());
            ApiRequest::instance()->loadEndpoints();
        } else if (setup == QLatin1String("cache")) {
            LoginCache::write(QJsonDocument(QJsonObject{{"response_code", 2}, {"message", "cached refusal"}}));
        } else if (setup == QLatin1String("no endpoints")) {
            QMap<QString, QString> blank = ClientSandbox::endpointsAt(QString());
            for (QString &value : blank)
                value.clear();
            ClientSandbox::storeEndpoints(blank);
            return m_backend.setFault(QLatin1String(Routes::kRemoteData), QStringLiteral("status500"));
        } else if (!setup.isEmpty()) {
            return m_backend.setFault(QLatin1String(path), setup, setup == QLatin1String("delay") ? kLimitMs + 1000 : 0);
        }
        return true;
    }
    // The form's page, shown, filled ("editName=value") and sent.
    static std::unique_ptr<QWidget> send(int id, const QStringList &fields)
    {
        auto page = makePage(QLatin1String(form(id).page));
        page->show();
        if (id == SignUp || id == Recovery)
            press(page.get(), id == SignUp ? "btnSignup" : "btnForgotPassword");
        for (const QString &field : fields)
            child<QLineEdit>(page.get(), qPrintable(field.section('=', 0, 0)))->setText(field.section('=', 1));
        if (form(id).idle)
            press(page.get(), form(id).busy);
        return page;
    }

    ServerTree *tree() const { return child<ServerTree>(m_page, "treeServerList"); }

    // The list of a user, with a protocol setting and a search text, as the
    // server page holds it, shown; the first build follows the show.
    void showListOf(const QString &user, int protocol = 0, const QString &searchText = QString())
    {
        QVERIFY(loginAs(user, QString(user).replace(QLatin1String(".user"), QLatin1String("-pass"))));
        Config::instance()->setProtocol(protocol);
        m_page = new ServerSelectionPage;
        m_messages = new MessageCatcher(m_page);
        m_host.reset(hostInRootWindowFrame(m_page));
        QTRY_VERIFY(tree()->topLevelItemCount() > 0);
        search(searchText);
    }
    void search(const QString &text)
    {
        child<QLineEdit>(m_page, "editSearch")->setText(text);
        m_page->onFilter();   // the debounced build, without waiting for the pause
    }

    // A row scrolled into view, with its widget, as the user would reach it.
    QWidget *rowWidget(QTreeWidgetItem *item)
    {
        tree()->scrollToItem(item);
        tree()->refreshRows();
        tree()->scrollToItem(item);
        return tree()->itemWidget(item, 0);
    }
    TreeChildItem *server(QTreeWidgetItem *item) { return qobject_cast<TreeChildItem *>(rowWidget(item)); }
    QStringList titles()
    {
        QStringList result;
        for (int i = 0; i < tree()->topLevelItemCount(); ++i)
            result << qobject_cast<TreeParentItem *>(rowWidget(tree()->topLevelItem(i)))->title();
        return result;
    }
    QTreeWidgetItem *categoryItem(const QString &title) { return tree()->topLevelItem(titles().indexOf(title)); }
    // The rows of a short category, whose rows all stay in view together.
    QList<TreeChildItem *> servers(const QString &title)
    {
        QList<TreeChildItem *> result;
        QTreeWidgetItem *parent = categoryItem(title);
        for (int i = 0; parent && i < parent->childCount(); ++i)
            result << server(parent->child(i));
        return result;
    }
    QStringList serverNames(const QString &title)
    {
        QStringList names;
        for (TreeChildItem *row : servers(title))
            names << row->bundle()->ipName();
        return names;
    }
    static void pressRow(QWidget *row) { QTest::mousePress(row, Qt::LeftButton, {}, QPoint(8, row->height() / 2)); }
    static QImage starOf(QWidget *row)
    {
        return child<QPushButton>(row, "btnFavorite")->icon().pixmap(QSize(15, 15)).toImage();
    }
    // A row's rounded corners: t top, b bottom, a all, m none.
    static QString cornersOf(const QWidget *row)
    {
        const QString style = row->styleSheet();
        if (style.contains(QLatin1String("border-radius:8px")))
            return QStringLiteral("a");
        if (style.contains(QLatin1String("border-top-left-radius")))
            return QStringLiteral("t");
        return style.contains(QLatin1String("border-bottom-left-radius")) ? QStringLiteral("b") : QStringLiteral("m");
    }

private slots:
    void initTestCase()
    {
        qputenv("VARNELVPN_WEB_BASE", "https://127.0.0.1:9/");
        BackendPageTest::initTestCase();
    }
    void init()
    {
        BackendPageTest::init();
        m_logMark = ClientSandbox::logMark();
        g_output.clear();
        g_previousHandler = qInstallMessageHandler(recordOutput);
        qputenv("VARNELVPN_HTTP_TIMEOUT_MS", QByteArray::number(kLimitMs));
        ApiRequest::instance()->setTimeout(kLimitMs);
        qputenv("VARNELVPN_PING_TARGET", "127.0.0.1");
        m_links = std::make_unique<OpenedLinks>();
        const auto config = Config::instance();
        for (int id : config->favourites())
            config->removeFavourite(id);
    }
    // What a desktop session's journal would get: no line of the output or
    // the log, at any level, holds a password, a token or a whole reply (a
    // login reply lists every server with its keys).
    void cleanup()
    {
        qInstallMessageHandler(g_previousHandler);
        const QStringList lines = g_output + ClientSandbox::logSince(m_logMark);
        m_links.reset();
        m_host.reset();
        setMainWindow(nullptr);
        BackendPageTest::cleanup();
        const QRegularExpression secret(QStringLiteral("-pass|authToken|ip_bundle"));
        for (const QString &line : lines)
            QVERIFY2(!line.contains(secret) && line.size() < 400, qPrintable(line.left(400)));
    }

    // Each mode's texts and inputs, in the root window's room (a layout that
    // needs more squeezes its spacing over the version line); "Go back"
    // returns to log-in, where Enter in a field acts like the main button.
    void loginPageModes_data()
    {
        QTest::addColumn<QString>("enter");
        QTest::addColumn<QStringList>("look");   // the two buttons' texts, then the inputs shown
        QTest::newRow("log-in") << "" << QStringList{"Log In", "Sign Up Now", "editUsername", "editPassword",
                                                      "btnForgotPassword"};
        QTest::newRow("sign-up") << "btnSignup" << QStringList{"Sign Up", "Go back", "editUsername", "editPassword",
                                                                "editConfirmPassword", "editSubscription",
                                                                "chkPromotion"};
        QTest::newRow("recovery") << "btnForgotPassword" << QStringList{"Send", "Go back", "editUsername"};
    }
    void loginPageModes()
    {
        QFETCH(QString, enter);
        QFETCH(QStringList, look);
        auto *page = new LoginPage;
        std::unique_ptr<QWidget> host(hostInRootWindowFrame(page));
        MessageCatcher boxes;
        if (!enter.isEmpty())
            press(page, qPrintable(enter));
        QStringList seen{child<QPushButton>(page, "btnLogin")->text(), child<QPushButton>(page, "btnSignup")->text()};
        for (const char *name : {"editUsername", "editPassword", "editConfirmPassword", "editSubscription",
                                 "chkPromotion", "btnForgotPassword"}) {
            if (child(page, name)->isVisible())
                seen << QLatin1String(name);
        }
        QCOMPARE(seen, look);
        const QSize needed = page->layout()->minimumSize();
        QVERIFY(needed.height() <= host->height() && needed.width() <= host->width());
        QVERIFY(child<QLabel>(page, "lblVersion")->isVisible());
        QVERIFY(text(page, "lblVersion").contains(applicationVersion()));

        if (!enter.isEmpty())
            press(page, "btnSignup");
        QCOMPARE(page->mode(), int(LoginPage::LogInMode));
        child<QLineEdit>(page, "editPassword")->setText(QStringLiteral("secret1"));
        QTest::keyClick(child<QLineEdit>(page, "editPassword"), Qt::Key_Return);
        QCOMPARE(boxes.texts(), QStringList{"Invalid credentials"});
        QCOMPARE(m_backend.totalCount(), 0);
    }

    // A manual login: while the request runs nothing on the page can be
    // used (a click on "Sign Up Now" changes nothing); the cleaned
    // credentials are sent and stored, and a stale cache of a logged-in user
    // does not answer; afterwards everything is as it was.
    void manualLogin()
    {
        const auto config = Config::instance();
        config->setAutoLogin(true);
        config->save();
        LoginCache::write(QJsonDocument(QJsonObject{{"response_code", 2}, {"message", "cached refusal"}}));
        QVERIFY(m_backend.setFault(QLatin1String(Routes::kLogin), QStringLiteral("delay"), 500));
        MessageCatcher boxes;
        LoginPage page;
        page.show();
        auto *user = child<QLineEdit>(&page, "editUsername");
        auto *button = child<QPushButton>(&page, "btnLogin");
        user->setText(QStringLiteral(" premium .user "));
        child<QLineEdit>(&page, "editPassword")->setText(QStringLiteral("premium-pass "));
        QStringList usableWhileBusy{"not observed"};
        QTimer probe;   // looks from inside the request's nested event loop
        connect(&probe, &QTimer::timeout, this, [&] {
            usableWhileBusy.clear();
            for (QWidget *w : page.findChildren<QWidget *>()) {
                if (w->isVisible() && w->isEnabled() && (qobject_cast<QLineEdit *>(w) || qobject_cast<QAbstractButton *>(w)))
                    usableWhileBusy << w->objectName();
            }
            press(&page, "btnSignup");
        });
        probe.start(60);
        QSignalSpy success(&page, &LoginPage::loginSuccessfull);
        press(&page, "btnLogin");
        probe.stop();
        QVERIFY2(boxes.texts().isEmpty(), qPrintable(boxes.texts().join('|')));
        QCOMPARE(success.count(), 1);
        QCOMPARE(usableWhileBusy, QStringList{});
        QCOMPARE(page.mode(), int(LoginPage::LogInMode));
        QCOMPARE(button->text(), QStringLiteral("Log In"));
        for (const char *name : {"editUsername", "editPassword", "btnLogin", "btnSignup", "btnForgotPassword"})
            QVERIFY2(child(&page, name)->isEnabled(), name);

        QCOMPARE(formValues(m_backend.last(QLatin1String(Routes::kLogin)), {"username", "pass"}),
                 (QStringList{"premium.user", "premium-pass"}));
        QCOMPARE(vpnCredentials().password, QStringLiteral("premium-pass"));
        config->load();   // what was saved, not only what is in memory
        QCOMPARE(qMakePair(config->serverHash(), config->connectionHash()),
                 qMakePair(QStringLiteral("premium.user"), QStringLiteral("premium-pass")));
        QVERIFY(config->autoLogin());
        // The network reply, cached for the next start.
        QCOMPARE(LoginCache::read().object().value("response_code").toInt(), 1);
    }

    // One attempt per show, with the stored credentials: a show during the
    // attempt starts no second one; a show after it (back from the tray) is
    // answered from the cache.
    void automaticLoginOncePerShow()
    {
        storeLoggedInUser(QStringLiteral("premium.user"), QStringLiteral("premium-pass"));
        QVERIFY(m_backend.setFault(QLatin1String(Routes::kLogin), QStringLiteral("delay"), 600));
        MessageCatcher boxes;
        auto *page = new AutoLoginPage;
        QSignalSpy success(page, &AutoLoginPage::loginSuccessfull);
        std::unique_ptr<QWidget> host;
        QTimer::singleShot(250, this, [&] {
            host->hide();
            host->show();
        });
        host.reset(hostInRootWindowFrame(page));
        QTRY_COMPARE_WITH_TIMEOUT(success.count(), 1, 5000);
        QTest::qWait(300);   // room for a wrongly started second attempt
        QCOMPARE(success.count(), 1);
        QCOMPARE(m_backend.count(QLatin1String(Routes::kLogin)), 1);
        QCOMPARE(formValues(m_backend.last(QLatin1String(Routes::kLogin)), {"username", "pass"}),
                 (QStringList{"premium.user", "premium-pass"}));

        setVpnCredentials(QString(), QString());
        host->hide();
        host->show();
        QTRY_COMPARE_WITH_TIMEOUT(success.count(), 2, 5000);
        QCOMPARE(m_backend.count(QLatin1String(Routes::kLogin)), 1);
        QCOMPARE(vpnCredentials().username, QStringLiteral("premium.user"));
        QVERIFY(boxes.texts().isEmpty());
    }

    void accountPage_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("plan");
        QTest::addColumn<QString>("picture");
        QTest::newRow("premium") << "premium.user" << "premium-pass" << "Premium" << ":/img/my account premium.png";
        QTest::newRow("scratch card") << "card.user" << "card-pass" << "Scratch Card" << ":/img/my account card.png";
        QTest::newRow("free") << "free.user" << "free-pass" << "Free" << ":/img/my account free.png";
    }
    void accountPage()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, picture);
        QVERIFY(loginAs(user, password));
        MessageCatcher boxes;
        auto page = shown<MyAccountPage>();
        QFETCH(QString, plan);
        QTRY_COMPARE(text(page.get(), "lblPlan"), plan);
        QCOMPARE(text(page.get(), "lblUserName"), user);
        QCOMPARE(text(page.get(), "lblPassword"), QString(password.size(), QLatin1Char('*')));
        QCOMPARE(labelImage(page.get(), "lblPlanImage"), cachedPicture(picture, QSize(72, 72)).toImage());
        QCOMPARE(recorded(), qMakePair(2, 0));

        press(page.get(), "btnCopyUser");
        QCOMPARE(QGuiApplication::clipboard()->text(), user);
        press(page.get(), "btnCopyPassword");
        QCOMPARE(QGuiApplication::clipboard()->text(), password);
        QCOMPARE(boxes.texts(), (QStringList{"UserName copied to clipboard", "Password copied to clipboard"}));
    }

    // The comparison table: three cells a row, filled row by row, without a
    // row whose cells do not all come; the premium column in the accent.
    void decisionTable_data()
    {
        QTest::addColumn<QString>("decision");
        QTest::addColumn<QStringList>("rows");   // row by row, cells joined with "|"
        QTest::newRow("six cells: two rows") << "Servers~~6~~All,Speed~~Standard~~Highest"
                                             << QStringList{"Servers|6|All", "Speed|Standard|Highest"};
        QTest::newRow("seven cells: the last one left out") << "a,b,c,d,e,f~~g" << QStringList{"a|b|c", "d|e|f"};
        QTest::newRow("two cells: empty") << "a~~b" << QStringList{};
    }
    void decisionTable()
    {
        QFETCH(QString, decision);
        QFETCH(QStringList, rows);
        User::instance()->setDecisionData(decision);
        auto page = shown<PaymentPage>();
        auto *table = child<QTableWidget>(page.get(), "tableWidget");
        QTRY_COMPARE(table->rowCount(), rows.size());
        QCOMPARE(table->horizontalHeaderItem(2)->foreground().color(), QColor(255, 159, 81));
        for (int row = 0; row < rows.size(); ++row) {
            for (int column = 0; column < 3; ++column)
                QCOMPARE(table->item(row, column)->text(), rows.at(row).section('|', column, column));
        }
    }

    // Each widget that opens a page of the site: the address with its own
    // query and a token the site accepts for thirty minutes; the password puts
    // a "+" into the token, which the site must receive as a "+".
    void webPagesCarryAValidToken_data()
    {
        QTest::addColumn<QString>("widget");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("ownQuery");
        QTest::newRow("package: checkout") << "package" << "/checkout/monthly" << "";
        QTest::newRow("features picture") << "features" << "/features" << "src=app";
        QTest::newRow("home picture") << "home" << "/offer" << "campaign=home";
    }
    void webPagesCarryAValidToken()
    {
        QFETCH(QString, widget);
        QVERIFY(loginAs(QStringLiteral("plus.user"), QStringLiteral("pLus-pass")));
        const auto link = makePage(widget);
        link->show();
        // A picture comes first: the address it opens is known by then.
        if (auto *picture = link->findChild<QLabel *>(QStringLiteral("lblPicture")))
            QTRY_VERIFY_WITH_TIMEOUT(picture->isVisible(), 10000);
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        QTest::mousePress(link.get(), Qt::LeftButton);
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        QCOMPARE(m_links->urls.size(), 1);
        const QUrl url = m_links->urls.constFirst();
        QTEST(url.path(), "path");
        QUrlQuery withoutToken(url);
        withoutToken.removeAllQueryItems(QStringLiteral("authToken"));
        QTEST(withoutToken.query(), "ownQuery");
        const QString token = QUrlQuery(url).queryItemValue(QStringLiteral("authToken"), QUrl::FullyDecoded);
        QVERIFY2(token.contains(QLatin1Char('+')), qPrintable(token));
        const QJsonObject fields =
            QJsonDocument::fromJson(decipher(token, QLatin1String(kAuthTokenKey)).toUtf8()).object();
        const qint64 ttl = fields.value(QLatin1String("ttl")).toString().toLongLong();
        QVERIFY2(ttl >= before + 1800000 && ttl <= after + 1800000, qPrintable(QString::number(ttl - before)));
        int status = 0;
        const QByteArray html = m_backend.fetch(url, &status);
        QCOMPARE(status, 200);
        QVERIFY2(html.contains("data-token-state=\"valid\""), html.constData());
    }

    // A features picture beyond the size limit is left out, the reason in the log.
    void remotePictures()
    {
        User::instance()->setFeaturesImgUrl(m_backend.baseUrl() + QStringLiteral("/speedtest/download?bytes=6000000"));
        const int mark = ClientSandbox::logMark();
        AccoutBottomButton button;
        button.show();
        const auto logged = [mark] { return ClientSandbox::logSince(mark).filter(QStringLiteral("Picture")); };
        QTRY_VERIFY_WITH_TIMEOUT(!logged().isEmpty(), kLimitMs + 3000);
        QVERIFY2(logged().constFirst().contains(QLatin1String("more than 4194304")), qPrintable(logged().constFirst()));
        QVERIFY(!child<QLabel>(&button, "lblPicture")->isVisible());
        // The home screen outlives logins: a new banner address replaces the picture shown.
        HomeImage banner;
        QImage shown;
        for (const char *path : {WebPages::kFeaturesImagePath, WebPages::kBannerImagePath}) {
            User::instance()->setHomeImageUrl(m_backend.baseUrl() + QLatin1String(path));
            banner.hide();
            banner.show();
            QTRY_VERIFY_WITH_TIMEOUT(labelImage(&banner, "lblPicture") != shown, 10000);
            shown = labelImage(&banner, "lblPicture");
        }
    }

    void referFriend()
    {
        QVERIFY(loginAs(QStringLiteral("premium.user"), QStringLiteral("premium-pass")));
        MessageCatcher boxes;
        auto page = shown<ReferFriendPage>(Routes::kReferInfo);
        auto *code = child<QLineEdit>(page.get(), "editCode");
        QTRY_COMPARE(code->text(), QStringLiteral("VRNPREM01"));
        QVERIFY(code->isReadOnly());
        QCOMPARE(recorded(), qMakePair(8, 0));

        press(page.get(), "btnSubscribe_3");
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("VRNPREM01"));
        QCOMPARE(boxes.texts(), QStringList{"Referral code copied to clipboard"});
        QSignalSpy redeem(page.get(), &ReferFriendPage::redeemReferalClick);
        press(page.get(), "btnRedeemReferal");
        QCOMPARE(redeem.count(), 1);

        // A reply without a code replaces the stored reply, but the field
        // keeps the code it shows.
        setVpnCredentials(QStringLiteral("nocode.user"), QStringLiteral("nocode-pass"));
        page->hide();
        page->show();
        QTRY_COMPARE(text(page.get(), "lblReferTitle"), QStringLiteral("Invite your friends"));
        QVERIFY(!User::instance()->referInfo().contains(QLatin1String("referral_code")));
        QCOMPARE(code->text(), QStringLiteral("VRNPREM01"));
    }

    // Redeemed in the logged-in area: the pop-up over the page, the field
    // cleared, the page recorded, and a new automatic login that brings the
    // user back to the page with the account's new plan.
    void referralRedeemedLogsInAgain()
    {
        storeLoggedInUser(QStringLiteral("free.user"), QStringLiteral("free-pass"));
        MessageCatcher boxes;
        RootWindow window(QStringLiteral("not"));
        auto *root = child<QStackedWidget>(&window, "stackedWidget");
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(root->currentIndex(), 3, 15000);
        QCOMPARE(User::instance()->planName(), QStringLiteral("Free"));
        auto *left = child<QStackedWidget>(root->widget(3), "stackedWidget");
        left->setCurrentIndex(5);
        auto *page = child<ReferralRedeem>(left, "referralRedeem");
        QList<int> visited;
        connect(root, &QStackedWidget::currentChanged, this, [&visited](int index) { visited << index; });

        child<QLineEdit>(page, "editCode")->setText(QStringLiteral("VRNPREM01"));
        press(page, "btnSubmit");
        QTRY_VERIFY(page->findChild<CongratulationsPopup *>());
        auto *popup = page->findChild<CongratulationsPopup *>();
        QVERIFY(popup->isVisible());
        QVERIFY(child<QLineEdit>(page, "editCode")->text().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(visited, (QList<int>{0, 3}), 15000);
        QCOMPARE(User::instance()->planName(), QStringLiteral("Premium"));
        QCOMPARE(left->currentIndex(), 5);
        QCOMPARE(recorded(), qMakePair(5, 0));

        // "Refer more" leads back to the refer-a-friend page.
        press(popup, "btnReferMore");
        QTRY_COMPARE(left->currentIndex(), 8);
        QVERIFY(boxes.texts().isEmpty());
    }

    // Each system's group lists its devices, this client's in its own; shown
    // again, nothing listed twice; an account without devices hides every group.
    void devices()
    {
        QVERIFY(loginAs(QStringLiteral("devices.user"), QStringLiteral("devices-pass")));
        auto page = shown<DevicesPage>(Routes::kLoggedDevices);
        const auto groups = [&page] {
            QStringList shown;
            for (const char *group : {"windowsGroup", "androidGroup", "iosGroup", "huaweiGroup", "desktopGroup"}) {
                auto *widget = child<DeviceGroup>(page.get(), group);
                QStringList models;
                for (DeviceWidget *device : widget->findChildren<DeviceWidget *>())
                    models << text(device, "lblModel");
                shown << (widget->isVisible() ? models.join(QLatin1Char(',')) : QStringLiteral("hidden"));
            }
            return shown;
        };
        const QStringList all{"Surface Pro", "Galaxy S23,Pixel 8", "iPhone 15", "P60 Pro", deviceInfo().model};
        QTRY_COMPARE(groups(), all);
        QCOMPARE(recorded(), qMakePair(10, 0));

        page->hide();
        page->show();
        QTRY_COMPARE(m_backend.count(QLatin1String(Routes::kLoggedDevices)), 2);
        QTest::qWait(50);
        QCOMPARE(groups(), all);

        setVpnCredentials(QStringLiteral("card.user"), QStringLiteral("card-pass"));
        page->hide();
        page->show();
        QTRY_COMPARE(groups(), (QStringList{"hidden", "hidden", "hidden", "hidden", "hidden"}));
        QVERIFY(page->findChildren<DeviceWidget *>().isEmpty());
    }

    // Each link opens its address; one that nothing opens (no xdg-open, or no
    // program for it) shows the address to copy (a mail link's address, any
    // other whole, a checkout link with its token); one that opens says nothing.
    void links_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("button");    // empty: the page is pressed
        QTest::addColumn<QString>("opener");    // empty: the link caught; else xdg-open's exit, or "none"
        QTest::addColumn<QString>("address");   // opened, or the start of the one shown
        // The account's contact_email is the user's own address: not where support is.
        QTest::newRow("mail to support") << "support" << "btnMail" << ""
                                         << "mailto:support@varnelvpn.com?subject=VarnelVPN desktop support";
        QTest::newRow("chat") << "support" << "btnChat" << "" << "https://127.0.0.1:9/support/chat";
        QTest::newRow("browser") << "more" << "btnBrowser" << "" << "https://127.0.0.1:9/products/browser";
        QTest::newRow("review") << "about" << "btnReview" << "" << "https://127.0.0.1:9/review";
        QTest::newRow("facebook page") << "about" << "btnFacebook" << "" << "https://www.facebook.com/varnelvpn";
        QTest::newRow("support mail, no program for mail") << "support" << "btnMail" << "3" << "support@varnelvpn.com";
        QTest::newRow("updates, the browser failed") << "about" << "btnUpdate" << "4" << "https://127.0.0.1:9/download";
        QTest::newRow("checkout, no xdg-open") << "package" << "" << "none"
                                               << "https://127.0.0.1:9/checkout/monthly?authToken=";
        QTest::newRow("opened: nothing said") << "support" << "btnHelp" << "0" << "";
    }
    void links()
    {
        QFETCH(QString, page);
        QFETCH(QString, button);
        QFETCH(QString, opener);
        QFETCH(QString, address);
        User::instance()->setContactEmail(QStringLiteral("user@varnel.test"));
        User::instance()->setWebPaymentPortalUrl(QStringLiteral("https://127.0.0.1:9"));
        QTemporaryDir bin;
        if (opener != QLatin1String("none")) {
            QFile program(bin.filePath(QStringLiteral("xdg-open")));
            QVERIFY(program.open(QIODevice::WriteOnly));
            program.write("#!/bin/sh\necho \"xdg-open: no method available for opening '$1'\" >&2\nexit "
                          + opener.toUtf8() + "\n");
            program.close();
            QVERIFY(program.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        }
        const QByteArray path = qgetenv("PATH");
        const auto restore = qScopeGuard([path] { qputenv("PATH", path); });
        qputenv("PATH", QFile::encodeName(bin.path()));
        MessageCatcher boxes;
        const auto opens = opener.isEmpty() ? nullptr : std::make_unique<LinkOpener>();
        const auto widget = makePage(page);
        if (button.isEmpty())
            QTest::mousePress(widget.get(), Qt::LeftButton);
        else
            child<QPushButton>(widget.get(), qPrintable(button))->click();
        if (!opens) {
            QCOMPARE(m_links->urls.size(), 1);
            QCOMPARE(m_links->urls.constFirst().toString(QUrl::FullyDecoded), address);
            return;
        }
        if (address.isEmpty())
            QTest::qWait(500);
        else
            QTRY_COMPARE(boxes.addresses().size(), 1);
        QCOMPARE(boxes.addresses().size(), address.isEmpty() ? 0 : 1);
        if (!address.isEmpty())
            QVERIFY2(boxes.addresses().constFirst().startsWith(address), qPrintable(boxes.addresses().constFirst()));
    }

    // Sharing carries the code, whole even with characters that mean
    // something in an address.
    void shareLinkCarriesTheCode()
    {
        const QString code = QStringLiteral("VRN+A&B=1");
        SharePanel panel(code);
        QCOMPARE(text(&panel, "lblCode"), code);
        child<QPushButton>(&panel, "btnFacebook")->click();
        QCOMPARE(m_links->urls.size(), 1);
        const QUrl url = m_links->urls.constFirst();
        QCOMPARE(url.host(), QStringLiteral("www.facebook.com"));
        QCOMPARE(QUrlQuery(url).queryItemValue(QStringLiteral("u"), QUrl::FullyDecoded),
                 QStringLiteral("https://127.0.0.1:9/signup?ref=VRN%2BA%26B%3D1"));
    }

    // The server list (its own servers in the data file).
    void categoriesAndCountriesFollowTheirOrders_data()
    {
        QTest::addColumn<QString>("searchText");
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QStringList>("expected");
        // Code-unit order: a prefix first, blank before hyphen, every
        // upper-case initial before a lower-case one, Å after them all.
        QTest::newRow("everything") << "" << 0
                                    << QStringList{kCategories[0], kCategories[1], kCategories[3], kCategories[4],
                                                   "Bangladesh", "Germany", "Guinea", "Guinea Ecuatorial",
                                                   "Guinea-Bissau", "Niger", "Nigeria", kUk, "Zambia", "eSwatini",
                                                   "Åland Islands"};
        QTest::newRow("protocol 2 hides the all-OpenVPN ones")
            << "" << 2
            << QStringList{kCategories[0], kCategories[1], kCategories[4], "Bangladesh", "Germany",
                           "Guinea Ecuatorial", "Nigeria", kUk, "eSwatini", "Åland Islands"};
        for (const char *text : {"ger", "GER", "gEr"})
            QTest::newRow(qPrintable(QStringLiteral("search %1").arg(text)))
                << text << 0
                << QStringList{kCategories[0], kCategories[1], kCategories[3], kCategories[4], "Bangladesh",
                               "Germany", "Niger", "Nigeria"};
        QTest::newRow("nothing matches") << "zzz" << 0 << QStringList{};
    }
    void categoriesAndCountriesFollowTheirOrders()
    {
        QFETCH(QString, searchText);
        QFETCH(int, protocol);
        QFETCH(QStringList, expected);
        // First a search that finds nothing: a short line says so instead of an empty panel.
        showListOf(QStringLiteral("premium.user"), protocol, QStringLiteral("zzz"));
        search(searchText);
        QCOMPARE(titles(), expected);
        auto *noMatch = child<QLabel>(m_page, "lblNoMatch");
        QCOMPARE(noMatch->isVisible(), expected.isEmpty());
        if (expected.isEmpty())
            QCOMPARE(noMatch->text(), QStringLiteral("No server matches \u201Czzz\u201D."));
        QCOMPARE(Config::instance()->loadState(), qMakePair(0, 0));
    }

    void rowsOfACategoryAndTheirCorners_data()
    {
        QTest::addColumn<QString>("searchText");
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("category");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("corners");   // t top, b bottom, a all, m middle
        QTest::newRow("country in reverse list order")
            << "" << 0 << "Bangladesh" << QStringList{"Dhaka", "Tiger Hill", "Sylhet"} << QStringList{"t", "m", "b"};
        QTest::newRow("single row") << "" << 0 << "Zambia" << QStringList{"Lusaka"} << QStringList{"a"};
        QTest::newRow("feature list in list order")
            << "" << 0 << kCategories[0] << QStringList{"Sylhet", "Berlin", "London"} << QStringList{"t", "m", "b"};
        QTest::newRow("search hides the country's first row")
            << "tiger" << 0 << "Bangladesh" << QStringList{"Tiger Hill"} << QStringList{"m"};
        QTest::newRow("protocol 2 in a mixed country")
            << "" << 2 << "Germany" << QStringList{"Vienna Gate", "Munich"} << QStringList{"t", "m"};
        QTest::newRow("search narrows a feature list first")
            << "ger" << 0 << kCategories[4] << QStringList{"Munich"} << QStringList{"a"};
    }
    void rowsOfACategoryAndTheirCorners()
    {
        QFETCH(QString, searchText);
        QFETCH(int, protocol);
        QFETCH(QString, category);
        QFETCH(QStringList, names);
        QFETCH(QStringList, corners);
        showListOf(QStringLiteral("premium.user"), protocol, searchText);
        QCOMPARE(serverNames(category), names);
        const auto seen = [&] {
            QStringList result;
            for (TreeChildItem *row : servers(category))
                result << cornersOf(row);
            return result;
        };
        QTRY_COMPARE(seen(), corners);
    }

    void pressingAServerRow_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("connects");
        QTest::addColumn<int>("payments");
        QTest::newRow("unlocked") << "premium.user" << int(QMessageBox::NoButton) << 1 << 0;
        QTest::newRow("locked, No") << "free.user" << int(QMessageBox::No) << 0 << 0;
        QTest::newRow("locked, Yes") << "free.user" << int(QMessageBox::Yes) << 0 << 1;
    }
    void pressingAServerRow()
    {
        QFETCH(QString, user);
        QFETCH(int, answer);
        QFETCH(int, connects);
        QFETCH(int, payments);
        showListOf(user);
        m_messages->setAnswer(QMessageBox::StandardButton(answer));
        const auto config = Config::instance();
        config->setActiveServer(203);
        config->save();
        QSignalSpy connect(m_page, &ServerSelectionPage::connectUiAndConnect);
        QSignalSpy payment(m_page, &ServerSelectionPage::paymentPageRequest);
        // A lock on the server the plan does not cover, and no gap elsewhere.
        for (TreeChildItem *row : servers("Germany"))
            QCOMPARE(child(row, "lblLock")->isVisible(), !connects && row->bundle()->ipName() == QLatin1String("Berlin"));
        // The country's icon is that of the bundle listed last.
        const QImage austria = cachedPicture(iconPath(40), QSize(30, 30)).toImage();
        QVERIFY(!austria.isNull());
        QCOMPARE(labelImage(rowWidget(categoryItem("Germany")), "lblCountryIcon"), austria);
        // A long title is cut to 200 px with an ellipsis.
        auto *uk = qobject_cast<TreeParentItem *>(rowWidget(categoryItem(kUk)));
        const QLabel *ukTitle = child<QLabel>(uk, "lblCountryName");
        QVERIFY(ukTitle->text().endsWith(QChar(0x2026)));
        QVERIFY(ukTitle->fontMetrics().horizontalAdvance(ukTitle->text()) <= 200);
        QCOMPARE(child<QLabel>(rowWidget(categoryItem("Zambia")), "lblCountryName")->text(), QStringLiteral("Zambia"));

        pressRow(servers("Germany").at(2));   // Berlin
        QCOMPARE(qMakePair(connect.count(), payment.count()), qMakePair(connects, payments));
        QCOMPARE(m_messages->texts(), connects ? QStringList{} : QStringList{QStringLiteral(
                     "You are using free version of Varnel VPN.Buy now to unlock all server?")});
        const int active = connects ? 301 : 203;
        QCOMPARE(qMakePair(config->activeServer(), m_sandbox.stored(QStringLiteral("ActiveServer")).toInt()),
                 qMakePair(active, active));
    }

    void categoriesOpenAsAnAccordionWithoutSearchText_data()
    {
        QTest::addColumn<QString>("searchText");
        QTest::newRow("no search text") << "";
        QTest::newRow("search text") << "a";
    }
    void categoriesOpenAsAnAccordionWithoutSearchText()
    {
        QFETCH(QString, searchText);
        showListOf(QStringLiteral("premium.user"), 0, searchText);
        QTreeWidgetItem *first = categoryItem("Bangladesh");
        QTreeWidgetItem *second = categoryItem("Germany");
        // Open or closed, with the arrow to match.
        auto isOpen = [&](QTreeWidgetItem *item, bool open) {
            return item->isExpanded() == open && labelImage(rowWidget(item), "lblArrow") == picture(":/img/arrow.png", 14, open ? 90 : 0);
        };
        QSignalSpy connect(m_page, &ServerSelectionPage::connectUiAndConnect);

        pressRow(rowWidget(first));
        QVERIFY(isOpen(first, true));
        pressRow(rowWidget(second));
        QVERIFY(isOpen(second, true));
        QVERIFY(isOpen(first, !searchText.isEmpty()));   // the accordion closes it without search text
        pressRow(rowWidget(second));
        QVERIFY(isOpen(second, false));
        QCOMPARE(connect.count(), 0);
    }

    // The star: the favourite stored and its star changed in every category
    // after the rebuild; a toast that outlives the rebuild for five seconds
    // without taking the keyboard; the last favourite's removal removes its category.
    void theStarTogglesTheFavouriteEverywhere()
    {
        showListOf(QStringLiteral("premium.user"));
        QWidget anchor;
        anchor.setGeometry(300, 200, 400, 700);
        setMainWindow(&anchor);
        QSettings("Varnel", "Morvanta Limited").remove("FAVORITE");

        auto *sylhetStar = child<QPushButton>(servers("Bangladesh").at(2), "btnFavorite");
        // Someone typing a search keeps the keyboard while the toast shows.
        auto *searchField = child<QLineEdit>(m_page, "editSearch");
        m_host->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_host.get()));
        searchField->setFocus();
        QElapsedTimer shown;
        shown.start();
        QTest::mouseClick(sylhetStar, Qt::LeftButton);
        QTest::qWait(20);
        QCOMPARE(QApplication::activeWindow(), m_host.get());
        QCOMPARE(QApplication::focusWidget(), searchField);

        QCOMPARE(Config::instance()->favourites(), QList<int>{201});
        QVERIFY(QSettings("Varnel", "Morvanta Limited").value("FAVORITE").toBool());
        // Shown four times: high speed, favourite, streaming and its country.
        QCOMPARE(titles().mid(0, 5), (QStringList{kCategories[0], kCategories[1], kCategories[2], kCategories[3],
                                                   kCategories[4]}));
        QCOMPARE(serverNames(kCategories[2]), QStringList{"Sylhet"});
        const QImage starred = cachedPictureOfHeight(":/img/Star.png", 15).toImage();
        for (const QString &title : {kCategories[0], kCategories[2], kCategories[4], QStringLiteral("Bangladesh")}) {
            QVERIFY2(serverNames(title).contains(QStringLiteral("Sylhet")), qPrintable(title));
            for (TreeChildItem *row : servers(title))
                QTRY_COMPARE(starOf(row) == starred, row->bundle()->ipId() == 201);
        }

        // The toast outlived the row that raised it.
        const QList<Dialog *> toasts = anchor.findChildren<Dialog *>();
        QCOMPARE(toasts.size(), 1);
        QPointer<Dialog> toast = toasts.constFirst();
        QVERIFY(toast->isVisible());
        QCOMPARE(child<QLabel>(toast, "lblText")->text(), QStringLiteral("added to favorite locations"));

        // Removing the last favourite removes its category at once.
        QTest::mouseClick(child<QPushButton>(servers(kCategories[2]).at(0), "btnFavorite"), Qt::LeftButton);
        QVERIFY(Config::instance()->favourites().isEmpty());
        QVERIFY(!titles().contains(kCategories[2]));
        QTRY_VERIFY(starOf(servers("Bangladesh").at(2)) == cachedPictureOfHeight(":/img/favourit.png", 15).toImage());

        QTRY_VERIFY_WITH_TIMEOUT(toast.isNull(), 7000);
        QVERIFY2(shown.elapsed() >= 4750, qPrintable(QString::number(shown.elapsed())));   // a coarse timer
    }

    // From the keyboard: Down leaves the search field for the list, arrows
    // move, Enter opens a category and connects to a server row; screen
    // readers read a server row as its server and country.
    void listFromTheKeyboard()
    {
        showListOf(QStringLiteral("premium.user"), 0, QStringLiteral("berlin"));
        QSignalSpy connect(m_page, &ServerSelectionPage::connectUiAndConnect);
        auto *searchField = child<QLineEdit>(m_page, "editSearch");
        m_host->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_host.get()));
        searchField->setFocus();
        QTest::keyClick(searchField, Qt::Key_Down);
        QVERIFY(tree()->hasFocus());
        QCOMPARE(tree()->currentItem(), tree()->topLevelItem(0));
        const int germany = titles().indexOf(QStringLiteral("Germany"));
        QVERIFY(germany > 0);
        for (int i = 0; i < germany; ++i)
            QTest::keyClick(tree(), Qt::Key_Down);
        QCOMPARE(tree()->currentItem(), categoryItem(QStringLiteral("Germany")));
        QTest::keyClick(tree(), Qt::Key_Return);
        QVERIFY(categoryItem(QStringLiteral("Germany"))->isExpanded());
        QTest::keyClick(tree(), Qt::Key_Down);
        const QModelIndex row = tree()->currentIndex();
        QCOMPARE(row.data(Qt::AccessibleTextRole).toString(), QStringLiteral("Berlin, Germany"));
        QCOMPARE(connect.count(), 0);
        QTest::keyClick(tree(), Qt::Key_Enter);
        QCOMPARE(connect.count(), 1);
        QCOMPARE(Config::instance()->activeServer(), 301);
    }

    void theFastestServerFollowsTheSearch_data()
    {
        QTest::addColumn<bool>("emptyList");
        QTest::addColumn<QString>("searchText");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("updates");
        QTest::newRow("first high-speed entry") << false << "" << "Bangladesh" << 50 << 1;
        QTest::newRow("first one matching the search") << false << "ger" << "Germany" << 276 << 1;
        QTest::newRow("empty list keeps the old values") << true << "" << "Old" << 9 << 0;
    }
    void theFastestServerFollowsTheSearch()
    {
        QFETCH(bool, emptyList);
        QFETCH(QString, searchText);
        QFETCH(QString, name);
        QFETCH(int, code);
        QFETCH(int, updates);
        QVERIFY(loginAs(QStringLiteral("premium.user"), QStringLiteral("premium-pass")));
        if (emptyList)
            QCOMPARE(ApiRequest::instance()->applyLoginReply(QJsonDocument(QJsonObject{
                         {"response_code", 1}, {"message", "ok"}, {"ip_bundle", QJsonArray()}})), 0);
        const auto config = Config::instance();
        config->setFastestServer("Old");
        config->setFastestCountryCode(9);
        config->save();
        config->saveState(5, 5);
        // Not shown: only the debounced build of the typed text runs.
        std::unique_ptr<ServerSelectionPage> page(m_page = new ServerSelectionPage);
        QSignalSpy updated(m_page, &ServerSelectionPage::updateHighspeedButton);
        m_page->onFilterChanged(searchText);
        QTRY_COMPARE(config->loadState(), qMakePair(0, 0));
        QCOMPARE(updated.count(), updates);
        QCOMPARE(qMakePair(m_sandbox.stored(QStringLiteral("FastestServer")).toString(), m_sandbox.stored(QStringLiteral("FastestCountryCode")).toInt()),
                 qMakePair(name, code));
        QCOMPARE(tree()->topLevelItemCount() > 0, !emptyList);
    }

    // What each show reads back from the settings and what each press
    // stores (the window hears of a general choice: the shell's tests).
    void settingChoices_data()
    {
        QTest::addColumn<int>("protocol");   // stored before the show
        QTest::addColumn<QString>("shownRadio");
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<int>("stored");     // the protocol afterwards
        QTest::addColumn<int>("serverButton");   // -1: unchanged
        QTest::newRow("all, press protocol 1") << 0 << "radioButtonAll" << "radioButtonProtocol1" << 1 << -1;
        QTest::newRow("protocol 1, press protocol 2") << 1 << "radioButtonProtocol1" << "radioButtonProtocol2" << 2 << -1;
        QTest::newRow("protocol 2, press all") << 2 << "radioButtonProtocol2" << "radioButtonAll" << 0 << -1;
        QTest::newRow("unknown value shown as protocol 2, press always select")
            << 5 << "radioButtonProtocol2" << "AlwaysSelectServerradioButton" << 5 << 0;
        QTest::newRow("press quick access") << 0 << "radioButtonAll" << "quickAccessradioButton" << 0 << 1;
    }
    void settingChoices()
    {
        QFETCH(int, protocol);
        QFETCH(QString, shownRadio);
        QFETCH(QString, pressed);
        QFETCH(int, serverButton);
        const auto config = Config::instance();
        config->setProtocol(protocol);
        config->setServerButton(serverButton != 1);
        config->save();
        SettingPage page;
        page.show();
        QTRY_VERIFY(child<QRadioButton>(&page, qPrintable(shownRadio))->isChecked());
        QVERIFY(child<QRadioButton>(&page, serverButton == 1 ? "AlwaysSelectServerradioButton" : "quickAccessradioButton")
                    ->isChecked());
        QCOMPARE(recorded(), qMakePair(9, 0));

        QTest::mousePress(child<QRadioButton>(&page, qPrintable(pressed)), Qt::LeftButton);
        config->load();   // what was saved, not what is in memory
        QTEST(config->protocol(), "stored");
        QCOMPARE(config->serverButton(), serverButton != 0);
    }

    // The protocol row opens and closes with its arrow; the server list,
    // hidden meanwhile, shows the protocol chosen there at its next show.
    void protocolRowReachesTheListAtItsNextShow()
    {
        const auto server = [](int id, const char *country, int type) {
            return IPBundle::fromJson(QJsonObject{{"ip_id", id}, {"ipName", country}, {"countryName", country},
                                                  {"countryCode", "276"}, {"ip", "127.0.1.1:1194"}, {"type", type}});
        };
        User::instance()->setBundles({server(1, "Alpha", 1), server(2, "Beta", 2)});
        ServerSelectionPage list;
        auto *tree = child<QTreeWidget>(&list, "treeServerList");
        list.show();
        QTRY_COMPARE(tree->topLevelItemCount(), 2);
        list.hide();
        SettingPage page;
        page.show();
        QTest::mousePress(child(&page, "generalButton"), Qt::LeftButton);
        QVERIFY(child(&page, "generalToolWidget")->isVisible());
        auto *row = child(&page, "protocolWidget");
        for (bool open : {false, true, false}) {
            QCOMPARE(child(&page, "protocolToolWidget")->isVisible(), open);
            QCOMPARE(labelImage(row, "lblArrow"), picture(":/img/arrow.png", 15, open ? 90 : 0));
            QTest::mousePress(row, Qt::LeftButton);
        }
        QSignalSpy tools(&page, &SettingPage::clickNetworkProtecton);
        QTest::mousePress(child(&page, "networkProtection"), Qt::LeftButton);
        QCOMPARE(tools.size(), 1);
        QTest::mousePress(child<QRadioButton>(&page, "radioButtonProtocol1"), Qt::LeftButton);
        QCOMPARE(tree->topLevelItemCount(), 2);   // hidden: not rebuilt yet
        list.show();
        QTRY_COMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(tree->topLevelItem(0)->childCount(), 1);
    }

    // The switch follows the stored value at each show, so the first press
    // always changes it; switched on without a tunnel, it connects.
    void autoConnectSwitch_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<int>("connects");
        QTest::newRow("off to on, disconnected: connects") << false << false << 1;
        QTest::newRow("off to on, connected: only stored") << false << true << 0;
        QTest::newRow("on to off") << true << false << 0;
    }
    void autoConnectSwitch()
    {
        QFETCH(bool, stored);
        QFETCH(bool, connected);
        const auto config = Config::instance();
        config->setAutoConnect(stored);
        config->setConnectionState(connected);
        config->save();
        SettingPage page;
        QSignalSpy autoConnect(&page, &SettingPage::autoConnectClicked);
        page.show();
        auto *row = child(&page, "autoConnectButton");
        QTRY_COMPARE(labelImage(row, "lblArrow"), picture(stored ? ":/img/1.png" : ":/img/0.png", 32));
        QTest::mousePress(row, Qt::LeftButton);
        QCOMPARE(labelImage(row, "lblArrow"), picture(stored ? ":/img/0.png" : ":/img/1.png", 32));
        config->load();
        QCOMPARE(config->autoConnect(), !stored);
        QTEST(autoConnect.size(), "connects");
    }

    void rates_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0 Bytes";
        QTest::newRow("below a thousand") << qint64(999) << "999.00 Bytes";
        QTest::newRow("kilo") << qint64(1500) << "1.50 KB";
        QTest::newRow("mega") << qint64(1536000) << "1.54 MB";
    }
    void rates()
    {
        QFETCH(qint64, count);
        QTEST(formatDecimalBytes(count, 2), "text");
    }

    // Outputs of this machine's ping.
    void pingReading_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("shown");
        const auto sample = [](const char *name) {
            QFile file(QStringLiteral(PING_SAMPLES "/") + QLatin1String(name));
            return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
        };
        const QString reply = sample("ping-reply-loopback.txt");
        QVERIFY(!reply.isEmpty());
        QTest::newRow("reply") << reply << "0 Ms";
        QTest::newRow("below a millisecond, no =") << QString(reply).replace("time=0.215 ms", "time<1ms") << "time<1 Ms";
        QTest::newRow("unreachable") << sample("ping-host-unreachable.txt") << "0 Ms";
    }
    void pingReading()
    {
        QFETCH(QString, output);
        QTEST(parseTestPing(output), "shown");
    }

    // The network test's verdict and address, with the tunnel's state from the
    // controller; the backend's probes give rates, failed ones leave their labels.
    void networkTest_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("probesUp");
        QTest::newRow("not connected") << false << true;
        QTest::newRow("connected, probes failing") << true << false;
    }
    void networkTest()
    {
        QFETCH(bool, connected);
        QFETCH(bool, probesUp);
        useProbesAt(probesUp ? m_backend.baseUrl() : closedBase());
        User::instance()->setBundles({IPBundle::fromJson(
            QJsonObject{{"ip_id", 4}, {"ip", "10.0.0.1:443"}, {"type", 2}, {"countryName", "Lab"}})});
        ConnectPage connectPage;
        emit OpenConnectConnection::instance()->statusChanged(connected ? OpenConnectConnection::Connected
                                                                        : OpenConnectConnection::Disconnected);
        QTRY_COMPARE(Config::instance()->connectionState(), connected);
        // The connect button is a picture: it says what a press does now.
        QAccessibleInterface *button = QAccessible::queryAccessibleInterface(child<QPushButton>(&connectPage, "btnConnect"));
        QCOMPARE(button->text(QAccessible::Name), connected ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
        ToolsPage page;
        page.show();
        const int mark = ClientSandbox::logMark();
        QTest::mousePress(child<QPushButton>(&page, "btnTest"), Qt::LeftButton);
        QCOMPARE(text(&page, "lblrisk"), connected ? QStringLiteral("Secured") : QStringLiteral("Risk"));
        QCOMPARE(text(&page, "lblIP"), connected ? QStringLiteral("10.0.0.1") : localIpv4());
        QVERIFY(child<QPushButton>(&page, "btnTest")->isEnabled());
        QVERIFY(text(&page, "lblPing").endsWith(QLatin1String(" Ms")));
        QTRY_COMPARE(recorded(), qMakePair(4, 0));
        if (probesUp) {
            const QRegularExpression rate(QStringLiteral("^\\d+\\.\\d\\d (Bytes|KB|MB|GB)$"));
            QTRY_VERIFY_WITH_TIMEOUT(rate.match(text(&page, "lblDwnload")).hasMatch(), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(rate.match(text(&page, "lblUpload")).hasMatch(), 10000);
            QCOMPARE(m_backend.count(QLatin1String(WebPages::kDownloadProbePath)), 1);
            QCOMPARE(m_backend.last(QLatin1String(WebPages::kUploadProbePath)).value("body").toString(),
                     QStringLiteral("This is the data to upload."));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(ClientSandbox::logSince(mark).filter(QStringLiteral("Network test: ")).size(), 2,
                                      10000);
            QCOMPARE((QStringList{text(&page, "lblDwnload"), text(&page, "lblUpload")}),
                     (QStringList{"00.00 Mbps", "00.00 Mbps"}));
        }
        emit OpenConnectConnection::instance()->statusChanged(OpenConnectConnection::Connecting);
        QTRY_COMPARE(button->text(QAccessible::Name), QStringLiteral("Connecting"));
        emit OpenConnectConnection::instance()->statusChanged(OpenConnectConnection::Disconnected);
        QTRY_VERIFY(!Config::instance()->connectionState());
    }

    // The first press's download is held back: the second press's reply
    // comes first, and the late one has the last word (a third reading).
    void latePrecedingRepliesOverwrite()
    {
        useProbesAt(m_backend.baseUrl());
        QVERIFY(m_backend.setFault(QLatin1String(WebPages::kDownloadProbePath), QStringLiteral("delay"), 800, 1));
        ToolsPage page;
        page.show();
        QStringList seen;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (seen.isEmpty() || seen.constLast() != text(&page, "lblDwnload"))
                seen << text(&page, "lblDwnload");
        });
        watch.start(5);
        QTest::mousePress(child<QPushButton>(&page, "btnTest"), Qt::LeftButton);
        QTest::mousePress(child<QPushButton>(&page, "btnTest"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 3, 10000);
    }

    // Every page of the window as keyboard and screen-reader users meet it: the
    // login page, then (logged in through it) each page of both stacks with a
    // category and every setting row open, the share panel and a message box.
    void everyPageNamesItsControlsInTabOrder()
    {
        auto boxes = std::make_unique<MessageCatcher>();
        RootWindow window(QStringLiteral("not"));
        setMainWindow(&window);
        const auto forget = qScopeGuard([] { setMainWindow(nullptr); });
        auto *root = child<QStackedWidget>(&window, "stackedWidget");
        window.show();
        QTRY_COMPARE(root->currentIndex(), 2);
        QWidget *login = root->currentWidget();
        QStringList faults = accessFaults(login, QStringLiteral("login"));
        child<QLineEdit>(login, "editUsername")->setText(QStringLiteral("premium.user"));
        child<QLineEdit>(login, "editPassword")->setText(QStringLiteral("premium-pass"));
        press(login, "btnLogin");
        QTRY_COMPARE_WITH_TIMEOUT(root->currentIndex(), 3, 15000);
        for (const char *stack : {"stackedWidget", "stackedWidget_2"}) {
            auto *pages = child<QStackedWidget>(root->currentWidget(), stack);
            for (int index = 0; index < pages->count(); ++index) {
                pages->setCurrentIndex(index);
                QWidget *page = pages->widget(index);
                QTest::qWait(200);   // the page's refresh and its request
                if (auto *list = page->findChild<QTreeWidget *>(QStringLiteral("treeServerList")))
                    list->expandItem(list->topLevelItem(0));
                for (SettingRow *row : page->findChildren<ExpandableSettingRow *>())
                    QTest::mousePress(row, Qt::LeftButton);
                faults << accessFaults(page, page->objectName());
            }
        }
        QStringList unnamed;   // the rest of the window, around the stacks
        unnamedControls(QAccessible::queryAccessibleInterface(&window), unnamed);
        faults << unnamed;
        SharePanel panel(QStringLiteral("VRNPREM01"), &window);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        faults << accessFaults(&panel, QStringLiteral("share panel"));
        panel.close();

        boxes.reset();   // this box stays open until it is looked at
        QString boxSeen = QStringLiteral("no message box");
        QTimer::singleShot(0, &window, [&] {
            if (auto *box = window.findChild<MsgBox *>()) {
                boxSeen.clear();
                faults << accessFaults(box, QStringLiteral("message box"));
                QTest::keyClick(box, Qt::Key_Escape);
            }
        });
        showAddress(QStringLiteral("No browser could open this link."), QStringLiteral("https://127.0.0.1:9/"));
        QVERIFY2(boxSeen.isEmpty(), qPrintable(boxSeen));
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    // Enter, Return and Space press the focused control, a button or a
    // widget that acts on a mouse press; a switch also tells screen readers
    // its new state.
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
        MessageCatcher boxes;
        const auto shown = makePage(page);
        shown->show();
        QVERIFY(QTest::qWaitForWindowActive(shown.get()));
        QWidget *target = child(shown.get(), qPrintable(control));
        target->setFocus(Qt::TabFocusReason);
        QVERIFY(target->hasFocus());
        QSignalSpy pressed(shown.get(), signal.constData());
        QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(pressed.count(), 1);
        QAccessibleInterface *node = QAccessible::queryAccessibleInterface(target);
        if (node->role() == QAccessible::CheckBox)
            QVERIFY(node->state().checked);
        QVERIFY(boxes.texts().isEmpty());
    }

    // Every page's request and how it ends: checks before sending, the backend's
    // answer, and each way it can fail (server error, not JSON, dropped, too slow,
    // down). One box says it in time; the page is idle and keeps or clears its input.
    void requestsAndTheirEnds_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("account");      // "user password": stored or in use
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");      // the start of the box's text; empty: any
        QTest::addColumn<int>("requests");         // -1: not counted
        QTest::addColumn<QString>("after");        // the button's text afterwards; empty: at rest
        const auto row = [](const char *tag, int id, const QString &account, const QStringList &fields,
                            const QString &setup, const QString &message, int requests, const QString &after = {}) {
            QTest::newRow(tag) << id << account << fields << setup << message << requests << after;
        };
        const QString fill = QStringLiteral("Please fill all fields");
        const QString length = QStringLiteral("Password should be minimum 6 characters");
        const QString down = QStringLiteral("Could not connect to server");
        const QString premium = QStringLiteral("premium.user premium-pass");
        const QString free = QStringLiteral("free.user free-pass");
        const auto signUp = [](const char *user, const char *password, const char *confirmation) {
            return QStringList{QStringLiteral("editUsername=") + user, QStringLiteral("editPassword=") + password,
                               QStringLiteral("editConfirmPassword=") + confirmation};
        };
        row("sign-up: a blank name, emptiness before length", SignUp, {}, signUp(" ", "abc", "xyz"), "", fill, 0);
        row("sign-up: blanks do not count, length before match", SignUp, {}, signUp("new.user", "ab c de", "xyz"), "",
            length, 0);
        row("sign-up: confirmation differs", SignUp, {}, signUp("new.user", "secret1", "secret2"), "",
            "Passwords do not match", 0);
        row("forgot: no user name", Recovery, {}, {}, "", fill, 0);
        const QStringList refused{"editUsername=premium.user", "editPassword=wrong-pass"};
        row("log-in refused: the server's text", Login, {}, refused, "", "Invalid username or password.", 1);
        row("log-in, backend down", Login, {}, refused, "down", "Could not connect to server!", 0);
        row("log-in, no endpoint table", Login, {}, refused, "no endpoints", "Could not connect to login server!", 0);
        row("automatic login refused", AutoLogin, "premium.user old-pass", {}, "", "Invalid username or password.", 1);
        row("automatic login, cached refusal", AutoLogin, premium, {}, "cache", "cached refusal", 0);
        row("sign-up, name taken: server's text", SignUp, {}, signUp("premium.user", "another1", "another1"), "",
            "This username is already taken.", 1);
        // Blanks cleaned from the name, the password and its confirmation.
        row("sign-up accepted, back to log-in", SignUp, {}, signUp("new. user", "pass word1", "password1 "), "",
            "Signup successfull. Login to continue", 1, "Log In");
        row("sign-up, backend down", SignUp, {}, signUp("premium.user", "another1", "another1"), "down", down, 0);
        row("recovery, known user", Recovery, {}, {"editUsername=premium.user"}, "", "Password reset instructions", 1,
            "Log In");
        row("recovery, unknown user: 422 without JSON", Recovery, {}, {"editUsername=nobody"}, "", "User Not Found!", 1);
        row("newsletter: subscribed", Newsletter, premium, {"editEmail=reader@varnel.test"}, "",
            "You are subscribed now!", 1);
        row("newsletter: empty, nothing sent", Newsletter, premium, {"editEmail=  "}, "", "Invalid Email!", 0);
        // (Qt's network layer may send a request again on a closed connection.)
        row("newsletter: backend closes", Newsletter, premium, {"editEmail=reader@varnel.test"}, "close",
            "Network request error", -1);
        row("voucher: empty, nothing sent", Voucher, free, {"editCode=   "}, "", "Empty subscription code!", 0);
        row("voucher: backend down", Voucher, free, {"editCode=VOUCHER-30"}, "down", "Could not connect to serve", 0);
        row("voucher: redeemed", Voucher, free, {"editCode=VOUCHER-30"}, "", "", 1);
        row("referral: empty, nothing sent", Referral, free, {"editCode="}, "", "Refer code is empty!", 0);
        row("referral: own code", Referral, free, {"editCode=VRNFREE01"}, "",
            "You cannot redeem your own referral code.", 1);
        row("refer info refused", ReferInfo, "premium.user wrong", {}, "", "Could not connect to server!", 1);
        row("devices refused", LoggedDevices, "devices.user wrong", {}, "", "Could not connect to server!", 1);
        // Every way of failing for both logins and the voucher; one way each for
        // the other pages (shared code handles a failed request up to the page's text).
        const QStringList oneWay{{}, "status500", "notjson", {}, "close", {}, "delay", "down", "notjson"};
        const QStringList typed[] = {signUp("new.user", "secret-pass", "secret-pass"), {"editEmail=reader@varnel.test"},
                                     {"editCode=VOUCHER-30"}, {"editCode=VRNPREM01"}, {}};
        for (int id = Login; id <= LoggedDevices; ++id) {
            const QStringList &fields = typed[id <= Recovery ? 0 : id >= Newsletter && id <= Referral ? id - 3 : 4];
            for (const QString &fault : oneWay.at(id).isEmpty() ? kFaults : QStringList{oneWay.at(id)})
                QTest::addRow("%s, %s", form(id).name, qPrintable(fault))
                    << id << (id == AutoLogin ? premium : id <= Recovery ? QString() : free) << fields << fault
                    << QString() << -1 << QString();
        }
    }
    void requestsAndTheirEnds()
    {
        QFETCH(int, id);
        QFETCH(QString, account);
        QFETCH(QStringList, fields);
        QFETCH(QString, setup);
        QFETCH(QString, message);
        QFETCH(int, requests);
        QFETCH(QString, after);
        const Form &f = form(id);
        const QStringList user = account.split(QLatin1Char(' '));
        if (id == AutoLogin)
            storeLoggedInUser(user.value(0), user.value(1));
        else if (id == Newsletter || id == Voucher)   // where a logged-in user sends
            QVERIFY(loginAs(user.value(0), user.value(1)));
        else if (!account.isEmpty())
            setVpnCredentials(user.value(0), user.value(1));
        // An earlier request's text, which a failure must not bring back.
        const bool fault = kFaults.contains(setup);
        QString earlier;
        if (fault) {
            QVERIFY(ApiRequest::instance()->ensureEndpoints());
            QCOMPARE(ApiRequest::instance()->subscribe(QStringLiteral("earlier@varnel.test")), 0);
            earlier = ApiRequest::instance()->message();
        }
        QVERIFY(breakBackend(setup, f.path));
        const int before = m_backend.count(QLatin1String(f.path));
        MessageCatcher boxes;
        QElapsedTimer clock;
        clock.start();
        const auto page = send(id, fields);
        std::unique_ptr<QSignalSpy> back;
        if (auto *asPage = qobject_cast<Page *>(page.get()))
            back = std::make_unique<QSignalSpy>(asPage, &Page::clickBack);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts().size(), 1, kLimitMs + 4000);
        QVERIFY2(clock.elapsed() < kLimitMs + 1500, qPrintable(QString::number(clock.elapsed())));
        const QString shown = boxes.texts().constFirst();
        QVERIFY2(message.isEmpty() ? !shown.trimmed().isEmpty() : shown.startsWith(message), qPrintable(shown));
        const bool success = std::any_of(f.successTexts.cbegin(), f.successTexts.cend(),
                                         [&](const QString &start) { return shown.startsWith(start); });
        if (fault)
            QVERIFY2(!success && shown != earlier && (f.failureText.isEmpty() || shown == f.failureText),
                     qPrintable(shown));
        if (requests >= 0)
            QCOMPARE(m_backend.count(QLatin1String(f.path)) - before, requests);

        if (f.idle) {
            auto *button = child<QPushButton>(page.get(), f.busy);
            QCOMPARE(button->text(), after.isEmpty() ? QLatin1String(f.idle) : after);
            QVERIFY(button->isEnabled());
        } else {
            QVERIFY(!child(page.get(), f.busy)->isVisible());
        }
        for (const QString &field : fields) {
            const QString now = child<QLineEdit>(page.get(), qPrintable(field.section('=', 0, 0)))->text();
            if (!success)
                QCOMPARE(now, f.clears ? QString() : field.section('=', 1));
        }
        if (id <= AutoLogin && !success)
            QVERIFY(vpnCredentials().username.isEmpty());
        if (back)
            QCOMPARE(back->count(), f.failureText.isEmpty() ? 0 : 1);
        QVERIFY(!page->findChild<CongratulationsPopup *>());
        QTest::qWait(50);   // no second box follows
        QCOMPARE(boxes.texts().size(), 1);
        // A redeemed voucher's plan comes with the next login.
        if (id == Voucher && requests == 1) {
            QVERIFY(loginAs(user.value(0), user.value(1)));
            QCOMPARE(User::instance()->planName(), QStringLiteral("Premium"));
        }
    }
};

QTEST_MAIN(PagesTest)
#include "tst_pages.moc"
