#include "app/firstpaint.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace Varnel {

namespace {

class FirstPaintWatch : public QObject
{
public:
    FirstPaintWatch(QWidget *window, std::function<void()> done)
        : QObject(window)
        , m_done(std::move(done))
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // A zero-delay timer started here runs once the frame is done.
            QTimer::singleShot(0, this, [this] {
                m_done();
                deleteLater();
            });
        }
        return false;
    }

private:
    std::function<void()> m_done;
};

} // namespace

void afterFirstPaint(QWidget *window, std::function<void()> done)
{
    new FirstPaintWatch(window, std::move(done));
}

} // namespace Varnel
