#include "common/gui/showrefresh.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace Varnel {

namespace {

// Watches its parent widget for show events.
class ShowWatcher : public QObject
{
public:
    ShowWatcher(QWidget *widget, std::function<void()> refresh)
        : QObject(widget)
        , m_widget(widget)
        , m_refresh(std::move(refresh))
    {
        widget->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_widget && event->type() == QEvent::Show)
            QTimer::singleShot(0, m_widget, m_refresh);
        return false;
    }

private:
    QWidget *m_widget;
    std::function<void()> m_refresh;
};

} // namespace

void refreshOnShow(QWidget *widget, std::function<void()> refresh)
{
    new ShowWatcher(widget, std::move(refresh));
}

} // namespace Varnel
