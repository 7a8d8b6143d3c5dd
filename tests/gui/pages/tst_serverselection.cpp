// The server list page with its rows and the toast, over server lists that
// come through the real login: the reference backend over HTTPS on loopback
// (a data file of its own), and a generated 5,000-server reply.
#include "backendpagetest.h"
#include "child.h"
#include "messagecatcher.h"
#include "startuplook.h"

#include "backend/apirequest.h"
#include "backend/user.h"
#include "common/config.h"
#include "common/gui/iconcache.h"
#include "common/gui/showmessage.h"
#include "common/iconnames.h"
#include "common/settingsstore.h"
#include "pages/serverselection/serverselectionpage.h"
#include "pages/serverselection/servertree.h"
#include "servergenerator.h"
#include "widgets/toast/dialog.h"
#include "widgets/treeitems/treechilditem.h"
#include "widgets/treeitems/treeparentitem.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace Varnel;

namespace {

const QString kCategories[] = {QStringLiteral("High Speed Server"), QStringLiteral("Ad Blocking Server"),
                               QStringLiteral("Favorite Server"), QStringLiteral("Gaming Server"),
                               QStringLiteral("Streaming Server")};
const QString kUk = QStringLiteral("The United Kingdom of Great Britain and Northern Ireland");

QImage imageOf(const QWidget *row, const char *label)
{
    return child<QLabel>(row, label)->pixmap(Qt::ReturnByValue).toImage();
}

// A key of the program's settings storage as it was written.
QVariant stored(const QString &key)
{
    QVariant value;
    readSettings([&](QSettings &settings) { value = settings.value(key); });
    return value;
}

} // namespace

class ServerSelectionTest : public BackendPageTest
{
    Q_OBJECT

public:
    // The backend takes the last data file it is given.
    ServerSelectionTest() : BackendPageTest({QStringLiteral("--data"), QStringLiteral(SERVERLIST_DATA)}) {}

private:
    std::unique_ptr<QWidget> m_host;
    ServerSelectionPage *m_page = nullptr;
    MessageCatcher *m_messages = nullptr;

    ServerTree *tree() const { return child<ServerTree>(m_page, "treeServerList"); }

    static void login(const QString &user)
    {
        QVERIFY(loginAs(user, user == QLatin1String("free.user") ? QStringLiteral("free-pass")
                                                                 : QStringLiteral("premium-pass")));
        QVERIFY(!User::instance()->bundles().isEmpty());
    }
    // The page as the server page holds it, shown; the first build follows the show.
    void showPage()
    {
        m_page = new ServerSelectionPage;
        m_messages = new MessageCatcher(m_page);
        m_host.reset(hostInRootWindowFrame(m_page));
        QTRY_VERIFY(tree()->topLevelItemCount() > 0);
    }
    // The list of a user, with a protocol setting and a search text.
    void showListOf(const QString &user, int protocol = 0, const QString &searchText = QString())
    {
        login(user);
        Config::instance()->setProtocol(protocol);
        showPage();
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
    static void press(QWidget *row) { QTest::mousePress(row, Qt::LeftButton, {}, QPoint(8, row->height() / 2)); }
    static QImage arrow(bool expanded)
    {
        return cachedPicture(QStringLiteral(":/img/arrow.png"), QSize(14, 14), expanded ? 90 : 0).toImage();
    }
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
    static int liveRowWidgets(QWidget *page)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return page->findChildren<TreeChildItem *>().size();
    }

private slots:
    void init()
    {
        BackendPageTest::init();
        const auto config = Config::instance();
        config->load();
        for (int id : config->favourites())
            config->removeFavourite(id);
    }
    void cleanup()
    {
        m_host.reset();
        setMainWindow(nullptr);
        BackendPageTest::cleanup();
    }

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
        QTest::newRow("protocol 1") << "" << 1
                                    << QStringList{kCategories[0], kCategories[3], kCategories[4], "Bangladesh",
                                                   "Germany", "Guinea", "Guinea-Bissau", "Niger", "Zambia"};
        for (const char *text : {"ger", "GER", "gEr"})
            QTest::newRow(qPrintable(QStringLiteral("search %1").arg(text)))
                << text << 0
                << QStringList{kCategories[0], kCategories[1], kCategories[3], kCategories[4], "Bangladesh",
                               "Germany", "Niger", "Nigeria"};
        QTest::newRow("search with protocol 2") << "ger" << 2
                                                << QStringList{kCategories[1], kCategories[4], "Bangladesh",
                                                               "Germany", "Nigeria"};
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
        for (const QString &title : expected) {
            for (TreeChildItem *row : servers(title)) {
                QVERIFY(row);
                const auto bundle = row->bundle();
                QVERIFY(protocol == 0 || bundle->type() == protocol);
                QVERIFY(bundle->countryName().contains(searchText, Qt::CaseInsensitive)
                        || bundle->ipName().contains(searchText, Qt::CaseInsensitive));
            }
        }
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
        QTest::newRow("search hides the country's first row")
            << "tiger" << 0 << "Bangladesh" << QStringList{"Tiger Hill"} << QStringList{"m"};
        QTest::newRow("feature list in list order")
            << "" << 0 << kCategories[0] << QStringList{"Sylhet", "Berlin", "London"} << QStringList{"t", "m", "b"};
        QTest::newRow("protocol hides a feature list's first rows")
            << "" << 2 << kCategories[0] << QStringList{"London"} << QStringList{"b"};
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

