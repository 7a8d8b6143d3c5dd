#pragma once

#include <QHash>
#include <QSet>
#include <QTreeWidget>

#include <functional>

namespace Varnel {

// A row of the server tree. Its kind (role Qt::UserRole + 1: 0 category,
// 1 server), the index of its record in the page's current build
// (Qt::UserRole + 2) and its fixed height (Qt::SizeHintRole) are answered
// from members: thousands of rows are made at each build. What screen
// readers read of it (the accessible text and description roles) comes
// from the tree's describer, from the same record.
class ServerTreeItem : public QTreeWidgetItem
{
public:
    static constexpr int KindRole = Qt::UserRole + 1;
    static constexpr int RecordRole = Qt::UserRole + 2;

    ServerTreeItem(int kind, int record, const QSize &size)
        : m_kind(kind), m_record(record), m_size(size) {}

    QVariant data(int column, int role) const override
    {
        if (column == 0) {
            if (role == KindRole)
                return m_kind;
            if (role == RecordRole)
                return m_record;
            if (role == Qt::SizeHintRole)
                return m_size;
            if (role == Qt::AccessibleTextRole || role == Qt::AccessibleDescriptionRole)
                return describe(role);
        }
        return QTreeWidgetItem::data(column, role);
    }

private:
    QVariant describe(int role) const;

    int m_kind;
    int m_record;
    QSize m_size;
};

// The server tree: every row is a tree item, but only the rows in view (and
// a few beyond) carry their row widget. Widgets are made before the view
// paints (after a scroll, a resize, an expand or collapse, a rebuild) and
// released when their row is far out of view, so a list of thousands of
// servers costs no more widgets than fit on the screen.
class ServerTree : public QTreeWidget
{
    Q_OBJECT
public:
    // Makes the row widget of an item, or readies the given recycled one,
    // which was made for a row of the same key; the tree owns the result.
    using RowFactory = std::function<QWidget *(QTreeWidgetItem *item, QWidget *recycled)>;
    // Rows of the same key look alike, so a widget can pass between them.
    using RowKey = std::function<QString(QTreeWidgetItem *item)>;
    // What screen readers read of a row: its accessible text or description
    // (the role), from the index of its record.
    using RowDescriber = std::function<QString(int record, int role)>;

    explicit ServerTree(QWidget *parent = nullptr);
    ~ServerTree() override;

    void setRowFactory(RowFactory factory, RowKey key);
    void setRowDescriber(RowDescriber describer) { m_describer = std::move(describer); }
    QString describeRow(int record, int role) const { return m_describer ? m_describer(record, role) : QString(); }

    // Lays the rows out now and gives the rows in view their widgets; for
    // use right after the items were added.
    void refreshRows();

    QTreeWidgetItem *itemOf(const QModelIndex &index) const { return itemFromIndex(index); }

protected:
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    friend class RowRecycler;

    void syncRowWidgets();
    // The keyboard's row: a ring over the current row while the list has
    // the focus (the rows are widgets that cover the view's own highlight).
    void placeCurrentRing();
    void releaseRowWidget(QTreeWidgetItem *item);
    // Keeps a widget the view lets go at a rebuild for the next build;
    // false when it has to go.
    bool keepForReuse(QWidget *widget);

    RowFactory m_factory;
    RowKey m_key;
    RowDescriber m_describer;
    QWidget *m_currentRing = nullptr;
    QSet<QTreeWidgetItem *> m_withWidget;
    QHash<QWidget *, QString> m_keyOf;
    QMultiHash<QString, QWidget *> m_spare;
    bool m_syncing = false;
};

} // namespace Varnel
