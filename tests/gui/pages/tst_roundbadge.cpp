// The round badge: the picture's centred square as a smooth disc on
// transparency, at the height the quick-connect buttons ask for.
#include "common/gui/roundbadge.h"

#include <QPainter>
#include <QtTest>

using namespace Varnel;

class RoundBadgeTest : public QObject
{
    Q_OBJECT

    // Red centre square with blue bands beyond it (left/right or top/bottom),
    // in a format other than 32-bit ARGB.
    static QImage banded(int width, int height)
    {
        QImage image(width, height, QImage::Format_RGB888);
        image.fill(Qt::blue);
        const int side = qMin(width, height);
        QPainter painter(&image);
        painter.fillRect(QRect((width - side) / 2, (height - side) / 2, side, side), Qt::red);
        return image;
    }

private slots:
    void badgeIsTheCentredSquareAsADisc_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<int>("height");
        QTest::newRow("wide flag, fastest button") << QSize(320, 240) << 40;
        QTest::newRow("wide flag, location button") << QSize(320, 240) << 48;
        QTest::newRow("tall picture") << QSize(100, 300) << 48;
        QTest::newRow("square icon, scaled up") << QSize(30, 30) << 40;
    }
    void badgeIsTheCentredSquareAsADisc()
    {
        QFETCH(QSize, picture);
        QFETCH(int, height);
        const QImage badge = roundBadge(banded(picture.width(), picture.height()), height).toImage();
        QCOMPARE(badge.size(), QSize(height, height));
        QVERIFY(badge.hasAlphaChannel());

        const int last = height - 1;
        for (const QPoint corner : {QPoint(0, 0), QPoint(last, 0), QPoint(0, last), QPoint(last, last)})
            QCOMPARE(qAlpha(badge.pixel(corner)), 0);
        // Inside the disc only the square's colour, up to the rim.
        for (const QPoint inside : {QPoint(height / 2, height / 2), QPoint(3, height / 2), QPoint(last - 3, height / 2),
                                    QPoint(height / 2, 3), QPoint(height / 2, last - 3)}) {
            const QColor colour = QColor::fromRgba(badge.pixel(inside));
            QCOMPARE(colour.alpha(), 255);
            QVERIFY2(colour.red() > 200 && colour.blue() < 60, qPrintable(colour.name()));
        }
        // Antialiased: the rim has partly transparent pixels.
        bool soft = false;
        for (int x = 0; x < height / 2 && !soft; ++x) {
            const int alpha = qAlpha(badge.pixel(x, height / 4));
            soft = alpha > 0 && alpha < 255;
        }
        QVERIFY(soft);
    }

    void nullPictureGivesNoBadge()
    {
        QVERIFY(roundBadge(QImage(), 40).isNull());
    }
};

QTEST_MAIN(RoundBadgeTest)
#include "tst_roundbadge.moc"