    void categoryRowsShowTheirPictures()
    {
        showListOf(QStringLiteral("free.user"));
        // The country's icon is that of the bundle listed last.
        const QImage austria = cachedPicture(iconPath(40), QSize(30, 30)).toImage();
        QVERIFY(!austria.isNull());
        QCOMPARE(imageOf(rowWidget(categoryItem("Germany")), "lblCountryIcon"), austria);
        QCOMPARE(imageOf(rowWidget(categoryItem(kCategories[0])), "lblCountryIcon"),
                 cachedPicture(QStringLiteral(":/img/high-speed-server.png"), QSize(30, 30)).toImage());

        // A long title is cut to 200 px with an ellipsis.
        auto *uk = qobject_cast<TreeParentItem *>(rowWidget(categoryItem(kUk)));
        const QLabel *ukTitle = child<QLabel>(uk, "lblCountryName");
        QVERIFY(ukTitle->text().endsWith(QChar(0x2026)));
        QVERIFY(ukTitle->fontMetrics().horizontalAdvance(ukTitle->text()) <= 200);
        QCOMPARE(uk->title(), kUk);
        QCOMPARE(child<QLabel>(rowWidget(categoryItem("Zambia")), "lblCountryName")->text(), QStringLiteral("Zambia"));

        // Locks on the servers the free plan does not cover, and no gap elsewhere.
        for (TreeChildItem *row : servers("Germany"))
            QCOMPARE(child(row, "lblLock")->isVisible(), row->bundle()->ipName() == QLatin1String("Berlin"));
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

        press(servers("Germany").at(2));   // Berlin
        QCOMPARE(qMakePair(connect.count(), payment.count()), qMakePair(connects, payments));
        QCOMPARE(m_messages->texts(), connects ? QStringList{} : QStringList{QStringLiteral(
                     "You are using free version of Varnel VPN.Buy now to unlock all server?")});
        const int active = connects ? 301 : 203;
        QCOMPARE(qMakePair(config->activeServer(), stored(QStringLiteral("ActiveServer")).toInt()),
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
            return item->isExpanded() == open && imageOf(rowWidget(item), "lblArrow") == arrow(open);
        };
        QSignalSpy connect(m_page, &ServerSelectionPage::connectUiAndConnect);

        press(rowWidget(first));
        QVERIFY(isOpen(first, true));
        press(rowWidget(second));
        QVERIFY(isOpen(second, true));
        QVERIFY(isOpen(first, !searchText.isEmpty()));   // the accordion closes it without search text
        press(rowWidget(second));
        QVERIFY(isOpen(second, false));
        QCOMPARE(connect.count(), 0);

        // Every build brings the categories back closed.
        m_page->onFilter();
        for (int i = 0; i < tree()->topLevelItemCount(); ++i)
            QVERIFY(!tree()->topLevelItem(i)->isExpanded());
    }

