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
#include <QDir>
#include <QJsonObject>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace Varnel;

namespace {

void save(QWidget *widget, const QString &dir, const QString &name)
{
    QTest::qWait(60);   // the zero-delay refreshes of the shown pages
    const QString file = QDir(dir).filePath(name);
    if (widget->grab().save(file))
        qInfo("%s", qPrintable(file));
    else
        qWarning("could not write %s", qPrintable(file));
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir sandbox;
    qputenv("XDG_CONFIG_HOME", sandbox.filePath(QStringLiteral("config")).toUtf8());
    qputenv("VARNELVPN_API_BASE", "https://127.0.0.1:1");
    QApplication app(argc, argv);
    if (argc < 2) {
        qWarning("usage: varnel-area-shots <output directory>");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);
    applyStartupLook();

    IPBundleList servers;
    int id = 1;
    for (const char *country : {"Germany", "Japan", "Canada"}) {
        servers << IPBundle::fromJson(QJsonObject{{"ip_id", id}, {"ipName", "Frankfurt"}, {"countryName", country},
                                                  {"countryCode", id == 1 ? "276" : (id == 2 ? "392" : "124")},
                                                  {"ip", QStringLiteral("127.0.1.%1:1194").arg(id)}, {"type", 1},
                                                  {"is_fast_server", 1}, {"is_gaming", 1}, {"is_online_stream", 1}});
        ++id;
    }
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
