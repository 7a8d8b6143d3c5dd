// The helpers pages share: the busy state of a request and the placeholder tint.
#include "startuplook.h"

#include "widgets/busystate.h"
#include "widgets/placeholdertint.h"

#include <QLineEdit>
#include <QPushButton>
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

private slots:
    void initTestCase() { applyStartupLook(); }

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

        // Stopped means stopped: no late frame puts the spinner back.
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
};

QTEST_MAIN(PageWidgetsTest)
#include "tst_pagewidgets.moc"
