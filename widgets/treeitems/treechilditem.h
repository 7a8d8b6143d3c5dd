#pragma once

#include "backend/ipbundle.h"

#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class TreeChildItem;
}

// A server row of the server tree: location pin, the server's name, a lock
// for servers the plan does not cover and the favourite star. Its corners
// follow its position in the category's list.
class TreeChildItem : public QWidget
{
    Q_OBJECT
public:
    TreeChildItem(bool isFirst, bool isLast, std::shared_ptr<IPBundle> bundle, QWidget *parent = nullptr);
    ~TreeChildItem() override;

    std::shared_ptr<IPBundle> bundle() const { return m_bundle; }
    bool isFirst() const { return m_isFirst; }
    bool isLast() const { return m_isLast; }

signals:
    void favoriteButtonClick();

private slots:
    void on_btnFavorite_clicked();

protected:
    // Draws the style-sheet background (radius, hover colour).
    void paintEvent(QPaintEvent *event) override;

private:
    void refreshAppearance();
    void setStar(bool favourite);

    std::unique_ptr<Ui::TreeChildItem> ui;
    std::shared_ptr<IPBundle> m_bundle;
    bool m_isFirst;
    bool m_isLast;
};

} // namespace Varnel
