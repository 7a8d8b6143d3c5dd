#include "common/gui/pagestyling.h"

#include <QApplication>
#include <QEvent>
#include <QSet>
#include <QStackedWidget>

namespace Varnel {

namespace {

class PageStyling : public QObject
{
public:
    static PageStyling &instance()
    {
        static auto *styling = new PageStyling;
        return *styling;
    }

    void add(QStackedWidget *stack)
    {
        m_stacks.insert(stack);
        connect(stack, &QObject::destroyed, this, [this, stack] { m_stacks.remove(stack); });
    }

    void add(QWidget *window)
    {
        m_windows.insert(window);
        connect(window, &QObject::destroyed, this, [this, window] { m_windows.remove(window); });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!watched->isWidgetType())
            return false;
        auto *widget = static_cast<QWidget *>(watched);
        switch (event->type()) {
        case QEvent::Polish:
            return isWaiting(widget);
        case QEvent::ZOrderChange:
            // A stack raises the page it makes current right before showing it.
            if (isPage(widget) && !isWaiting(widget))
                polish(widget);
            break;
        case QEvent::Show:
            if (m_windows.remove(widget))
                polish(widget);
            break;
        default:
            break;
        }
        return false;
    }

private:
    PageStyling() : QObject(qApp) { qApp->installEventFilter(this); }

    QStackedWidget *stackOf(QWidget *widget) const
    {
        auto *parent = static_cast<QStackedWidget *>(widget->parentWidget());
        return parent && m_stacks.contains(parent) ? parent : nullptr;
    }
    bool isPage(QWidget *widget) const { return stackOf(widget) != nullptr; }
    bool isHiddenPage(QWidget *widget) const
    {
        const QStackedWidget *stack = stackOf(widget);
        return stack && stack->currentWidget() != widget;
    }
    // In a page that is not current, or in one inside such a page, or in a
    // window not shown yet.
    bool isWaiting(QWidget *widget) const
    {
        QWidget *w = widget;
        for (; w && !w->isWindow(); w = w->parentWidget()) {
            if (isHiddenPage(w))
                return true;
        }
        return w && m_windows.contains(w);
    }

    // Parents before children, as Qt polishes; pages still hidden wait on.
    void polish(QWidget *widget)
    {
        if (isHiddenPage(widget))
            return;
        if (!widget->testAttribute(Qt::WA_WState_Polished)) {
            QEvent polish(QEvent::Polish);
            QCoreApplication::sendEvent(widget, &polish);
        }
        for (QObject *child : widget->children()) {
            if (child->isWidgetType())
                polish(static_cast<QWidget *>(child));
        }
    }

    QSet<QStackedWidget *> m_stacks;
    QSet<QWidget *> m_windows;
};

} // namespace

void styleWhenShown(QStackedWidget *stack)
{
    PageStyling::instance().add(stack);
}

void styleWhenShown(QWidget *window)
{
    PageStyling::instance().add(window);
}

} // namespace Varnel
