#include "widgets/quickconnect/quickconnectbutton.h"

#include "backend/user.h"
#include "common/config.h"
#include "common/gui/pressable.h"
#include "vpn/openconnectconnection.h"

#include <QPainter>

namespace Varnel {

QuickConnectButton::QuickConnectButton(QWidget *parent)
    : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
    // Named by its labels, which follow the server it stands for.
    makePressable(this);
}

QColor QuickConnectButton::fill() const
{
    return tunnelUp() ? QColor(158, 51, 64) : QColor(225, 225, 225);
}

void QuickConnectButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill());
    painter.drawRoundedRect(rect(), 6, 6);
}

bool QuickConnectButton::tunnelUp()
{
    return OpenConnectConnection::instance()->status() == OpenConnectConnection::Connected;
}

QString QuickConnectButton::textStyle(bool connected, int pixelSize)
{
    return QStringLiteral("color:%1;font-weight: 600;font-family: 'Montserrat SemiBold';font-size:%2px;")
        .arg(connected ? QStringLiteral("white") : QStringLiteral("#434343"))
        .arg(pixelSize);
}

IPBundleList QuickConnectButton::bundlesWith(const std::function<bool(const IPBundle &)> &feature)
{
    IPBundleList chosen;
    for (const auto &bundle : User::instance()->bundles()) {
        if (feature(*bundle))
            chosen << bundle;
    }
    return chosen;
}

void QuickConnectButton::makeActive(const IPBundle &bundle)
{
    const auto config = Config::instance();
    config->setActiveServer(bundle.ipId());
    config->save();
}

} // namespace Varnel
