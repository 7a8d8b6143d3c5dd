#pragma once

#include "common/gui/page.h"

#include <QStringList>

#include <memory>

class QTableWidget;

namespace Varnel {

namespace Ui {
class PaymentPage;
}

// The purchase page beside the server list: the packages to buy, the free
// against premium comparison and the list of premium features. Purchases
// happen on the provider's web pages, which the packages open.
class PaymentPage : public Page
{
    Q_OBJECT
public:
    explicit PaymentPage(QWidget *parent = nullptr);
    ~PaymentPage() override;

protected:
    void reload() override;

private:
    void showPackages();

    std::unique_ptr<Ui::PaymentPage> ui;
};

// The comparison table's cells: the decision text split at "~~" and ",".
QStringList decisionCells(const QString &decisionData);
// Fills three columns row by row; cells after the last full row are left
// out, so fewer than three cells give an empty table.
void fillDecisionTable(QTableWidget *table, const QStringList &cells);

} // namespace Varnel
