// Renders every page of the window, as the program builds it (fonts, style
// sheet, the root window at 1080 x 740), into PNG files for design review:
//   varnel-page-shots <output directory>
// tools/shots/shots.sh runs it under Xvfb at the pixel ratios 1 and 2. The
// pages are filled by the reference backend (demo data), started here on
// loopback; the demo, card, free and friend accounts log in through the login
// page. Nothing is connected: the connecting and connected looks are the
// window's answers to those tunnel states. On a display (not offscreen) the
// pop-ups are taken over the window as the screen shows them.

#include "app/fonts.h"
#include "app/rootwindow.h"
#include "app/startup.h"
#include "app/windowgeometry.h"
#include "common/config.h"
#include "common/gui/showmessage.h"
#include "pages/connect/connectpage.h"
#include "pages/login/loginpage.h"
#include "pages/serverselection/servertree.h"
#include "widgets/congratulations/congratulationspopup.h"
#include "widgets/sharepanel/sharepanel.h"
#include "widgets/toast/dialog.h"
#include "widgets/treeitems/treeparentitem.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <cstdio>
#include <memory>

using namespace Varnel;

namespace {

QString g_out;
int g_count = 0;

[[noreturn]] void fail(const QString &text)
{
    std::fprintf(stderr, "varnel-page-shots: %s\n", qPrintable(text));
    std::exit(1);
}

void save(const QPixmap &picture, const QString &name)
{
    const QString file = QDir(g_out).filePath(QStringLiteral("%1-%2.png").arg(++g_count, 2, 10, QLatin1Char('0')).arg(name));
    if (!picture.save(file))
        fail(QStringLiteral("cannot write ") + file);
    std::printf("%s\n", qPrintable(file));
}

// The widget as it paints itself, after the zero-delay refreshes of its pages
// and their requests to the backend on loopback.
void shoot(QWidget *widget, const QString &name, int settleMs = 300)
{
    QTest::qWait(settleMs);
    save(widget->grab(), name);
}

// The window's area of the screen, pop-ups included (offscreen: the pop-up alone).
void shootScreen(QWidget *window, QWidget *popup, const QString &name)
{
    QTest::qWait(400);
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        save(popup->grab(), name);
        return;
    }
    const QRect frame = window->frameGeometry();
    save(QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()), name);
}

// The reference backend on 127.0.0.1 with the demo data and its test controls.
class Backend
{
public:
    ~Backend()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }

    void start(const QString &certDir)
    {
        QProcess certs;
        certs.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        certs.setStandardOutputFile(QProcess::nullDevice());
        certs.start(QStringLiteral("bash"), {QStringLiteral(VARNEL_MAKE_CERTS), certDir});
        if (!certs.waitForFinished(30000) || certs.exitCode() != 0)
            fail(QStringLiteral("make-certs.sh failed"));
        m_ssl = QSslConfiguration::defaultConfiguration();
        m_ssl.setCaCertificates(QSslCertificate::fromPath(certDir + "/ca.crt"));
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(VARNEL_REFBACKEND), {"--port", "0", "--cert-dir", certDir});
        static const QRegularExpression listening(QStringLiteral("^listening on (https://127\\.0\\.0\\.1:\\d+)"));
        while (m_process.waitForReadyRead(30000)) {
            while (m_process.canReadLine()) {
                const QRegularExpressionMatch m = listening.match(QString::fromUtf8(m_process.readLine()).trimmed());
                if (m.hasMatch()) {
                    m_base = m.captured(1);
                    return;
                }
            }
        }
        fail(QStringLiteral("the reference backend did not start"));
    }

    QString base() const { return m_base; }

    // Answers on the path wait this long (0: answer at once again).
    void delay(const QString &path, int ms)
    {
        QUrlQuery form;
        form.addQueryItem(QStringLiteral("path"), path);
        form.addQueryItem(QStringLiteral("mode"), ms > 0 ? QStringLiteral("delay") : QStringLiteral("none"));
        form.addQueryItem(QStringLiteral("delay_ms"), QString::number(ms));
        QNetworkRequest request(QUrl(m_base + QStringLiteral("/_control/fault")));
        request.setSslConfiguration(m_ssl);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
        QNetworkReply *reply = m_manager.post(request, form.query(QUrl::FullyEncoded).toUtf8());
        if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000) || reply->error() != QNetworkReply::NoError)
            fail(QStringLiteral("the backend's fault control did not answer"));
        reply->deleteLater();
    }

