#include "common/gui/pressable.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QTextDocument>

namespace Varnel {

namespace {

const char kPressable[] = "varnelPressable";
const char kSwitch[] = "varnelSwitch";

bool isActivationKey(const QKeyEvent *key, bool withSpace)
{
    if (key->isAutoRepeat() || (key->modifiers() & ~Qt::KeypadModifier))
        return false;
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || (withSpace && key->key() == Qt::Key_Space);
}

// The press a mouse would give, in the middle of the widget.
void press(QWidget *widget)
{
    const QPointF centre = QRectF(widget->rect()).center();
    const QPointF global = widget->mapToGlobal(centre.toPoint());
    QMouseEvent down(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &down);
    // The press may have closed or replaced the widget's page; a release
    // goes only to a widget that is still there.
    QMouseEvent up(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    if (widget->isVisible())
        QCoreApplication::sendEvent(widget, &up);
}

QString labelTexts(const QWidget *widget)
{
    QStringList texts;
    for (const QLabel *label : widget->findChildren<QLabel *>()) {
        const QString text = label->text().simplified();
        if (label->isVisibleTo(const_cast<QWidget *>(widget)) && !text.isEmpty() && !Qt::mightBeRichText(text))
            texts << text;
    }
    return texts.join(QStringLiteral(", "));
}

class PressableAccessible : public QAccessibleWidget
{
public:
    explicit PressableAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::Button)
    {
    }

    QAccessible::Role role() const override
    {
        return widget()->property(kSwitch).isValid() ? QAccessible::CheckBox : QAccessible::Button;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        const QVariant on = widget()->property(kSwitch);
        if (on.isValid()) {
            state.checkable = true;
            state.checked = on.toBool();
        }
        return state;
    }
    QString text(QAccessible::Text t) const override
    {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty())
            text = labelTexts(widget());
        return text;
    }
    QStringList actionNames() const override
    {
        return widget()->isEnabled() ? QStringList{pressAction()} : QStringList();
    }
    void doAction(const QString &action) override
    {
        if (action == pressAction() && widget()->isEnabled())
            press(widget());
    }
};

QAccessibleInterface *pressableFactory(const QString &, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (widget && widget->property(kPressable).toBool())
        return new PressableAccessible(widget);
    return nullptr;
}

class KeyboardActivation : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        auto *widget = static_cast<QWidget *>(watched);
        const auto *key = static_cast<QKeyEvent *>(event);
        if (widget->property(kPressable).toBool()) {
            if (!isActivationKey(key, true))
                return false;
            press(widget);
            return true;
        }
        // Buttons know Space; Enter only where a dialog makes them default.
        if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
            if (!isActivationKey(key, false) || !button->isEnabled())
                return false;
            button->click();
            return true;
        }
        return false;
    }
};

// Where the keyboard is: a ring around the widget that the user's Tab or
// Backtab gave the focus to. Most controls draw no focus of their own (their
// style sheets drop it), and a mouse user does not need one (a dialog that
// opens focuses its button "by Tab" too, so the keys themselves are watched).
class FocusRing : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Tab || key == Qt::Key_Backtab)
                m_tabbing = true;
            break;
        }
        case QEvent::MouseButtonPress:
            m_tabbing = false;
            detach();
            break;
        case QEvent::FocusIn:
            if (watched->isWidgetType()) {
                const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
                auto *widget = static_cast<QWidget *>(watched);
                if (m_tabbing && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)
                    && wantsRing(widget))
                    attach(widget);
                else if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                    detach();
            }
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
            if (watched == m_target)
                place();
            break;
        default:
            break;
        }
        return false;
    }

private:
    static bool wantsRing(const QWidget *widget)
    {
        // Lists show their current row themselves; windows have no place
        // for a ring around them.
        return !widget->isWindow() && widget->parentWidget() && !widget->inherits("QAbstractItemView");
    }
    void attach(QWidget *widget)
    {
        if (m_target == widget)
            return;
        detach();
        m_target = widget;
        m_ring = new QWidget(widget->parentWidget());
        m_ring->setObjectName(QStringLiteral("focusRing"));
        m_ring->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_ring->setAttribute(Qt::WA_StyledBackground);
        m_ring->setFocusPolicy(Qt::NoFocus);
        m_ring->setStyleSheet(QStringLiteral("#focusRing { background: transparent; border: 2px solid #BF1E2E; "
                                             "border-radius: 8px; }"));
        place();
    }
    void detach()
    {
        delete m_ring;
        m_target = nullptr;
    }
    void place()
    {
        if (!m_ring || !m_target)
            return;
        m_ring->setGeometry(m_target->geometry().adjusted(-3, -3, 3, 3));
        m_ring->setVisible(m_target->isVisible());
        m_ring->raise();
    }

    QPointer<QWidget> m_target;
    QPointer<QWidget> m_ring;
    bool m_tabbing = false;
};

} // namespace

void installKeyboardActivation()
{
    static bool installed = false;
    if (installed || !qApp)
        return;
    installed = true;
    qApp->installEventFilter(new KeyboardActivation(qApp));
    qApp->installEventFilter(new FocusRing(qApp));
    QAccessible::installFactory(pressableFactory);
}

void makePressable(QWidget *widget, const QString &name, const QString &description)
{
    installKeyboardActivation();
    widget->setProperty(kPressable, true);
    widget->setFocusPolicy(Qt::StrongFocus);
    if (!name.isEmpty())
        widget->setAccessibleName(name);
    if (!description.isEmpty())
        widget->setAccessibleDescription(description);
}

void setSwitchState(QWidget *widget, bool on)
{
    const QVariant before = widget->property(kSwitch);
    widget->setProperty(kSwitch, on);
    if (before.isValid() && before.toBool() == on)
        return;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(widget, changed);
    QAccessible::updateAccessibility(&event);
}

} // namespace Varnel
