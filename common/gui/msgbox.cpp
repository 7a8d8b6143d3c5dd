#include "common/gui/msgbox.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QGuiApplication>
#include <QIcon>
#include <QPainterPath>
#include <QPainter>
#include <QStyle>
#include <QVariant>

namespace Varnel {

namespace {

constexpr int kMargin = 24;
// Between an icon and the text beside it.
constexpr int kIconGap = 16;

bool isSafeChoice(QMessageBox::ButtonRole role)
{
    return role == QMessageBox::RejectRole || role == QMessageBox::NoRole;
}

} // namespace

MsgBox::MsgBox(QWidget *parent)
    : QMessageBox(parent)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint);
    setAttribute(Qt::WA_TranslucentBackground);
}

void MsgBox::setRadius(qreal radius)
{
    m_radius = radius;
    updateShape();
    update();
}

void MsgBox::setBorderWidth(qreal width)
{
    m_borderWidth = width;
    update();
}

void MsgBox::setBorderColor(const QColor &color)
{
    m_borderColor = color;
    update();
}

void MsgBox::showEvent(QShowEvent *event)
{
    // The message box lays itself out again whenever its icon or texts
    // change, so the spacing is settled here, when everything is known.
    if (auto *grid = qobject_cast<QGridLayout *>(layout())) {
        grid->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
        grid->setVerticalSpacing(12);
        if (!iconPixmap().isNull())
            grid->setHorizontalSpacing(kIconGap);
    }
    for (QAbstractButton *button : buttons()) {
        // Text buttons like the pages' own: no stock pictures in them.
        button->setIcon(QIcon());
        // (A caller may have marked another button so.)
        if (isSafeChoice(buttonRole(button)) && buttons().size() > 1)
            button->setProperty("role", QStringLiteral("secondary"));
        if (button->property("role").toString() == QLatin1String("secondary")) {
            // Property selectors are read when a widget is polished.
            button->style()->unpolish(button);
            button->style()->polish(button);
        }
    }
    QMessageBox::showEvent(event);
}

void MsgBox::resizeEvent(QResizeEvent *event)
{
    QMessageBox::resizeEvent(event);
    updateShape();
}

void MsgBox::updateShape()
{
    // Without a compositor (many X11 desktops) the transparent corners of a
    // translucent window come out black: the rounded shape is cut out.
    // (Other platforms composite every window, and some have no masks.)
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    if (m_radius > 0) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), m_radius, m_radius);
        setMask(QRegion(shape.toFillPolygon().toPolygon()));
    } else {
        clearMask();
    }
}

void MsgBox::paintEvent(QPaintEvent *)
{
    const qreal width = m_borderWidth >= 0
        ? m_borderWidth
        : style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);

    QPainter painter(this);
    // Cut to its shape: opaque everywhere the shape lets through, since
    // half-transparent edge pixels come out dark where nothing blends them.
    if (!mask().isEmpty())
        painter.fillRect(rect(), palette().window());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(palette().window());
    if (width > 0)
        painter.setPen(QPen(m_borderColor.isValid() ? QBrush(m_borderColor) : palette().windowText(), width));
    else
        painter.setPen(Qt::NoPen);

    // Keep the outline inside the widget: the pen is centred on the path.
    const qreal inset = width > 0 ? width / 2 : 0;
    const QRectF area = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    if (m_radius > 0)
        painter.drawRoundedRect(area, m_radius, m_radius);
    else
        painter.drawRect(area);
}

} // namespace Varnel
