#include "pages/payment/paymentpage.h"
#include "ui_paymentpage.h"

#include "backend/user.h"
#include "widgets/payment/package.h"
#include "widgets/payment/webpicturelink.h"

#include <QDebug>
#include <QHeaderView>
#include <QRegularExpression>
#include <QTableWidget>

namespace Varnel {

namespace {

constexpr int kColumns = 3;
constexpr int kPremiumColumn = 2;
const QColor kPremiumColour(255, 159, 81);
const QColor kTextColour(0x43, 0x43, 0x43);

// Removes and deletes every widget a layout holds.
void clearLayout(QLayout *layout)
{
    while (QLayoutItem *item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

} // namespace

QStringList decisionCells(const QString &decisionData)
{
    return decisionData.split(QRegularExpression(QStringLiteral("~~|,")));
}

void fillDecisionTable(QTableWidget *table, const QStringList &cells)
{
    const int rows = cells.size() / kColumns;
    table->clearContents();
    table->setColumnCount(kColumns);
    table->setRowCount(rows);
    table->setHorizontalHeaderLabels({QCoreApplication::translate("Varnel::PaymentPage", "Feature"),
                                      QCoreApplication::translate("Varnel::PaymentPage", "Free"),
                                      QCoreApplication::translate("Varnel::PaymentPage", "Premium")});
    for (int column = 0; column < kColumns; ++column)
        table->horizontalHeaderItem(column)->setForeground(column == kPremiumColumn ? kPremiumColour : kTextColour);
    for (int i = 0; i < rows * kColumns; ++i) {
        auto *item = new QTableWidgetItem(cells.at(i));
        item->setTextAlignment(Qt::AlignCenter);
        if (i % kColumns == kPremiumColumn)
            item->setForeground(kPremiumColour);
        table->setItem(i / kColumns, i % kColumns, item);
    }
}

PaymentPage::PaymentPage(QWidget *parent)
    : Page(parent)
    , ui(std::make_unique<Ui::PaymentPage>())
{
    ui->setupUi(this);
    setBackButton(ui->btnBack);
    QHeaderView *header = ui->tableWidget->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Stretch);
    header->setDefaultAlignment(Qt::AlignCenter);
    ui->tableWidget->verticalHeader()->hide();
}

PaymentPage::~PaymentPage() = default;

void PaymentPage::reload()
{
    const QStringList cells = decisionCells(User::instance()->decisionData());
    qDebug() << cells;
    fillDecisionTable(ui->tableWidget, cells);
    // The table shows all its rows; the page scrolls instead.
    QTableWidget *table = ui->tableWidget;
    int height = table->horizontalHeader()->height() + 2 * table->frameWidth();
    for (int row = 0; row < table->rowCount(); ++row)
        height += table->rowHeight(row);
    table->setFixedHeight(height);
    table->setVisible(table->rowCount() > 0);
    ui->lblCompare->setVisible(table->rowCount() > 0);
    showPackages();
}

void PaymentPage::showPackages()
{
    clearLayout(ui->packageRow);
    clearLayout(ui->bottomPackageRow);
    clearLayout(ui->featuresLayout);
    const QJsonArray packages = User::instance()->cardPaymentPackages();
    for (const QJsonValue &package : packages)
        ui->packageRow->addWidget(new Package(package.toObject()));
    for (const QJsonValue &package : packages)
        ui->bottomPackageRow->addWidget(new BottomPackage(package.toObject()));
    ui->lblChoose->setVisible(!packages.isEmpty());
    ui->lblCheckout->setVisible(!packages.isEmpty());
    ui->featuresLayout->addWidget(new AccoutBottomButton);
}

} // namespace Varnel