private:
    QProcess m_process;
    QString m_base;
    QNetworkAccessManager m_manager;
    QSslConfiguration m_ssl;
};

// Presses the default button of the next message box (after it was shown).
void answerNextMessage(QMessageBox::StandardButton button, QWidget *window = nullptr, const QString &shot = {})
{
    QTimer::singleShot(300, [=] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (!shot.isEmpty())
            shootScreen(window, box, shot);
        box->button(button) ? box->button(button)->click() : box->done(button);
    });
}

class Shots
{
public:
    explicit Shots(Backend &backend) : m_backend(backend) {}

    void run()
    {
        m_root = std::make_unique<RootWindow>(QStringLiteral("not"));
        fixMainWindowGeometry(m_root.get());
        setMainWindow(m_root.get());
        m_root->show();
        m_stack = m_root->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        m_left = m_root->findChild<QWidget *>(QStringLiteral("serverPage"))->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        m_right = m_root->findChild<QStackedWidget *>(QStringLiteral("stackedWidget_2"));

        loginPages();
        logIn(QStringLiteral("demo"), QStringLiteral("demo123"), QStringLiteral("login-busy"));
        loggedInArea(QStringLiteral("demo"));
        serverList(QStringLiteral("demo"));
        connectStates();
        popUps();

        for (const auto &[user, password] : {qMakePair(QStringLiteral("card"), QStringLiteral("card123")),
                                             qMakePair(QStringLiteral("free"), QStringLiteral("free123"))}) {
            logOut();
            logIn(user, password);
            showPages(2, 0);
            shoot(m_root.get(), QStringLiteral("account-") + user);
            if (user == QLatin1String("free")) {
                serverList(user);
                showPages(1, 0);
                shoot(m_root.get(), QStringLiteral("menu-free"));
            }
        }
        logOut();
        logIn(QStringLiteral("friend"), QStringLiteral("friend123"));
        referralRedemption();
        automaticLogin();
    }

private:
    template<class T> T *child(QWidget *parent, const char *name) const
    {
        T *found = parent->findChild<T *>(QLatin1String(name));
        if (!found)
            fail(QStringLiteral("no %1").arg(QLatin1String(name)));
        return found;
    }
    LoginPage *loginPage() const { return child<LoginPage>(m_root.get(), "loginPage"); }

    void showPages(int left, int right)
    {
        m_left->setCurrentIndex(left);
        m_right->setCurrentIndex(right);
    }

    void loginPages()
    {
        if (!QTest::qWaitFor([this] { return m_stack->currentIndex() == 2; }, 5000))
            fail(QStringLiteral("the login page did not come"));
        shoot(m_root.get(), QStringLiteral("login"));
        loginPage()->on_btnSignup_pressed();
        child<QLineEdit>(loginPage(), "editUsername")->setText(QStringLiteral("new.user"));
        shoot(m_root.get(), QStringLiteral("login-signup"));
        loginPage()->on_btnSignup_pressed();
        loginPage()->on_btnForgotPassword_pressed();
        shoot(m_root.get(), QStringLiteral("login-forgot"));
        loginPage()->on_btnSignup_pressed();   // back to logging in
    }

    // Through the login page, as a user does; busyShot: the page while the
    // answer is held back.
    void logIn(const QString &user, const QString &password, const QString &busyShot = {})
    {
        child<QLineEdit>(loginPage(), "editUsername")->setText(user);
        child<QLineEdit>(loginPage(), "editPassword")->setText(password);
        if (!busyShot.isEmpty()) {
            m_backend.delay(QStringLiteral("/api/login.php"), 1500);
            QTimer::singleShot(700, [this, busyShot] { save(m_root->grab(), busyShot); });
        }
        loginPage()->on_btnLogin_pressed();
        if (!busyShot.isEmpty())
            m_backend.delay(QStringLiteral("/api/login.php"), 0);
        if (!QTest::qWaitFor([this] { return m_stack->currentIndex() == 3; }, 20000))
            fail(QStringLiteral("the login of %1 failed").arg(user));
    }

