// Renders the logged-in area as the root window shows it (1080 x 740,
// start-up fonts and style sheet) into PNG files, for looking at the design:
//   varnel-area-shots <output directory>
// Each left page beside the connect page, the connect page while connecting,
// and the share panel. Nothing is connected and no request is made.
#include "startuplook.h"

#include "app/serverpage.h"
#include "backend/user.h"
#include "common/config.h"
#include "pages/connect/connectpage.h"
#include "widgets/sharepanel/sharepanel.h"

#include <QApplication>
#include <QJsonObject>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace Varnel;

namespace {

void save(QWidget *widget, const QString &dir, const QString &name)
{
    QTest::qWait(60);   // the zero-delay refreshes of the shown pages
    saveShot(widget->grab(), dir, name);
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir sandbox;
    qputenv("XDG_CONFIG_HOME", sandbox.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_STATE_HOME", sandbox.filePath(QStringLiteral("state")).toUtf8());
    qputenv("VARNELVPN_API_BASE", "https://127.0.0.1:1");
    QApplication app(argc, argv);
    const QString out = shotsFolder(argc, argv);
    if (out.isEmpty())
        return 2;
    applyStartupLook();

    IPBundleList servers;
    for (const auto &[id, country, code] : {std::make_tuple(1, "Germany", "276"), std::make_tuple(2, "Japan", "392"),
                                            std::make_tuple(3, "Canada", "124")})
        servers << IPBundle::fromJson(QJsonObject{{"ip_id", id}, {"ipName", "Frankfurt"}, {"countryName", country},
                                                  {"countryCode", code}, {"type", 1},
                                                  {"ip", QStringLiteral("127.0.1.%1:1194").arg(id)},
                                                  {"is_fast_server", 1}, {"is_gaming", 1}, {"is_online_stream", 1}});
    User::instance()->setBundles(servers);
    Config::instance()->setFastestServer(QStringLiteral("Germany"));
    Config::instance()->setFastestCountryCode(276);
    Config::instance()->save();

    auto *area = new ServerPage;
    std::unique_ptr<QWidget> host(hostInRootWindowFrame(area));
    auto *left = area->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    for (int i = 0; i < left->count(); ++i) {
        left->setCurrentIndex(i);
        save(host.get(), out, QStringLiteral("area-%1-%2.png").arg(i, 2, 10, QLatin1Char('0')).arg(left->widget(i)->objectName()));
    }
    left->setCurrentIndex(1);
    auto *connectPage = area->findChild<ConnectPage *>(QStringLiteral("connectPage"));
    connectPage->onStatusChanged(OpenConnectConnection::Connecting);
    for (int i = 0; i < 40; ++i)
        connectPage->onAnimationTimeout();
    save(host.get(), out, QStringLiteral("connect-connecting.png"));

    SharePanel share(QStringLiteral("VRNDEMO01"));
    share.show();
    save(&share, out, QStringLiteral("share-panel.png"));
    return 0;
}
