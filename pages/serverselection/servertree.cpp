#include "pages/serverselection/servertree.h"

#include <QScrollBar>
#include <QStyledItemDelegate>

namespace Varnel {

// The view hands the widgets of a cleared tree to its delegate to be
// destroyed; the widgets of the rows that the next build shows again (the
// same categories, mostly) are kept instead.
class RowRecycler : public QStyledItemDelegate
{
public:
    explicit RowRecycler(ServerTree *tree) : QStyledItemDelegate(tree), m_tree(tree) {}

    void destroyEditor(QWidget *editor, const QModelIndex &index) const override
    {
        if (!m_tree->keepForReuse(editor))
            QStyledItemDelegate::destroyEditor(editor, index);
    }

private:
    ServerTree *m_tree;
};

namespace {

// Rows made beyond each edge of the view, so a short scroll finds them ready.
constexpr int kAheadRows = 2;
// Widgets further out of view than this many view heights are released.
constexpr int kKeepScreens = 1;
// Spare widgets kept from one build for the next.
constexpr int kSpareRows = 48;

} // namespace

QVariant ServerTreeItem::describe(int role) const
{
    const auto *tree = static_cast<const ServerTree *>(treeWidget());
    return tree ? tree->describeRow(m_record, role) : QString();
}

ServerTree::ServerTree(QWidget *parent)
    : QTreeWidget(parent)
{
    setItemDelegate(new RowRecycler(this));
    m_currentRing = new QWidget(viewport());
    m_currentRing->setObjectName(QStringLiteral("currentRing"));
    m_currentRing->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_currentRing->setAttribute(Qt::WA_StyledBackground);
    m_currentRing->setStyleSheet(QStringLiteral("#currentRing { background: transparent; "
                                                "border: 2px solid #BF1E2E; border-radius: 8px; }"));
    m_currentRing->hide();
    // A reset (clear) releases every widget through the view itself; the
    // spares of the build before that one were not wanted again.
    connect(model(), &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_withWidget.clear();
        for (QWidget *widget : qAsConst(m_spare)) {
            m_keyOf.remove(widget);
            widget->deleteLater();
        }
        m_spare.clear();
    });
    connect(model(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &parent, int first, int last) {
                for (int row = first; row <= last; ++row) {
                    QTreeWidgetItem *item = itemFromIndex(model()->index(row, 0, parent));
                    if (!item)
                        continue;
                    m_withWidget.remove(item);
                    for (int i = 0; i < item->childCount(); ++i)
                        m_withWidget.remove(item->child(i));
                }
            });
}

// The model outlives this part of the object and resets while it goes.
ServerTree::~ServerTree()
{
    disconnect(model(), nullptr, this, nullptr);
}

void ServerTree::setRowFactory(RowFactory factory, RowKey key)
{
    m_factory = std::move(factory);
    m_key = std::move(key);
}

bool ServerTree::keepForReuse(QWidget *widget)
{
    const QString key = m_keyOf.value(widget);
    if (key.isEmpty() || m_spare.size() >= kSpareRows) {
        m_keyOf.remove(widget);
        return false;
    }
    widget->hide();
    m_spare.insert(key, widget);
    return true;
}

void ServerTree::refreshRows()
{
    executeDelayedItemsLayout();
    syncRowWidgets();
}

void ServerTree::updateGeometries()
{
    QTreeWidget::updateGeometries();
    syncRowWidgets();
}

void ServerTree::scrollContentsBy(int dx, int dy)
{
    QTreeWidget::scrollContentsBy(dx, dy);
    syncRowWidgets();
}

void ServerTree::showEvent(QShowEvent *event)
{
    QTreeWidget::showEvent(event);
    refreshRows();
}

void ServerTree::focusInEvent(QFocusEvent *event)
{
    QTreeWidget::focusInEvent(event);
    // Arriving by keyboard on a list with no current row: the first one.
    if (!currentIndex().isValid() && topLevelItemCount() > 0)
        setCurrentItem(topLevelItem(0));
    placeCurrentRing();
}

void ServerTree::focusOutEvent(QFocusEvent *event)
{
    QTreeWidget::focusOutEvent(event);
    placeCurrentRing();
}

void ServerTree::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTreeWidget::currentChanged(current, previous);
    placeCurrentRing();
}

void ServerTree::placeCurrentRing()
{
    const QRect row = currentIndex().isValid() ? visualRect(currentIndex()) : QRect();
    if (!hasFocus() || !row.isValid()) {
        m_currentRing->hide();
        return;
    }
    m_currentRing->setGeometry(QRect(0, row.top(), viewport()->width(), row.height()).adjusted(1, 1, -1, -1));
    m_currentRing->show();
    m_currentRing->raise();
}

void ServerTree::releaseRowWidget(QTreeWidgetItem *item)
{
    // The view deletes it later (it may be the sender of the signal that
    // got us here); hidden now so it is never painted in a stale place.
    if (QWidget *widget = itemWidget(item, 0)) {
        widget->hide();
        m_keyOf.remove(widget);
    }
    removeItemWidget(item, 0);
    m_withWidget.remove(item);
}

void ServerTree::syncRowWidgets()
{
    if (m_syncing || !m_factory || !isVisible())
        return;
    m_syncing = true;

    const int height = viewport()->height();
    const int keep = height * kKeepScreens;

    // Release first, so the count never grows beyond the rows kept.
    const QList<QTreeWidgetItem *> live = m_withWidget.values();
    for (QTreeWidgetItem *item : live) {
        const QRect rect = visualItemRect(item);
        if (!rect.isValid() || rect.bottom() < -keep || rect.top() > height + keep)
            releaseRowWidget(item);
    }

    // Rows first, widgets after: a new widget asks for a relayout, which
    // the next walking step would otherwise run at once.
    QList<QTreeWidgetItem *> missing;
    QModelIndex index = indexAt(QPoint(0, 0));
    for (int i = 0; i < kAheadRows && index.isValid(); ++i) {
        const QModelIndex above = indexAbove(index);
        if (!above.isValid())
            break;
        index = above;
    }
    int belowView = 0;
    for (; index.isValid(); index = indexBelow(index)) {
        if (visualRect(index).top() > height && ++belowView > kAheadRows)
            break;
        QTreeWidgetItem *item = itemFromIndex(index);
        if (!m_withWidget.contains(item))
            missing << item;
    }
    for (QTreeWidgetItem *item : missing) {
        const QString key = m_key ? m_key(item) : QString();
        QWidget *spare = key.isEmpty() ? nullptr : m_spare.take(key);
        if (QWidget *widget = m_factory(item, spare)) {
            m_keyOf.insert(widget, key);
            setItemWidget(item, 0, widget);
            m_withWidget.insert(item);
        }
    }
    placeCurrentRing();
    m_syncing = false;
}

} // namespace Varnel
