// Renders the server list page to PNG files, for looking at the design:
//   varnel-serverlist-shots <output directory>
// The list comes through a real login from the reference backend on loopback
// (the server-list test's data file): all categories closed, one country
// open, a search, and a free account with its locked servers.
#include "backendpagetest.h"
#include "startuplook.h"

#include "common/config.h"
#include "pages/serverselection/serverselectionpage.h"
#include "pages/serverselection/servertree.h"
#include "widgets/treeitems/treeparentitem.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

namespace {

void open(Varnel::ServerTree *tree, const QString &title)
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = tree->topLevelItem(i);
        tree->scrollToItem(item);
        tree->collapseItem(item);
        auto *row = qobject_cast<Varnel::TreeParentItem *>(tree->itemWidget(item, 0));
        if (row && row->title() == title) {
            QTest::mousePress(row, Qt::LeftButton, {}, QPoint(8, row->height() / 2));
            tree->scrollToItem(item, QAbstractItemView::PositionAtTop);
            return;
        }
    }
}

bool shoot(const QString &user, const QString &password, const QString &out, const QString &prefix)
{
    if (!BackendPageTest::loginAs(user, password)) {
        qWarning("login of %s failed", qPrintable(user));
        return false;
    }
    // The left column of the logged-in area.
    auto *page = new Varnel::ServerSelectionPage;
    QWidget frame;
    frame.setFixedSize(400, 740);
    frame.setStyleSheet(QStringLiteral("background:#FAFAFA;"));
    (new QVBoxLayout(&frame))->addWidget(page);
    frame.layout()->setContentsMargins(0, 0, 0, 0);
    frame.show();
    auto *tree = page->findChild<Varnel::ServerTree *>(QStringLiteral("treeServerList"));
    (void)QTest::qWaitFor([&] { return tree->topLevelItemCount() > 0; });
    const auto save = [&](const char *name) {
        QTest::qWait(50);   // the rows' first-show styling
        saveShot(frame.grab(), out, prefix + QLatin1String(name));
    };
    save("-collapsed.png");
    open(tree, QStringLiteral("Germany"));
    save("-germany-open.png");
    open(tree, QStringLiteral("High Speed Server"));
    save("-high-speed-open.png");
    page->findChild<QLineEdit *>(QStringLiteral("editSearch"))->setText(QStringLiteral("ger"));
    QTest::qWait(200);
    open(tree, QStringLiteral("Germany"));
    save("-search-ger.png");
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString out = shotsFolder(argc, argv);
    if (out.isEmpty())
        return 2;
    ClientSandbox sandbox;
    RefBackendProcess backend;
    if (!backend.start({QStringLiteral("--data"), QStringLiteral(SERVERLIST_DATA)})) {
        qWarning("%s", qPrintable(backend.errorText()));
        return 1;
    }
    sandbox.enter(backend.baseUrl(), backend.caFile());
    useEndpointsAt(backend.baseUrl());
    applyStartupLook();

    // One favourite, so the favourite category and a filled star show.
    Varnel::Config::instance()->addFavourite(302);
    const bool ok = shoot(QStringLiteral("premium.user"), QStringLiteral("premium-pass"), out, QStringLiteral("premium"))
                    && shoot(QStringLiteral("free.user"), QStringLiteral("free-pass"), out, QStringLiteral("free"));
    sandbox.leave();
    return ok ? 0 : 1;
}
