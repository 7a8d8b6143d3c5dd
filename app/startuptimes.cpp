#include "app/startuptimes.h"

#include "app/firstpaint.h"
#include "common/gui/iconcache.h"

#include <chrono>

namespace Varnel {

Q_LOGGING_CATEGORY(lcStartup, "varnel.startup", QtWarningMsg)

namespace {

QString milliseconds(qint64 ns)
{
    return QString::number(double(ns) / 1e6, 'f', 2);
}

} // namespace

// Before the application object exists the logging rules are not read yet,
// so the clock always runs and each step asks whether to log.
StartupTimes::StartupTimes()
    : m_entered(std::chrono::duration_cast<std::chrono::nanoseconds>(
                    std::chrono::steady_clock::now().time_since_epoch())
                    .count())
{
    m_clock.start();
}

void StartupTimes::step(const char *name)
{
    const qint64 now = m_clock.nsecsElapsed();
    if (lcStartup().isInfoEnabled()) {
        if (m_last == 0)
            qCInfo(lcStartup).noquote() << "entered" << m_entered;
        qCInfo(lcStartup).noquote() << "step" << name << milliseconds(now - m_last);
    }
    m_last = now;
}

void StartupTimes::logFirstPaint(QWidget *window)
{
    if (!lcStartup().isInfoEnabled())
        return;
    const QElapsedTimer clock = m_clock;
    afterFirstPaint(window, [clock] {
        qCInfo(lcStartup).noquote() << "pictures" << milliseconds(pictureDrawingNs());
        qCInfo(lcStartup).noquote() << "painted" << milliseconds(clock.nsecsElapsed());
    });
}

} // namespace Varnel
