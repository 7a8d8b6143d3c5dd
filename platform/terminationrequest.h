#pragma once

#include <QObject>

class QSocketNotifier;

namespace Varnel {

// Turns the system's requests to end the program (SIGTERM when the desktop
// session ends or someone runs kill, SIGINT for Ctrl-C in a terminal) into
// a signal on the GUI thread, so the program can end as its Quit does
// instead of dying with a tunnel up and unsaved settings. One per process.
class TerminationRequest : public QObject
{
    Q_OBJECT
public:
    explicit TerminationRequest(QObject *parent = nullptr);
    ~TerminationRequest() override;

signals:
    void requested();

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace Varnel
