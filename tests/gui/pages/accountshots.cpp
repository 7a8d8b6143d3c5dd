// Renders the account, payment, referral, voucher and devices pages as the
// logged-in area shows them, filled by the reference backend's demo data,
// into PNG files for design review:
//   varnel-account-shots <output directory>
// Run it on a display (Xvfb) to see the pop-up over its page; offscreen the
// pop-up is saved alone.
#include "backendpagetest.h"
#include "messagecatcher.h"
#include "startuplook.h"

#include "app/serverpage.h"
#include "widgets/congratulations/congratulationspopup.h"
#include "widgets/payment/webpicturelink.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QScreen>
#include <QStackedWidget>
#include <QTest>

using namespace Varnel;

namespace {

QString g_out;

// Waits for the page's requests and pictures (bounded), then saves.
void settleAndSave(QWidget *host, const QString &name, const std::function<bool()> &ready)
{
    if (!QTest::qWaitFor(ready, 10000))
        qWarning("%s: not ready after 10 s", qPrintable(name));
    QTest::qWait(150);
    saveShot(host->grab(), g_out, name);
}

} // namespace

int main(int argc, char *argv[])
{
    ClientSandbox sandbox;
    QApplication app(argc, argv);
    g_out = shotsFolder(argc, argv);
    if (g_out.isEmpty())
        return 2;
    applyStartupLook();

    RefBackendProcess backend;
    if (!backend.start({QStringLiteral("--data"), QStringLiteral(VARNEL_DEMO_DATA)})) {
        qWarning("%s", qPrintable(backend.errorText()));
        return 1;
    }
    sandbox.enter(backend.baseUrl(), backend.caFile());
    // The web pages and the pictures are the backend's too.
    qputenv("VARNELVPN_WEB_BASE", backend.baseUrl().toUtf8());

    // Message boxes would wait for a press; the shots need none.
    MessageCatcher closer;

    for (const auto &account : {qMakePair(QStringLiteral("demo"), QStringLiteral("demo123")),
                                qMakePair(QStringLiteral("card"), QStringLiteral("card123")),
                                qMakePair(QStringLiteral("free"), QStringLiteral("free123"))}) {
        if (!BackendPageTest::loginAs(account.first, account.second))
            qFatal("login as %s failed", qPrintable(account.first));
        auto *area = new ServerPage;
        std::unique_ptr<QWidget> host(hostInRootWindowFrame(area));
        auto *left = area->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        auto *right = area->findChild<QStackedWidget *>(QStringLiteral("stackedWidget_2"));
        left->setCurrentIndex(2);
        settleAndSave(host.get(), QStringLiteral("account-%1.png").arg(account.first), [] { return true; });
        left->setCurrentIndex(1);
        settleAndSave(host.get(), QStringLiteral("menu-%1.png").arg(account.first), [] { return true; });
        if (account.first != QLatin1String("demo"))
            continue;

        right->setCurrentIndex(1);
        settleAndSave(host.get(), QStringLiteral("payment.png"), [area] {
            auto *features = area->findChild<AccoutBottomButton *>();
            return features && features->findChild<QLabel *>(QStringLiteral("lblPicture"))->isVisible();
        });
        auto *scroll = right->widget(1)->findChild<QScrollArea *>();
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        settleAndSave(host.get(), QStringLiteral("payment-bottom.png"), [] { return true; });
        right->setCurrentIndex(0);

        left->setCurrentIndex(8);
        settleAndSave(host.get(), QStringLiteral("refer-friend.png"), [left] {
            return !left->widget(8)->findChild<QLineEdit *>(QStringLiteral("editCode"))->text().isEmpty();
        });
        left->setCurrentIndex(11);
        left->widget(11)->findChild<QLineEdit *>(QStringLiteral("editCode"))->setText(QStringLiteral("PREMIUM-30-A"));
        settleAndSave(host.get(), QStringLiteral("voucher.png"), [] { return true; });
        left->setCurrentIndex(10);
        settleAndSave(host.get(), QStringLiteral("devices.png"), [left] {
            return left->widget(10)->findChildren<QWidget *>(QStringLiteral("Varnel__DeviceWidget")).size() >= 5;
        });
    }

    // The free account redeems the demo account's code: the pop-up over the page.
    BackendPageTest::loginAs(QStringLiteral("friend"), QStringLiteral("friend123"));
    auto *area = new ServerPage;
    std::unique_ptr<QWidget> host(hostInRootWindowFrame(area));
    auto *left = area->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    left->setCurrentIndex(5);
    QWidget *redeem = left->widget(5);
    redeem->findChild<QLineEdit *>(QStringLiteral("editCode"))->setText(QStringLiteral("VRNDEMO01"));
    settleAndSave(host.get(), QStringLiteral("referral-redeem.png"), [] { return true; });
    QTest::mousePress(redeem->findChild<QPushButton *>(QStringLiteral("btnSubmit")), Qt::LeftButton);
    if (!QTest::qWaitFor([redeem] { return redeem->findChild<CongratulationsPopup *>() != nullptr; }, 10000))
        qFatal("no pop-up after the redemption");
    auto *popup = redeem->findChild<CongratulationsPopup *>();
    QTest::qWait(300);
    saveShot(popup->grab(), g_out, QStringLiteral("congratulations.png"));
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        host->raise();
        popup->raise();
        QTest::qWait(300);
        const QRect frame = host->frameGeometry();
        saveShot(QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()),
                 g_out, QStringLiteral("referral-redeem-popup.png"));
    }
    return 0;
}
