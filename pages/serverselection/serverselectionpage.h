#pragma once

#include "backend/ipbundle.h"

#include <QModelIndex>
#include <QString>
#include <QVector>
#include <QWidget>

#include <memory>

class QTimer;
class QTreeWidgetItem;

namespace Varnel {

namespace Ui {
class ServerSelectionPage;
}

// The server list: feature categories and one category per country, each
// with a row per server, narrowed by the search text and the protocol
// setting. Pressing a server row makes it the active server and asks for a
// connection; pressing a locked one offers the purchase page.
class ServerSelectionPage : public QWidget
{
    Q_OBJECT
public:
    explicit ServerSelectionPage(QWidget *parent = nullptr);
    ~ServerSelectionPage() override;

signals:
    void connectUiAndConnect();
    void logout();
    void paymentPageRequest();
    void filterChanged();
    void updateHighspeedButton();
    void menueButtonClick();
    void autoConncet();

public slots:
    void onExpandItem(QModelIndex index);
    void onFilterChanged(QString filterText);
    void onFilter();
    void onFavouriteFilterChanged(bool favourite);
    void favoriteButtonChange();
    void btnManu_clicked();
    void on_btnManu_pressed();

protected:
    // The list's keyboard (Enter, Return, Space) and Down from the search field.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What a row's widget is made from; each tree item keeps the index of
    // its row in the current build.
    struct Row {
        std::shared_ptr<IPBundle> bundle;   // null for a category row
        QString title;
        int code = 0;
        bool first = false;
        bool last = false;
    };

    // members: positions in m_bundles, in the order the category lists them.
    void addCategory(const QString &title, int code, const QVector<int> &members);
    QWidget *makeRowWidget(QTreeWidgetItem *item, QWidget *recycled);
    QString rowKey(QTreeWidgetItem *item) const;
    QString describeRow(int record, int role) const;
    void measureRows();
    void setArrow(QTreeWidgetItem *item, bool expanded);

    std::unique_ptr<Ui::ServerSelectionPage> ui;
    QString m_filterText;
    QTimer *m_rebuildTimer = nullptr;

    // The current build: the server list it was made from, which entries
    // pass the search text and which the protocol setting, and the rows.
    IPBundleList m_bundles;
    QVector<bool> m_matches;
    QVector<bool> m_shown;
    QVector<Row> m_rows;
    QList<QTreeWidgetItem *> m_categories;
    QSize m_categorySize;
    QSize m_serverSize;
};

} // namespace Varnel
