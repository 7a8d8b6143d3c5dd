#include "pages/serverselection/serverselectionpage.h"
#include "ui_serverselectionpage.h"

#include "backend/user.h"
#include "common/config.h"
#include "common/gui/iconcache.h"
#include "common/gui/pageindex.h"
#include "common/gui/lockedserver.h"
#include "common/gui/showrefresh.h"
#include "common/iconnames.h"
#include "widgets/treeitems/treechilditem.h"
#include "widgets/treeitems/treeparentitem.h"

#include <QDebug>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

namespace Varnel {

namespace {

constexpr int kKindRole = ServerTreeItem::KindRole;
constexpr int kRowRole = ServerTreeItem::RecordRole;
constexpr int kCategoryRow = 0;
constexpr int kServerRow = 1;
constexpr int kDebounceMs = 100;

} // namespace

ServerSelectionPage::ServerSelectionPage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ServerSelectionPage>())
{
    ui->setupUi(this);

    m_rebuildTimer = new QTimer(this);
    m_rebuildTimer->setSingleShot(true);
    connect(m_rebuildTimer, &QTimer::timeout, this, &ServerSelectionPage::onFilter);

    ui->searchBar->setMaximumHeight(45);
    showPicture(ui->lblSearchIcon, QStringLiteral(":/img/search.png"), QSize(16, 16));
    ui->editSearch->setAttribute(Qt::WA_MacShowFocusRect, false);
    connect(ui->editSearch, &QLineEdit::textChanged, this, &ServerSelectionPage::onFilterChanged);

    ServerTree *tree = ui->treeServerList;
    tree->setCursor(Qt::PointingHandCursor);
    connect(tree, &QTreeWidget::pressed, this, &ServerSelectionPage::onExpandItem);
    tree->verticalScrollBar()->setSingleStep(7);
    tree->setSelectionMode(QAbstractItemView::NoSelection);
    tree->setMouseTracking(true);
    tree->setRowFactory([this](QTreeWidgetItem *item, QWidget *recycled) { return makeRowWidget(item, recycled); },
                        [this](QTreeWidgetItem *item) { return rowKey(item); });
    tree->setRowDescriber([this](int record, int role) { return describeRow(record, role); });

    // The keyboard: arrows move through the rows (the view's own), Enter,
    // Return or Space act as a press; Left and Right open and close a
    // category, whose arrow follows however it was opened. From the search
    // field, Down goes on into the list. (Tab reaches the list, a click does
    // not take the keyboard from the search field.)
    tree->installEventFilter(this);
    ui->editSearch->installEventFilter(this);
    connect(tree, &QTreeView::expanded, this,
            [this](const QModelIndex &index) { setArrow(ui->treeServerList->itemOf(index), true); });
    connect(tree, &QTreeView::collapsed, this,
            [this](const QModelIndex &index) { setArrow(ui->treeServerList->itemOf(index), false); });

    connect(ui->btnManu, &QPushButton::clicked, this, &ServerSelectionPage::btnManu_clicked);

    refreshOnShow(this, [this] { onFilter(); });
}

ServerSelectionPage::~ServerSelectionPage() = default;