    void logOut()
    {
        answerNextMessage(QMessageBox::Yes);
        QMetaObject::invokeMethod(m_root.get(), "onLogout");
        if (!QTest::qWaitFor([this] { return m_stack->currentIndex() == 2; }, 5000))
            fail(QStringLiteral("the logout did not end on the login page"));
    }

    void loggedInArea(const QString &user)
    {
        for (int i = 0; i < m_left->count(); ++i) {
            showPages(i, 0);
            shoot(m_root.get(), QStringLiteral("area-%1-%2").arg(i, 2, 10, QLatin1Char('0')).arg(m_left->widget(i)->objectName()), 600);
        }
        showPages(9, 0);
        for (QWidget *row : m_left->widget(9)->findChildren<QWidget *>()) {
            if (row->inherits("Varnel::ExpandableSettingRow"))
                QTest::mousePress(row, Qt::LeftButton, {}, QPoint(10, 10));
        }
        shoot(m_root.get(), QStringLiteral("settings-open"));
        showPages(0, 1);
        shoot(m_root.get(), QStringLiteral("purchase-") + user, 800);
        if (auto *scroll = m_right->widget(1)->findChild<QScrollArea *>()) {
            scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
            shoot(m_root.get(), QStringLiteral("purchase-bottom-") + user);
        }
        showPages(0, 0);
    }

