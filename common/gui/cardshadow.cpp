#include "common/gui/cardshadow.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <cmath>
#include <vector>

namespace Varnel {

namespace {

// One pass of a box blur of the given radius along rows (step 1) or columns
// (step = width) of an 8-bit buffer.
void boxBlur(uchar *data, int width, int height, int stride, bool alongRows, int radius)
{
    const int lines = alongRows ? height : width;
    const int length = alongRows ? width : height;
    const int step = alongRows ? 1 : stride;
    std::vector<int> line(static_cast<size_t>(length));
    const int span = 2 * radius + 1;
    for (int l = 0; l < lines; ++l) {
        uchar *start = data + (alongRows ? l * stride : l);
        for (int i = 0; i < length; ++i)
            line[size_t(i)] = start[i * step];
        int sum = 0;
        for (int i = -radius; i <= radius; ++i)
            sum += (i >= 0 && i < length) ? line[size_t(i)] : 0;
        for (int i = 0; i < length; ++i) {
            start[i * step] = uchar(sum / span);
            const int out = i - radius;
            const int in = i + radius + 1;
            sum += (in < length ? line[size_t(in)] : 0) - (out >= 0 ? line[size_t(out)] : 0);
        }
    }
}

class CardShadow : public QWidget
{
public:
    CardShadow(QWidget *card, qreal cornerRadius, int blurRadius, const QPoint &offset, const QColor &colour)
        : QWidget(card->parentWidget())
        , m_card(card)
        , m_cornerRadius(cornerRadius)
        , m_blurRadius(blurRadius)
        , m_offset(offset)
        , m_colour(colour)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        card->installEventFilter(this);
        follow();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_card) {
            switch (event->type()) {
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::Hide:
            case QEvent::ZOrderChange:
                follow();
                break;
            default:
                break;
            }
        }
        return false;
    }

    void paintEvent(QPaintEvent *) override
    {
        const qreal ratio = devicePixelRatioF();
        if (m_shadow.isNull() || m_shadowFor != size() || !qFuzzyCompare(m_shadow.devicePixelRatio(), ratio))
            draw(ratio);
        QPainter(this).drawPixmap(0, 0, m_shadow);
    }

private:
    void follow()
    {
        if (!m_card)
            return;
        setVisible(m_card->isVisible());
        const int margin = m_blurRadius;
        setGeometry(m_card->geometry().translated(m_offset).adjusted(-margin, -margin, margin, margin));
        stackUnder(m_card);
    }

    // The card's outline, filled and blurred three times over (close to a
    // Gaussian), in the shadow's colour. A soft shadow loses nothing when it
    // is blurred at half the pixels and scaled up: a quarter of the work.
    void draw(qreal ratio)
    {
        const QSize pixels(qRound(width() * ratio), qRound(height() * ratio));
        const qreal scale = ratio / 2;
        const QSize small((pixels.width() + 1) / 2, (pixels.height() + 1) / 2);
        QImage mask(small, QImage::Format_Alpha8);
        mask.fill(0);
        {
            QPainter painter(&mask);
            painter.setRenderHint(QPainter::Antialiasing);
            const qreal inset = m_blurRadius * scale;
            QPainterPath outline;
            outline.addRoundedRect(QRectF(inset, inset, width() * scale - 2 * inset, height() * scale - 2 * inset),
                                   m_cornerRadius * scale, m_cornerRadius * scale);
            painter.fillPath(outline, Qt::black);
        }
        const int passRadius = qMax(1, qRound(m_blurRadius * scale / 4.0));
        for (int pass = 0; pass < 3; ++pass) {
            boxBlur(mask.bits(), small.width(), small.height(), mask.bytesPerLine(), true, passRadius);
            boxBlur(mask.bits(), small.width(), small.height(), mask.bytesPerLine(), false, passRadius);
        }
        QImage shadow(small, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < small.height(); ++y) {
            const uchar *in = mask.constScanLine(y);
            auto *out = reinterpret_cast<QRgb *>(shadow.scanLine(y));
            for (int x = 0; x < small.width(); ++x)
                out[x] = qPremultiply(qRgba(m_colour.red(), m_colour.green(), m_colour.blue(),
                                            in[x] * m_colour.alpha() / 255));
        }
        m_shadow = QPixmap::fromImage(shadow.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        m_shadow.setDevicePixelRatio(ratio);
        m_shadowFor = size();
    }

    QPointer<QWidget> m_card;
    qreal m_cornerRadius;
    int m_blurRadius;
    QPoint m_offset;
    QColor m_colour;
    QPixmap m_shadow;
    QSize m_shadowFor;
};

} // namespace

void addCardShadow(QWidget *card, qreal cornerRadius, int blurRadius, const QPoint &offset, const QColor &colour)
{
    if (card->parentWidget())
        new CardShadow(card, cornerRadius, blurRadius, offset, colour);
}

} // namespace Varnel
