#include "app/fonts.h"
#include "app/rootwindow.h"
#include "common/appinfo.h"
#include "common/gui/msgbox.h"
#include "common/gui/overlay.h"
#include "common/gui/showmessage.h"
#include "startuplook.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QPointer>
#include <QTest>
#include <QTimer>

using Varnel::MsgBox;
using Varnel::Overlay;

namespace {

// What the open box looked like, captured while it ran modally.
struct SeenBox {
    QPointer<MsgBox> box;
    QWidget *parent = nullptr;
    QString title, text, informative;
    int overlays = 0;
    bool overlayCovers = false;
};

// Inspects the modal box as soon as it is up, then presses button.
void answerNextBox(QWidget *window, QMessageBox::StandardButton button, SeenBox &seen)
{
    QTimer::singleShot(0, [=, &seen] {
        auto *box = qobject_cast<MsgBox *>(QApplication::activeModalWidget());
        if (!box) {
            answerNextBox(window, button, seen);   // not up yet
            return;
        }
        seen.box = box;
        seen.parent = box->parentWidget();
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.informative = box->informativeText();
        const auto overlays = window->findChildren<Overlay *>();
        seen.overlays = overlays.size();
        seen.overlayCovers = overlays.size() == 1 && overlays.first()->isVisible()
            && overlays.first()->geometry() == window->rect();
        box->button(button)->click();
    });
}

} // namespace

class TestShellHelpers : public QObject
{
    Q_OBJECT
private slots:
    void showMessageOverRootWindow()
    {
        Varnel::RootWindow root(QStringLiteral("not"));
        root.show();
        Varnel::setMainWindow(&root);

        SeenBox seen;
        answerNextBox(&root, QMessageBox::No, seen);
        const auto pressed = Varnel::showMessage(QStringLiteral("Do you want to log out?"),
                                                 QMessageBox::Yes | QMessageBox::No, QStringLiteral("Session"));

        QCOMPARE(pressed, QMessageBox::No);
        QCOMPARE(seen.parent, &root);
        QCOMPARE(seen.title, Varnel::applicationName());
        // With a detail, the detail leads and the text explains.
        QCOMPARE(seen.text, QStringLiteral("Session"));
        QCOMPARE(seen.informative, QStringLiteral("Do you want to log out?"));
        QVERIFY(seen.overlayCovers);
        // Nothing stays behind: the overlay is gone, the box deleted itself.
        QVERIFY(root.findChildren<Overlay *>().isEmpty());
        QTRY_VERIFY(seen.box.isNull());
    }

    void showMessageOverOtherWindow()
    {
        QWidget other;
        other.show();
        Varnel::setMainWindow(&other);

        SeenBox seen;
        answerNextBox(&other, QMessageBox::Ok, seen);
        QCOMPARE(Varnel::showMessage(QStringLiteral("Saved."), QMessageBox::Ok), QMessageBox::Ok);
        QCOMPARE(seen.parent, &other);
        QCOMPARE(seen.text, QStringLiteral("Saved."));
        QVERIFY(seen.informative.isEmpty());
        QCOMPARE(seen.overlays, 0);

        // A main window that went away is no parent any more.
        {
            auto *gone = new QWidget;
            Varnel::setMainWindow(gone);
            delete gone;
        }
        answerNextBox(&other, QMessageBox::Yes, seen);
        QCOMPARE(Varnel::showMessage(QStringLiteral("Go on?"), QMessageBox::Yes | QMessageBox::No),
                 QMessageBox::Yes);
        QCOMPARE(seen.parent, nullptr);
    }

