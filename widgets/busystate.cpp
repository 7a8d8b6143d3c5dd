#include "widgets/busystate.h"

#include "common/gui/iconcache.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPixmap>

namespace Varnel {

namespace {

// Fits the spinner into the height of a text line of the accent buttons.
constexpr int kSpinnerSize = 26;

} // namespace

QString spinnerResource()
{
    return QStringLiteral(":/img/Spinner-1s-50px.gif");
}

namespace {

// Above the pixel ratio 1 the spinner of twice the size, whose frames come
// with the ratio 2 from its "@2x" name, so a label or icon shows them at
// their size in widget pixels, sharp.
bool largerSpinner()
{
    return pictureRatio() > 1.0;
}

} // namespace

BusyState::BusyState(QAbstractButton *button, QObject *parent)
    : QObject(parent)
    , m_button(button)
    , m_movie(largerSpinner() ? QStringLiteral(":/img/Spinner-1s-50px@2x.gif") : spinnerResource())
{
    m_movie.setScaledSize(QSize(kSpinnerSize, kSpinnerSize) * (largerSpinner() ? 2 : 1));
    m_movie.setCacheMode(QMovie::CacheAll);
    connect(&m_movie, &QMovie::frameChanged, this, &BusyState::showFrame);
}

BusyState::BusyState(QLabel *spinner, QObject *parent)
    : QObject(parent)
    , m_spinner(spinner)
    , m_movie(largerSpinner() ? QStringLiteral(":/img/Spinner-1s-50px@2x.gif") : spinnerResource())
{
    m_movie.setScaledSize(spinner->minimumSize() * (largerSpinner() ? 2 : 1));
    m_movie.setCacheMode(QMovie::CacheAll);
    spinner->setMovie(&m_movie);
    spinner->hide();
}

bool BusyState::run(const std::function<void()> &request)
{
    if (m_busy)
        return false;
    BusyScope scope(*this);
    request();
    return true;
}

void BusyState::setWidgets(const QList<QWidget *> &widgets)
{
    m_widgets.clear();
    for (QWidget *widget : widgets)
        m_widgets << widget;
}

void BusyState::start()
{
    if (m_busy)
        return;
    m_busy = true;

    QList<QPointer<QWidget>> targets = m_widgets;
    if (m_button)
        targets << QPointer<QWidget>(m_button.data());
    m_disabled.clear();
    for (const QPointer<QWidget> &widget : targets) {
        if (widget && !widget->testAttribute(Qt::WA_ForceDisabled) && !m_disabled.contains(widget)) {
            widget->setEnabled(false);
            m_disabled << widget;
        }
    }

    if (m_button) {
        m_text = m_button->text();
        m_icon = m_button->icon();
        m_iconSize = m_button->iconSize();
        m_button->setText(QString());
        m_button->setIconSize(QSize(kSpinnerSize, kSpinnerSize));
    }
    if (m_spinner)
        m_spinner->show();
    m_movie.start();
    showFrame();
}

void BusyState::stop()
{
    if (!m_busy)
        return;
    m_busy = false;
    m_movie.stop();
    if (m_spinner)
        m_spinner->hide();

    if (m_button) {
        m_button->setIcon(m_icon);
        m_button->setIconSize(m_iconSize);
        m_button->setText(m_text);
    }
    for (const QPointer<QWidget> &widget : qAsConst(m_disabled)) {
        if (widget)
            widget->setEnabled(true);
    }
    m_disabled.clear();
}

void BusyState::showFrame()
{
    if (!m_busy || !m_button)
        return;
    const QPixmap frame = m_movie.currentPixmap();
    // The button is disabled while busy: give the frame for that mode too,
    // or the style would grey the spinner out.
    QIcon icon;
    icon.addPixmap(frame, QIcon::Normal);
    icon.addPixmap(frame, QIcon::Disabled);
    m_button->setIcon(icon);
}

} // namespace Varnel
