#pragma once

#include "backend/ipbundle.h"

#include <QColor>
#include <QWidget>

#include <functional>

namespace Varnel {

// What the four buttons of the connect page share: a rounded background
// painted by the button itself, the text styles that follow the tunnel,
// and the choice of a server among the account's bundles.
class QuickConnectButton : public QWidget
{
    Q_OBJECT
protected:
    explicit QuickConnectButton(QWidget *parent);

    // The background: the connected or the idle colour by default.
    virtual QColor fill() const;
    void paintEvent(QPaintEvent *event) override;

    static bool tunnelUp();
    // Style of a title or a line of text, white on the connected colour.
    static QString textStyle(bool connected, int pixelSize);
    // The account's bundles that have the feature, in list order.
    static IPBundleList bundlesWith(const std::function<bool(const IPBundle &)> &feature);
    // Makes the bundle the active server and saves the settings.
    static void makeActive(const IPBundle &bundle);
};

} // namespace Varnel
