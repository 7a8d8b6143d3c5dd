#pragma once

#include <QIcon>
#include <QList>
#include <QMovie>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

#include <functional>

class QAbstractButton;
class QLabel;
class QWidget;

namespace Varnel {

// Resource path of the animated spinner shown while the program waits.
QString spinnerResource();

// What a page shows while one of its blocking requests runs: the spinner
// turns on the pressed button in place of its text (or in a label of its
// own), and the button and the page's inputs are disabled, because the
// request's nested event loop keeps delivering input. stop() puts texts,
// icons and enabled states back.
class BusyState : public QObject
{
    Q_OBJECT
public:
    explicit BusyState(QAbstractButton *button, QObject *parent = nullptr);
    // The spinner turns in the label, shown only while busy.
    explicit BusyState(QLabel *spinner, QObject *parent = nullptr);

    // Widgets to disable while busy, besides the button itself.
    void setWidgets(const QList<QWidget *> &widgets);

    // Runs the request busy. A request that starts while one runs (a second
    // press or show delivered by the first one's nested event loop) is
    // refused: false, and nothing is run.
    bool run(const std::function<void()> &request);

    void start();
    void stop();
    bool isBusy() const { return m_busy; }

private:
    void showFrame();

    QPointer<QAbstractButton> m_button;
    QPointer<QLabel> m_spinner;
    QList<QPointer<QWidget>> m_widgets;
    // Only what start() disabled is enabled again: a widget disabled on
    // purpose before stays disabled.
    QList<QPointer<QWidget>> m_disabled;
    QMovie m_movie;
    QString m_text;
    QIcon m_icon;
    QSize m_iconSize;
    bool m_busy = false;
};

// Busy for the lifetime of the scope, so every way out of it ends the state.
class BusyScope
{
public:
    explicit BusyScope(BusyState &state) : m_state(state) { m_state.start(); }
    ~BusyScope() { m_state.stop(); }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    BusyState &m_state;
};

} // namespace Varnel
