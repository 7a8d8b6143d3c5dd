#include "widgets/placeholdertint.h"

#include <QEvent>
#include <QLineEdit>

namespace Varnel {

PlaceholderTint::PlaceholderTint(const QColor &color, QLineEdit *edit)
    : QObject(edit)
    , m_color(color)
{
    edit->installEventFilter(this);
}

void PlaceholderTint::install(const QList<QLineEdit *> &edits, const QColor &color)
{
    for (QLineEdit *edit : edits)
        new PlaceholderTint(color, edit);
}

bool PlaceholderTint::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        auto *edit = static_cast<QWidget *>(watched);
        // Only this role is set, so the style sheet keeps every other colour,
        // including its :disabled text.
        QPalette tint;
        for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            tint.setColor(group, QPalette::PlaceholderText, m_color);
        edit->setPalette(tint.resolve(edit->palette()));
    }
    return false;
}

} // namespace Varnel
