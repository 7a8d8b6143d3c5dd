#pragma once

#include <QElapsedTimer>
#include <QLoggingCategory>

class QWidget;

namespace Varnel {

Q_DECLARE_LOGGING_CATEGORY(lcStartup)

// Where start-up spends its time, for anyone who asks why the window was
// slow to come: with QT_LOGGING_RULES="varnel.startup.info=true" the first
// step logs "entered <ns>" (when main was entered, on the steady clock),
// every step "step <name> <ms>", and once the window's first frame is done
// "pictures <ms>" (drawing pictures, within the steps) and "painted <ms>"
// (since main was entered).
class StartupTimes
{
public:
    StartupTimes();

    // The time since the previous step (or since construction) is <name>'s.
    void step(const char *name);
    // Logs once the window's first frame is painted, counting from construction.
    void logFirstPaint(QWidget *window);

private:
    qint64 m_entered;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
};

} // namespace Varnel
