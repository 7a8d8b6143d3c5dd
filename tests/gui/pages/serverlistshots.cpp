// Renders the server list page to PNG files, for looking at the design:
//   varnel-serverlist-shots <output directory>
// The list comes through a real login from the reference backend on loopback
// (the server-list test's data file): all categories closed, one country
// open, a search, and a free account with its locked servers.
#include "startuplook.h"

#include "endpointsetup.h"
#include "integration/backend/backendtest.h"

#include "backend/apirequest.h"
#include "common/config.h"
#include "pages/serverselection/serverselectionpage.h"
#include "pages/serverselection/servertree.h"
#include "widgets/treeitems/treeparentitem.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

namespace {

void save(QWidget *host, const QString &dir, const QString &name)
{
    QTest::qWait(50);   // the rows' first-show styling
    const QString file = QDir(dir).filePath(name);
    if (host->grab().save(file))
        qInfo("%s", qPrintable(file));
    else
        qWarning("could not write %s", qPrintable(file));
}

// The left column of the logged-in area.
QWidget *host(Varnel::ServerSelectionPage *page)
{
    auto *frame = new QWidget;
    frame->setFixedSize(400, 740);
    frame->setStyleSheet(QStringLiteral("background:#FAFAFA;"));
    auto *layout = new QVBoxLayout(frame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page);
    frame->show();
    return frame;
}

void open(Varnel::ServerSelectionPage *page, const QString &title)
{
    auto *tree = page->findChild<Varnel::ServerTree *>(QStringLiteral("treeServerList"));
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
    if (Varnel::ApiRequest::instance()->login(user, password) != 0) {
        qWarning("login of %s failed", qPrintable(user));
        return false;
    }
    auto *page = new Varnel::ServerSelectionPage;
    std::unique_ptr<QWidget> frame(host(page));
    auto *tree = page->findChild<Varnel::ServerTree *>(QStringLiteral("treeServerList"));
    (void)QTest::qWaitFor([&] { return tree->topLevelItemCount() > 0; });
    save(frame.get(), out, prefix + QStringLiteral("-collapsed.png"));
    open(page, QStringLiteral("Germany"));
    save(frame.get(), out, prefix + QStringLiteral("-germany-open.png"));
    open(page, QStringLiteral("High Speed Server"));
    save(frame.get(), out, prefix + QStringLiteral("-high-speed-open.png"));
    page->findChild<QLineEdit *>(QStringLiteral("editSearch"))->setText(QStringLiteral("ger"));
    QTest::qWait(200);
    open(page, QStringLiteral("Germany"));
    save(frame.get(), out, prefix + QStringLiteral("-search-ger.png"));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        qWarning("usage: varnel-serverlist-shots <output directory>");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);

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
