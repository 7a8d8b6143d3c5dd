// The helpers pages share: the busy state of a request, the page base with
// its record, refresh and back button, the placeholder tint and the round
// badge of the quick-connect buttons. (The result-code texts are checked
// through the login pages.)
#include "startuplook.h"

#include "common/config.h"
#include "common/gui/page.h"
#include "common/gui/roundbadge.h"
#include "widgets/busystate.h"
#include "widgets/placeholdertint.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

using namespace Varnel;

class PageWidgetsTest : public QObject
{
    Q_OBJECT

    struct Form {
        QWidget window;
        QPushButton *button = new QPushButton(QStringLiteral("Redeem"));
        QLineEdit *edit = new QLineEdit;
        QLineEdit *lockedEdit = new QLineEdit;   // disabled by the page for its own reasons

        Form()
        {
            auto *layout = new QVBoxLayout(&window);
            layout->addWidget(edit);
            layout->addWidget(lockedEdit);
            layout->addWidget(button);
            button->setIcon(QIcon(QStringLiteral(":/img/logo.png")));
            button->setIconSize(QSize(12, 12));
            lockedEdit->setEnabled(false);
            window.show();
        }
    };

    static qint64 frameKey(const QPushButton *button)
    {
        return button->icon().pixmap(button->iconSize(), QIcon::Disabled).cacheKey();
    }

    // A side-menu page as the pages build on the base.
    class SamplePage : public Page
    {
    public:
        explicit SamplePage(LeftPage index)
        {
            recordWhenShown(index);
            setBackButton(back);
        }
        QPushButton *back = new QPushButton(this);
        QList<QPair<int, int>> seenAtRefresh;

    protected:
        void reload() override { seenAtRefresh << Config::instance()->loadState(); }
    };

    QTemporaryDir m_settings;

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
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
        applyStartupLook();
    }

    void pageRecordsAndRefreshesAfterEveryShow()
    {
        Config::instance()->saveState(0, 1);
        SamplePage page(LeftPage::Setting);
        QSignalSpy back(&page, &Page::clickBack);
        QCOMPARE(page.seenAtRefresh.size(), 0);

        page.show();
        QCOMPARE(page.seenAtRefresh.size(), 0);   // not inside the show event
        QTRY_COMPARE(page.seenAtRefresh.size(), 1);
        // Recorded before the refresh ran, beside the connect page.
        QCOMPARE(page.seenAtRefresh.constFirst(), qMakePair(9, 0));

        Config::instance()->saveState(2, 1);
        page.hide();
        page.show();
        QTRY_COMPARE(page.seenAtRefresh.size(), 2);
        QCOMPARE(page.seenAtRefresh.constLast(), qMakePair(9, 0));

        page.back->click();
        QCOMPARE(back.size(), 1);
        QCOMPARE(page.seenAtRefresh.size(), 2);
    }

    void runRefusesARequestWhileOneRuns()
    {
        Form form;
        BusyState busy(form.button);
        QStringList ran;
        bool nested = true;
        const bool first = busy.run([&] {
            ran << QStringLiteral("first");
            QVERIFY(!form.button->isEnabled());
            // What a second press, delivered by the request's own event loop, does.
            nested = busy.run([&] { ran << QStringLiteral("second"); });
        });
        QVERIFY(first);
        QVERIFY(!nested);
        QCOMPARE(ran, QStringList{QStringLiteral("first")});
        QVERIFY(!busy.isBusy());
        QVERIFY(form.button->isEnabled());
        QVERIFY(busy.run([&] { ran << QStringLiteral("third"); }));
        QCOMPARE(ran.size(), 2);
    }

    void spinnerLabelShowsOnlyWhileBusy()
    {
        QWidget window;
        auto *label = new QLabel(&window);
        label->setMinimumSize(40, 40);
        window.show();
        BusyState busy(label);
        QVERIFY(label->isHidden());
        QVERIFY(label->movie());
        busy.run([&] {
            QVERIFY(label->isVisible());
            QCOMPARE(label->movie()->state(), QMovie::Running);
            QCOMPARE(label->movie()->scaledSize(), QSize(40, 40));
        });
        QVERIFY(label->isHidden());
        QCOMPARE(label->movie()->state(), QMovie::NotRunning);
    }

    void busyDisablesAnimatesAndRestores()
    {
        Form form;
        const qint64 idleIcon = form.button->icon().cacheKey();
        BusyState busy(form.button);
        busy.setWidgets({form.edit, form.lockedEdit});

        busy.start();
        busy.start();   // a second start must not take the busy look for the original
        QVERIFY(busy.isBusy());
        QVERIFY(!form.button->isEnabled());
        QVERIFY(!form.edit->isEnabled());
        QVERIFY(form.button->text().isEmpty());
        QVERIFY(!form.button->icon().pixmap(form.button->iconSize(), QIcon::Disabled).isNull());

        QSet<qint64> frames{frameKey(form.button)};
        const bool turning = QTest::qWaitFor([&] {
            frames << frameKey(form.button);
            return frames.size() >= 3;
        }, 2000);
        QVERIFY2(turning, "the spinner does not turn");

        busy.stop();
        busy.stop();
        QVERIFY(!busy.isBusy());
        QCOMPARE(form.button->text(), QStringLiteral("Redeem"));
        QCOMPARE(form.button->icon().cacheKey(), idleIcon);
        QCOMPARE(form.button->iconSize(), QSize(12, 12));
        QVERIFY(form.button->isEnabled());
        QVERIFY(form.edit->isEnabled());
        QVERIFY(!form.lockedEdit->isEnabled());

        // Stopped means stopped: no late frame puts the spinner back (the
        // movie turns a frame every 50 ms).
        QTest::qWait(150);
        QCOMPARE(form.button->icon().cacheKey(), idleIcon);
    }

    void placeholderIsLighterThanTextInEveryState()
    {
        Form form;
        form.window.hide();
        PlaceholderTint::install({form.edit});
        form.window.show();
        const auto check = [&] {
            const QPalette palette = form.edit->palette();
            QCOMPARE(palette.color(QPalette::PlaceholderText), PlaceholderTint::defaultColor());
            QVERIFY(palette.color(QPalette::PlaceholderText) != palette.color(QPalette::Text));
        };
        check();
        const QColor enabledText = form.edit->palette().color(QPalette::Text);
        form.edit->setFocus();
        form.edit->setEnabled(false);
        check();
        // The style sheet still decides the text colour of a disabled edit.
        QVERIFY(form.edit->palette().color(QPalette::Disabled, QPalette::Text) != enabledText);
        form.edit->setEnabled(true);
        check();
    }

    // The round badge: the picture's centred square as a smooth disc on
    // transparency, at the height the quick-connect buttons ask for.
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
        QVERIFY(roundBadge(QImage(), height).isNull());   // no picture, no badge
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
};

QTEST_MAIN(PageWidgetsTest)
#include "tst_pagewidgets.moc"
