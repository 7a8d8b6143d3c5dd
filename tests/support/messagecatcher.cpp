#include "messagecatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>

MessageCatcher::MessageCatcher(QObject *parent)
    : QObject(parent)
{
    connect(&m_poll, &QTimer::timeout, this, &MessageCatcher::answerOpenBox);
    m_poll.start(10);
}

void MessageCatcher::answerOpenBox()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || box->buttons().isEmpty())
        return;
    m_texts << box->text();
    if (auto *address = box->findChild<QLineEdit *>(QStringLiteral("editAddress")))
        m_addresses << address->text();
    m_titles << box->windowTitle();
    m_parents << box->parentWidget();
    QAbstractButton *chosen = m_answer != QMessageBox::NoButton ? box->button(m_answer) : nullptr;
    (chosen ? chosen : box->buttons().constFirst())->click();
}
