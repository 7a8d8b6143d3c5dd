#include "pages/serverselection/servertree.h"

#include <QScrollBar>

namespace Varnel {

namespace {

// Rows made beyond each edge of the view, so a short scroll finds them ready.
constexpr int kAheadRows = 2;
// Widgets further out of view than this many view heights are released.
constexpr int kKeepScreens = 1;

} // namespace

ServerTree::ServerTree(QWidget *parent)
    : QTreeWidget(parent)
{
    // A reset (clear) releases every widget through the view itself.
    connect(model(), &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_withWidget.clear(); });
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

void ServerTree::releaseRowWidget(QTreeWidgetItem *item)
{
    // The view deletes it later (it may be the sender of the signal that
    // got us here); hidden now so it is never painted in a stale place.
    if (QWidget *widget = itemWidget(item, 0))
        widget->hide();
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
        if (QWidget *widget = m_factory(item)) {
            setItemWidget(item, 0, widget);
            m_withWidget.insert(item);
        }
    }
    m_syncing = false;
}

} // namespace Varnel
