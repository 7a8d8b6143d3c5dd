#pragma once

#include <QColor>
#include <QList>
#include <QObject>

class QLineEdit;

namespace Varnel {

// Qt 5 style sheets cannot colour a line edit's placeholder, and the
// application sheet's text colour makes it as dark as typed text. This
// lightens the placeholder each time an edit is shown, after the style sheet
// has set up the edit's palette.
class PlaceholderTint : public QObject
{
    Q_OBJECT
public:
    static QColor defaultColor() { return QColor(0xA3, 0xA3, 0xA3); }
    static void install(const QList<QLineEdit *> &edits, const QColor &color = defaultColor());

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    PlaceholderTint(const QColor &color, QLineEdit *edit);

    QColor m_color;
};

} // namespace Varnel
