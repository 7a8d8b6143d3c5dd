#pragma once

#include "widgets/clickablecard.h"

#include <QJsonObject>
#include <QString>

#include <memory>

class QLabel;

namespace Varnel {

namespace Ui {
class Package;
class BottomPackage;
}

// One purchasable package of the payment page. A press opens the package's
// checkout page on the provider's payment portal, signed in with the
// account's token.
class PackageCard : public ClickableCard
{
    Q_OBJECT
public:
    QString packageId() const { return m_id; }

protected:
    // package: "name", "price", "sub_title", "highlighted_text", "id".
    PackageCard(const QJsonObject &package, QWidget *parent);
    // Shows the package's texts; the highlight label only when there is one.
    void showTexts(QLabel *name, QLabel *price, QLabel *subTitle, QLabel *highlight) const;

private:
    void openCheckout() const;

    QJsonObject m_package;
    QString m_id;
    const QString m_key;
};

// The package as a card in the row of plans at the top of the page.
class Package : public PackageCard
{
    Q_OBJECT
public:
    explicit Package(const QJsonObject &package, QWidget *parent = nullptr);
    ~Package() override;

private:
    std::unique_ptr<Ui::Package> ui;
};

// The package as a compact checkout button below the comparison table.
class BottomPackage : public PackageCard
{
    Q_OBJECT
public:
    explicit BottomPackage(const QJsonObject &package, QWidget *parent = nullptr);
    ~BottomPackage() override;

private:
    std::unique_ptr<Ui::BottomPackage> ui;
};

} // namespace Varnel
