#include "common/gui/afterpaint.h"

#include <QCoreApplication>
#include <QEvent>

namespace Varnel {

namespace {

const QEvent::Type kCall = QEvent::Type(QEvent::registerEventType());

class PostedCall : public QObject
{
public:
    PostedCall(QObject *context, std::function<void()> fn)
        : QObject(context)
        , m_fn(std::move(fn))
    {
    }

    bool event(QEvent *event) override
    {
        if (event->type() != kCall)
            return QObject::event(event);
        m_fn();
        deleteLater();
        return true;
    }

private:
    std::function<void()> m_fn;
};

} // namespace

void afterPendingPaints(QObject *context, std::function<void()> fn)
{
    // Paint requests are posted with the low priority; one step lower comes after them.
    QCoreApplication::postEvent(new PostedCall(context, std::move(fn)), new QEvent(kCall), Qt::LowEventPriority - 1);
}

} // namespace Varnel
