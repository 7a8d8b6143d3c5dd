#pragma once

#include <QString>
#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class TreeParentItem;
}

// A category row of the server tree: icon, elided title and an arrow that
// turns while the category is open.
class TreeParentItem : public QWidget
{
    Q_OBJECT
public:
    TreeParentItem(const QString &title, int code, QWidget *parent = nullptr);
    ~TreeParentItem() override;

    void setArrowExpanded(bool expanded);
    QString title() const { return m_title; }

private:
    std::unique_ptr<Ui::TreeParentItem> ui;
    QString m_title;
};

} // namespace Varnel
