// The information pages and the share panel: every link they open (caught
// before any browser starts) and the newsletter subscription against the
// reference backend over HTTPS on loopback.
#include "backendpagetest.h"
#include "child.h"
#include "messagecatcher.h"
#include "openedlinks.h"

#include "backend/user.h"
#include "common/gui/linkopener.h"
#include "pages/about/aboutuspage.h"
#include "pages/more/varnelmorepage.h"
#include "pages/support/supportpage.h"
#include "tools/refbackend/routes.h"
#include "widgets/payment/package.h"
#include "widgets/sharepanel/sharepanel.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

using namespace Varnel;
namespace Routes = Varnel::RefBackend::Routes;

class InfoPagesTest : public BackendPageTest
{
    Q_OBJECT

    OpenedLinks m_links;

private slots:
    void initTestCase()
    {
        qputenv("VARNELVPN_WEB_BASE", "https://127.0.0.1:9/");
        BackendPageTest::initTestCase();
    }
    void init()
    {
        BackendPageTest::init();
        m_links.urls.clear();
    }

    void links_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("url");
        // The account's contact_email is the user's own address: not where support is.
        QTest::newRow("mail to support") << "support" << "btnMail"
                                         << "mailto:support@varnelvpn.com?subject=VarnelVPN desktop support";
        QTest::newRow("chat") << "support" << "btnChat" << "https://127.0.0.1:9/support/chat";
        QTest::newRow("help") << "support" << "btnHelp" << "https://127.0.0.1:9/help";
        QTest::newRow("browser") << "more" << "btnBrowser" << "https://127.0.0.1:9/products/browser";
        QTest::newRow("passwords") << "more" << "btnPasswords" << "https://127.0.0.1:9/products/passwords";
        QTest::newRow("phones") << "more" << "btnMobile" << "https://127.0.0.1:9/products/mobile";
        QTest::newRow("review") << "about" << "btnReview" << "https://127.0.0.1:9/review";
        QTest::newRow("updates") << "about" << "btnUpdate" << "https://127.0.0.1:9/download";
        QTest::newRow("facebook page") << "about" << "btnFacebook" << "https://www.facebook.com/varnelvpn";
        QTest::newRow("x page") << "about" << "btnX" << "https://x.com/varnelvpn";
        QTest::newRow("instagram page") << "about" << "btnInstagram" << "https://www.instagram.com/varnelvpn";
    }
    void links()
    {
        QFETCH(QString, page);
        QFETCH(QString, button);
        QFETCH(QString, url);
        User::instance()->setContactEmail(QStringLiteral("user@varnel.test"));
        std::unique_ptr<QWidget> widget;
        if (page == QLatin1String("support"))
            widget = std::make_unique<SupportPage>();
        else if (page == QLatin1String("more"))
            widget = std::make_unique<VarnelMorePage>();
        else
            widget = std::make_unique<AboutUsPage>();
        child<QPushButton>(widget.get(), qPrintable(button))->click();
        QCOMPARE(m_links.urls.size(), 1);
        QCOMPARE(m_links.urls.constFirst().toString(QUrl::FullyDecoded), url);
    }

    // A link that nothing opens (no xdg-open, or one that finds no program
    // for it) says so, with the address to copy: a mail link's address, any
    // other link whole (a checkout link with its token).
    void unopenedLinkShowsItsAddress_data()
    {
        QTest::addColumn<QString>("opener");   // the xdg-open on the path: its exit code, or none
        QTest::addColumn<QString>("press");
        QTest::addColumn<QString>("address");
        QTest::newRow("support mail, no program for mail") << "exit 3" << "btnMail" << "support@varnelvpn.com";
        QTest::newRow("updates, the browser failed") << "exit 4" << "btnUpdate" << "https://127.0.0.1:9/download";
        QTest::newRow("checkout, no xdg-open") << "" << "Package" << "https://127.0.0.1:9/checkout/monthly?authToken=";
        QTest::newRow("opened: nothing said") << "exit 0" << "btnHelp" << "";
    }
    void unopenedLinkShowsItsAddress()
    {
        QFETCH(QString, opener);
        QFETCH(QString, press);
        QFETCH(QString, address);
        QTemporaryDir bin;
        if (!opener.isEmpty()) {
            QFile program(bin.filePath(QStringLiteral("xdg-open")));
            QVERIFY(program.open(QIODevice::WriteOnly));
            program.write("#!/bin/sh\necho \"xdg-open: no method available for opening '$1'\" >&2\n" + opener.toUtf8() + "\n");
            program.close();
            QVERIFY(program.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        User::instance()->setWebPaymentPortalUrl(QStringLiteral("https://127.0.0.1:9"));
        MessageCatcher boxes;
        {
            LinkOpener links;
            SupportPage support;
            AboutUsPage about;
            Package package(QJsonObject{{"id", "monthly"}, {"name", "Monthly"}});
            if (press == QLatin1String("Package"))
                QTest::mousePress(&package, Qt::LeftButton);
            else
                child<QPushButton>(press == QLatin1String("btnUpdate") ? static_cast<QWidget *>(&about) : &support,
                                   qPrintable(press))
                    ->click();
            if (address.isEmpty())
                QTest::qWait(500);
            else
                QTRY_COMPARE(boxes.addresses().size(), 1);
        }
        qputenv("PATH", path);
        m_links.install();
        QCOMPARE(boxes.addresses().size(), address.isEmpty() ? 0 : 1);
        if (!address.isEmpty())
            QVERIFY2(boxes.addresses().constFirst().startsWith(address), qPrintable(boxes.addresses().constFirst()));
    }

    // Every way of sharing carries the code (and codes with characters that
    // mean something in an address arrive whole).
    void shareLinksCarryTheCode_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("item");
        QTest::newRow("mail") << "btnMail" << "" << "body";
        QTest::newRow("facebook") << "btnFacebook" << "www.facebook.com" << "u";
        QTest::newRow("x") << "btnX" << "x.com" << "text";
        QTest::newRow("whatsapp") << "btnWhatsApp" << "wa.me" << "text";
        QTest::newRow("telegram") << "btnTelegram" << "t.me" << "url";
    }
    void shareLinksCarryTheCode()
    {
        QFETCH(QString, button);
        QFETCH(QString, host);
        QFETCH(QString, item);
        const QString code = QStringLiteral("VRN+A&B=1");
        SharePanel panel(code);
        QCOMPARE(child<QLabel>(&panel, "lblCode")->text(), code);
        child<QPushButton>(&panel, qPrintable(button))->click();
        QCOMPARE(m_links.urls.size(), 1);
        const QUrl url = m_links.urls.constFirst();
        QCOMPARE(url.host(), host);
        const QString value = QUrlQuery(url).queryItemValue(item, QUrl::FullyDecoded);
        const QString signup = QStringLiteral("https://127.0.0.1:9/signup?ref=VRN%2BA%26B%3D1");
        QVERIFY2(value.contains(signup) || QUrl(value).toString(QUrl::FullyEncoded) == signup, qPrintable(value));
    }

    void subscribe_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("requests");
        QTest::newRow("subscribed") << "reader@varnel.test" << "" << "You are subscribed now!" << 1;
        QTest::newRow("empty: nothing sent") << "  " << "" << "Invalid Email!" << 0;
        QTest::newRow("refused: the backend's words") << "not-an-address" << "" << "" << 1;
        QTest::newRow("backend closes") << "reader@varnel.test" << "close" << "Network request error" << 1;
    }
    void subscribe()
    {
        QFETCH(QString, address);
        QFETCH(QString, fault);
        QFETCH(QString, message);
        QFETCH(int, requests);
        // A logged-in client knows its endpoints; the subscription fetches none.
        QVERIFY(loginAs(QStringLiteral("premium.user"), QStringLiteral("premium-pass")));
        if (!fault.isEmpty())
            QVERIFY(m_backend.setFault(QLatin1String(Routes::kSubscribe), fault));
        AboutUsPage page;
        page.show();
        MessageCatcher boxes;
        auto *edit = child<QLineEdit>(&page, "editEmail");
        auto *button = child<QPushButton>(&page, "btnSubscribe");
        edit->setText(address);
        button->click();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts().size(), 1, 15000);
        QVERIFY(!boxes.texts().constFirst().isEmpty());
        if (!message.isEmpty())
            QCOMPARE(boxes.texts().constFirst(), message);
        // (Qt's network layer may send a request again on a closed connection.)
        QCOMPARE(m_backend.count(QLatin1String(Routes::kSubscribe)) > 0, requests > 0);
        QCOMPARE(button->text(), QStringLiteral("Subscribe"));
        QVERIFY(button->isEnabled() && edit->isEnabled());
        QCOMPARE(edit->text().isEmpty(), message == QLatin1String("You are subscribed now!"));
    }
};

QTEST_MAIN(InfoPagesTest)
#include "tst_infopages.moc"