bool ServerSelectionPage::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent *>(event)->key();
    ServerTree *tree = ui->treeServerList;
    if (watched == tree && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)) {
        if (tree->currentIndex().isValid())
            onExpandItem(tree->currentIndex());
        return true;
    }
    if (watched == ui->editSearch && key == Qt::Key_Down && tree->topLevelItemCount() > 0) {
        tree->setFocus(Qt::TabFocusReason);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QString ServerSelectionPage::describeRow(int record, int role) const
{
    if (record < 0 || record >= m_rows.size())
        return QString();
    const Row &row = m_rows.at(record);
    if (role == Qt::AccessibleTextRole)
        return row.bundle ? tr("%1, %2").arg(row.bundle->ipName(), row.bundle->countryName()) : row.title;
    if (!row.bundle)
        return tr("Category");
    return row.bundle->isLocked() ? tr("Server, locked: needs the premium plan") : tr("Server");
}

void ServerSelectionPage::onFilterChanged(QString filterText)
{
    m_filterText = filterText;
    m_rebuildTimer->start(kDebounceMs);
}

void ServerSelectionPage::favoriteButtonChange()
{
    m_rebuildTimer->start(kDebounceMs);
}

void ServerSelectionPage::onFavouriteFilterChanged(bool)
{
    onFilter();
}

void ServerSelectionPage::btnManu_clicked()
{
    emit menueButtonClick();
}

void ServerSelectionPage::on_btnManu_pressed()
{
    emit menueButtonClick();
}

void ServerSelectionPage::onFilter()
{
    ServerTree *tree = ui->treeServerList;
    tree->clear();
    m_rows.clear();
    m_categories.clear();

    const auto config = Config::instance();
    m_bundles = User::instance()->bundles();
    const int count = m_bundles.size();
    const int protocol = config->protocol();
    const QList<int> favourites = config->favourites();

    // One pass decides the search match and the protocol rule of every entry.
    m_matches.fill(false, count);
    m_shown.fill(false, count);
    QVector<int> fast, adBlocking, favourite, gaming, streaming;
    for (int i = 0; i < count; ++i) {
        const IPBundle &bundle = *m_bundles.at(i);
        const bool matches = m_filterText.isEmpty()
                             || bundle.countryName().contains(m_filterText, Qt::CaseInsensitive)
                             || bundle.ipName().contains(m_filterText, Qt::CaseInsensitive);
        m_matches[i] = matches;
        m_shown[i] = matches && (protocol == 0 || bundle.type() == protocol);
        if (!matches)
            continue;
        if (bundle.fastServer())
            fast << i;
        if (bundle.adblockerServer())
            adBlocking << i;
        if (favourites.contains(bundle.ipId()))
            favourite << i;
        if (bundle.gamingServer())
            gaming << i;
        if (bundle.streamingServer())
            streaming << i;
    }

    // The fastest-server button reads the store back, so it is saved first.
    const bool fastestSaved = !fast.isEmpty();
    if (fastestSaved) {
        addCategory(tr("High Speed Server"), HighSpeedCategory, fast);
        const IPBundle &fastest = *m_bundles.at(fast.constFirst());
        config->setFastestServer(fastest.countryName());
        config->setFastestCountryCode(fastest.countryCode());
        config->save();
        emit updateHighspeedButton();
    }
    if (!adBlocking.isEmpty())
        addCategory(tr("Ad Blocking Server"), AdBlockingCategory, adBlocking);
    if (!favourite.isEmpty())
        addCategory(tr("Favorite Server"), FavouriteCategory, favourite);
    if (!gaming.isEmpty())
        addCategory(tr("Gaming Server"), GamingCategory, gaming);
    if (!streaming.isEmpty())
        addCategory(tr("Streaming Server"), StreamingCategory, streaming);

    // Countries by name in code-unit order; inside a country the entry that
    // comes last in the list comes first.
    QVector<QString> names(count);
    QVector<int> byCountry(count);
    for (int i = 0; i < count; ++i) {
        names[i] = m_bundles.at(i)->countryName();
        byCountry[i] = i;
    }
    std::sort(byCountry.begin(), byCountry.end(), [&names](int a, int b) {
        const int order = QString::compare(names.at(a), names.at(b), Qt::CaseSensitive);
        return order != 0 ? order < 0 : a > b;
    });
    QVector<int> group;
    for (int start = 0; start < count;) {
        int end = start;
        while (end < count && names.at(byCountry.at(end)) == names.at(byCountry.at(start)))
            ++end;
        group = byCountry.mid(start, end - start);
        addCategory(names.at(byCountry.at(start)), m_bundles.at(group.constFirst())->countryCode(), group);
        start = end;
    }

    tree->addTopLevelItems(m_categories);
    tree->refreshRows();
    // A search that finds nothing says so, instead of an empty panel.
    const bool nothingFound = m_categories.isEmpty() && !m_filterText.isEmpty();
    if (nothingFound)
        ui->lblNoMatch->setText(tr("No server matches \u201C%1\u201D.").arg(m_filterText));
    ui->lblNoMatch->setVisible(nothingFound);
    update();

    recordPages(LeftPage::ServerList);
    // Each save writes the file through to the disk; a second one in the
    // same build would write the same values again.
    if (!fastestSaved)
        config->save();
}

void ServerSelectionPage::addCategory(const QString &title, int code, const QVector<int> &members)
{
    const bool anyShown = std::any_of(members.cbegin(), members.cend(), [this](int i) { return m_shown.at(i); });
    if (!anyShown)
        return;
    if (!m_serverSize.isValid())
        measureRows();

    auto *category = new ServerTreeItem(kCategoryRow, m_rows.size(), m_categorySize);
    Row categoryRow;
    categoryRow.title = title;
    categoryRow.code = code;
    m_rows << categoryRow;

    QList<QTreeWidgetItem *> children;
    const int last = members.size() - 1;
    for (int position = 0; position <= last; ++position) {
        const int i = members.at(position);
        if (!m_shown.at(i))
            continue;
        auto *child = new ServerTreeItem(kServerRow, m_rows.size(), m_serverSize);
        Row row;
        row.bundle = m_bundles.at(i);
        row.first = position == 0;
        row.last = position == last;
        m_rows << row;
        children << child;
    }
    category->addChildren(children);
    m_categories << category;
}

// Row heights are known before any row widget exists: one sample of each
// row form, made inside the tree so the same style sheets apply.
void ServerSelectionPage::measureRows()
{
    QWidget *viewport = ui->treeServerList->viewport();
    TreeParentItem category(QStringLiteral("Sample"), FavouriteCategory, viewport);
    category.ensurePolished();
    m_categorySize = QSize(0, category.sizeHint().height());
    TreeChildItem server(true, true, nullptr, viewport);
    server.ensurePolished();
    m_serverSize = QSize(0, server.sizeHint().height());
}

// Rows that would be built alike share a key: same category, or the same
// server at the same position in the same list.
QString ServerSelectionPage::rowKey(QTreeWidgetItem *item) const
{
    const int index = item->data(0, kRowRole).toInt();
    if (index < 0 || index >= m_rows.size())
        return QString();
    const Row &row = m_rows.at(index);
    if (!row.bundle)
        return QStringLiteral("c%1:").arg(row.code) + row.title;
    return QStringLiteral("s%1:%2%3").arg(quintptr(row.bundle.get())).arg(int(row.first)).arg(int(row.last));
}

QWidget *ServerSelectionPage::makeRowWidget(QTreeWidgetItem *item, QWidget *recycled)
{
    const int index = item->data(0, kRowRole).toInt();
    if (index < 0 || index >= m_rows.size())
        return nullptr;
    const Row &row = m_rows.at(index);
    if (recycled) {
        // The row's look is settled again when it is shown.
        if (auto *category = qobject_cast<TreeParentItem *>(recycled))
            category->setArrowExpanded(item->isExpanded());
        return recycled;
    }
    // Made inside the viewport, so the style sheets are resolved once, for
    // the place the row is shown in.
    QWidget *viewport = ui->treeServerList->viewport();
    if (item->data(0, kKindRole).toInt() == kCategoryRow) {
        auto *widget = new TreeParentItem(row.title, row.code, viewport);
        if (item->isExpanded())
            widget->setArrowExpanded(true);
        return widget;
    }
    auto *widget = new TreeChildItem(row.first, row.last, row.bundle, viewport);
    connect(widget, &TreeChildItem::favoriteButtonClick, this, [this] {
        qDebug() << "TreeChild item chiled:::";
        onFilter();
    });
    return widget;
}

void ServerSelectionPage::setArrow(QTreeWidgetItem *item, bool expanded)
{
    if (auto *widget = qobject_cast<TreeParentItem *>(ui->treeServerList->itemWidget(item, 0)))
        widget->setArrowExpanded(expanded);
}

void ServerSelectionPage::onExpandItem(QModelIndex index)
{
    ServerTree *tree = ui->treeServerList;
    QTreeWidgetItem *item = tree->itemOf(index);
    const int rowIndex = index.data(kRowRole).toInt();
    if (!item || rowIndex < 0 || rowIndex >= m_rows.size())
        return;

    if (index.data(kKindRole).toInt() == kServerRow) {
        // The row's own record, not its widget: the build may change under
        // the message box's event loop.
        const std::shared_ptr<IPBundle> bundle = m_rows.at(rowIndex).bundle;
        if (offerPurchaseIfLocked(*bundle, [this] { emit paymentPageRequest(); }))
            return;
        const auto config = Config::instance();
        config->setActiveServer(bundle->ipId());
        config->save();
        emit connectUiAndConnect();
        return;
    }

    if (item->isExpanded()) {
        setArrow(item, false);
        tree->collapseItem(item);
    } else if (m_filterText.isEmpty()) {
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            setArrow(tree->topLevelItem(i), false);
        tree->collapseAll();
        tree->expandItem(item);
        setArrow(item, true);
    } else {
        tree->expandItem(item);
        setArrow(item, true);
    }
}

} // namespace Varnel