    void openCategory(ServerTree *tree, const QString &title)
    {
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            QTreeWidgetItem *item = tree->topLevelItem(i);
            auto *row = qobject_cast<TreeParentItem *>(tree->itemWidget(item, 0));
            if (row && row->title() == title) {
                tree->scrollToItem(item);
                QTest::mousePress(row, Qt::LeftButton, {}, QPoint(8, row->height() / 2));
                tree->scrollToItem(item, QAbstractItemView::PositionAtTop);
                return;
            }
        }
    }

    void serverList(const QString &user)
    {
        showPages(0, 0);
        QWidget *page = m_left->widget(0);
        auto *tree = child<ServerTree>(page, "treeServerList");
        if (!QTest::qWaitFor([tree] { return tree->topLevelItemCount() > 0; }, 5000))
            fail(QStringLiteral("the server list stayed empty"));
        openCategory(tree, QStringLiteral("Germany"));
        shoot(m_root.get(), QStringLiteral("serverlist-germany-") + user);
        openCategory(tree, QStringLiteral("High Speed Server"));
        shoot(m_root.get(), QStringLiteral("serverlist-high-speed-") + user);
        auto *search = child<QLineEdit>(page, "editSearch");
        search->setText(QStringLiteral("ger"));
        QTest::qWait(300);
        openCategory(tree, QStringLiteral("Germany"));
        shoot(m_root.get(), QStringLiteral("serverlist-search-") + user);
        search->setText(QStringLiteral("no such place"));
        shoot(m_root.get(), QStringLiteral("serverlist-search-empty-") + user);
        search->clear();
        QTest::qWait(300);
    }

    void connectStates()
    {
        auto *connect = child<ConnectPage>(m_root.get(), "connectPage");
        connect->onStatusChanged(OpenConnectConnection::Connecting);
        for (int i = 0; i < 40; ++i)
            connect->onAnimationTimeout();
        shoot(m_root.get(), QStringLiteral("connect-connecting"));
        m_root->changeBackground(OpenConnectConnection::Connected);
        connect->onStatusChanged(OpenConnectConnection::Connected);
        shoot(m_root.get(), QStringLiteral("connect-connected"));
        showPages(1, 0);
        shoot(m_root.get(), QStringLiteral("menu-connected"));
        showPages(0, 0);
        m_root->changeBackground(OpenConnectConnection::Disconnected);
        connect->onStatusChanged(OpenConnectConnection::Disconnected);
    }

    void popUps()
    {
        answerNextMessage(QMessageBox::No, m_root.get(), QStringLiteral("message-logout"));
        showMessage(QObject::tr("Do you want to log out?"), QMessageBox::Yes | QMessageBox::No);

        auto *toast = new Dialog(QObject::tr("added to favorite locations"), m_root.get());
        toast->show();
        shootScreen(m_root.get(), toast, QStringLiteral("toast"));
        toast->close();

        showPages(8, 0);
        QTest::qWait(500);
        QTest::mousePress(child<QPushButton>(m_left->widget(8), "btnShare"), Qt::LeftButton);
        auto *share = m_left->widget(8)->findChild<SharePanel *>();
        if (!share)
            fail(QStringLiteral("no share panel"));
        shootScreen(m_root.get(), share, QStringLiteral("share-panel"));
        share->close();
        showPages(0, 0);
    }

    void referralRedemption()
    {
        showPages(5, 0);
        QWidget *redeem = m_left->widget(5);
        child<QLineEdit>(redeem, "editCode")->setText(QStringLiteral("VRNDEMO01"));
        shoot(m_root.get(), QStringLiteral("referral-redeem"));
        QTest::mousePress(child<QPushButton>(redeem, "btnSubmit"), Qt::LeftButton);
        if (!QTest::qWaitFor([redeem] { return redeem->findChild<CongratulationsPopup *>() != nullptr; }, 10000))
            fail(QStringLiteral("no pop-up after the redemption"));
        auto *popup = redeem->findChild<CongratulationsPopup *>();
        shootScreen(m_root.get(), popup, QStringLiteral("congratulations"));
        popup->close();
    }

    // The automatic-login page while its login is held back, as after a
    // redeemed code (the login cache emptied).
    void automaticLogin()
    {
        QTest::qWait(500);   // a login that the redemption started is over
        m_backend.delay(QStringLiteral("/api/login.php"), 2000);
        bool shot = false;
        // The request blocks inside the page; the picture is taken meanwhile.
        QTimer::singleShot(900, [this, &shot] {
            save(m_root->grab(), QStringLiteral("autologin"));
            shot = true;
        });
        QMetaObject::invokeMethod(m_root.get(), "refresh");
        if (!QTest::qWaitFor([&] { return shot && m_stack->currentIndex() == 3; }, 20000))
            fail(QStringLiteral("the automatic login failed"));
        m_backend.delay(QStringLiteral("/api/login.php"), 0);
    }

    Backend &m_backend;
    std::unique_ptr<RootWindow> m_root;
    QStackedWidget *m_stack = nullptr;
    QStackedWidget *m_left = nullptr;
    QStackedWidget *m_right = nullptr;
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    // A profile of its own: settings, login cache and runtime files.
    QTemporaryDir sandbox;
    for (const char *sub : {"config", "data", "runtime", "work"})
        QDir(sandbox.path()).mkpath(QLatin1String(sub));
    QFile::setPermissions(sandbox.filePath("runtime"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", sandbox.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", sandbox.filePath("data").toUtf8());
    qputenv("XDG_RUNTIME_DIR", sandbox.filePath("runtime").toUtf8());
    g_out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(g_out);
    QDir::setCurrent(sandbox.filePath("work"));

    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    qRegisterMetaType<OpenConnectConnection::Status>("Status");
    registerFonts(montserratFonts());
    applyStyleSheet(app);

    Backend backend;
    backend.start(sandbox.filePath("certs"));
    // Every address the window uses is the backend's, on loopback.
    qputenv("VARNELVPN_API_BASE", backend.base().toUtf8());
    qputenv("VARNELVPN_CA_FILE", sandbox.filePath("certs/ca.crt").toUtf8());
    qputenv("VARNELVPN_WEB_BASE", backend.base().toUtf8());
    qputenv("VARNELVPN_DOWNLOAD_PROBE", (backend.base() + "/speedtest/download").toUtf8());
    qputenv("VARNELVPN_UPLOAD_PROBE", (backend.base() + "/speedtest/upload").toUtf8());
    qputenv("VARNELVPN_PING_TARGET", "127.0.0.1");
    Config::instance()->load();

    Shots(backend).run();
    return 0;
}