    void msgBoxDrawsItsOwnBackground()
    {
        auto render = [](qreal radius, qreal border) {
            MsgBox box;
            QPalette palette = box.palette();
            palette.setColor(QPalette::Window, Qt::white);
            palette.setColor(QPalette::WindowText, Qt::red);
            box.setPalette(palette);
            box.setRadius(radius);
            box.setBorderWidth(border);
            box.setText(QString());
            box.resize(200, 200);
            QImage image(box.size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            box.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
            return image;
        };

        const QImage plain = render(0, 0), rounded = render(30, 0), outlined = render(0, 6);
        // Rounded corners leave the corner itself transparent; a positive
        // width outlines the box in the foreground colour.
        QCOMPARE(rounded.pixelColor(1, 1).alpha(), 0);
        QCOMPARE((QList<QColor>{plain.pixelColor(0, 0), plain.pixelColor(2, 100), rounded.pixelColor(100, 100),
                                outlined.pixelColor(2, 100), outlined.pixelColor(100, 100)}),
                 (QList<QColor>{Qt::white, Qt::white, Qt::white, Qt::red, Qt::white}));
    }

    void fontsStopAtFirstFailure()
    {
        // (Every face's file is checked with the resources.)
        const QString regular = QStringLiteral(":/fonts/fonts/Montserrat-Regular.ttf");
        const QString thin = QStringLiteral(":/fonts/fonts/Montserrat-Thin.ttf");

        QCOMPARE(Varnel::registerFonts({regular, QStringLiteral(":/fonts/fonts/Montserrat-Missing.ttf"), thin}), 1);
        QFontDatabase fonts;
        QVERIFY(fonts.styles(QStringLiteral("Montserrat")).contains(QStringLiteral("Regular")));
        QVERIFY(!fonts.styles(QStringLiteral("Montserrat")).contains(QStringLiteral("Thin")));

        // The start-up list names every face that the resources hold.
        const QStringList all = Varnel::montserratFonts();
        QCOMPARE(all.size(), 18);
        QCOMPARE(Varnel::registerFonts(all), 18);
        QVERIFY(QFontDatabase().styles(QStringLiteral("Montserrat")).contains(QStringLiteral("Thin")));
    }

    // With the program's style: the safe answer is the quiet button, the
    // outline is light, and an icon keeps its distance from the text.
    void messageBoxLooksLikeTheClient()
    {
        applyStartupLook();
        QWidget window;
        window.show();
        Varnel::setMainWindow(&window);
        QImage shot;
        QRect yes, no;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<MsgBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            shot = box->grab().toImage();
            for (auto [button, rect] : {std::make_pair(box->button(QMessageBox::Yes), &yes),
                                        std::make_pair(box->button(QMessageBox::No), &no)})
                *rect = QRect(button->mapTo(box, QPoint()), button->size());
            box->button(QMessageBox::No)->click();
        });
        Varnel::showMessage(QStringLiteral("Do you want to log out?"), QMessageBox::Yes | QMessageBox::No);
        qApp->setStyleSheet(QString());
        QVERIFY(!shot.isNull());
        // Inside each button, beside its text: its fill.
        const QColor accent(0xBF, 0x1E, 0x2E);
        QCOMPARE(shot.pixelColor(yes.left() + 4, yes.center().y()), accent);
        QVERIFY(qGray(shot.pixel(no.left() + 4, no.center().y())) > 200);
        // The outline, halfway down the left edge: light, not black.
        const QColor edge = shot.pixelColor(0, shot.height() / 2);
        QVERIFY2(edge.alpha() > 0 && qGray(edge.rgb()) > 180, qPrintable(edge.name()));

        MsgBox box;
        box.setIcon(QMessageBox::Information);
        box.setText(QStringLiteral("The  file does not exist."));
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        const QWidget *icon = box.findChild<QWidget *>(QStringLiteral("qt_msgboxex_icon_label"));
        const QWidget *text = box.findChild<QWidget *>(QStringLiteral("qt_msgbox_label"));
        QVERIFY(icon && text);
        QVERIFY2(text->geometry().left() - icon->geometry().right() >= 16,
                 qPrintable(QString::number(text->geometry().left() - icon->geometry().right())));
    }
};

QTEST_MAIN(TestShellHelpers)
#include "tst_shellhelpers.moc"