    // The star of a row: the favourite stored, the star changed in every
    // category after the rebuild, a toast that survives the rebuild for
    // five seconds without taking the keyboard from the search field; the
    // last favourite's removal removes its category.
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
            for (TreeChildItem *row : servers(title))
                QTRY_COMPARE(starOf(row) == starred, row->bundle()->ipId() == 201);
        }

        // The toast outlived the row that raised it.
        const QList<Dialog *> toasts = anchor.findChildren<Dialog *>();
        QCOMPARE(toasts.size(), 1);
        QPointer<Dialog> toast = toasts.constFirst();
        QVERIFY(toast->isVisible());
        QCOMPARE(child<QLabel>(toast, "lblText")->text(), QStringLiteral("added to favorite locations"));
        QCOMPARE(toast->frameGeometry().center(), anchor.mapToGlobal(QPoint(170, 590)));

        // Removing the last favourite removes its category at once.
        QTest::mouseClick(child<QPushButton>(servers(kCategories[2]).at(0), "btnFavorite"), Qt::LeftButton);
        QVERIFY(Config::instance()->favourites().isEmpty());
        QVERIFY(!titles().contains(kCategories[2]));
        QTRY_VERIFY(starOf(servers("Bangladesh").at(2)) == cachedPictureOfHeight(":/img/favourit.png", 15).toImage());
        QCOMPARE(anchor.findChildren<Dialog *>().size(), 2);

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
        QCOMPARE(imageOf(rowWidget(categoryItem(QStringLiteral("Germany"))), "lblArrow"), arrow(true));
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
        QTest::newRow("no match keeps the old values") << false << "zzz" << "Old" << 9 << 0;
        QTest::newRow("empty list keeps the old values") << true << "" << "Old" << 9 << 0;
    }
    void theFastestServerFollowsTheSearch()
    {
        QFETCH(bool, emptyList);
        QFETCH(QString, searchText);
        QFETCH(QString, name);
        QFETCH(int, code);
        QFETCH(int, updates);
        login(QStringLiteral("premium.user"));
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
        QCOMPARE(qMakePair(config->fastestServer(), config->fastestCountryCode()), qMakePair(name, code));
        QCOMPARE(qMakePair(stored("FastestServer").toString(), stored("FastestCountryCode").toInt()),
                 qMakePair(name, code));
        QCOMPARE(tree()->topLevelItemCount() > 0, !emptyList && searchText != QLatin1String("zzz"));
        QCOMPARE(liveRowWidgets(m_page), 0);   // nothing made for a page nobody sees
    }

    // With 5,000 servers only the rows in view and a few spare ones have
    // widgets: after the show, and with the largest category open and
    // scrolled by hand, where every row in view has its widget.
    void fiveThousandServersCostOnlyTheRowsInView()
    {
        const QJsonObject reply{{"response_code", 1}, {"message", "ok"}, {"user_type", 2},
                                {"ip_bundle", RefBackend::ServerGenerator::generate(5000, 1)}};
        QCOMPARE(ApiRequest::instance()->applyLoginReply(QJsonDocument(reply)), 0);
        showPage();
        const int rowHeight = tree()->visualItemRect(tree()->topLevelItem(0)).height();
        QVERIFY(rowHeight > 20);
        const int bound = 3 * tree()->viewport()->height() / rowHeight + 12;
        QVERIFY2(liveRowWidgets(m_page) <= bound, qPrintable(QString::number(liveRowWidgets(m_page))));

        QTreeWidgetItem *fast = tree()->topLevelItem(0);
        QVERIFY(fast->childCount() > 500);
        press(rowWidget(fast));
        QVERIFY(fast->isExpanded());
        tree()->verticalScrollBar()->setValue(tree()->verticalScrollBar()->maximum() / 3);
        for (int y = 0; y < tree()->viewport()->height(); y += rowHeight / 2) {
            if (QTreeWidgetItem *item = tree()->itemAt(QPoint(40, y)))
                QVERIFY(tree()->itemWidget(item, 0));
        }
        QVERIFY(liveRowWidgets(m_page) <= bound);
        int unlocked = fast->childCount() / 3;
        while (server(fast->child(unlocked))->bundle()->isLocked())
            ++unlocked;
        QSignalSpy connect(m_page, &ServerSelectionPage::connectUiAndConnect);
        press(server(fast->child(unlocked)));
        QCOMPARE(connect.count(), 1);
        QCOMPARE(Config::instance()->activeServer(), server(fast->child(unlocked))->bundle()->ipId());
    }
};

QTEST_MAIN(ServerSelectionTest)
#include "tst_serverselection.moc"
