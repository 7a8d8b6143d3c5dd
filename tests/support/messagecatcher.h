#pragma once

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Answers the program's modal message boxes while a test drives a page: it
// records the text of each box that opens and presses the chosen button
// (the box's first button unless another one was chosen and the box has it).
// It polls, so it also works for boxes opened inside nested event loops (a
// request's wait or another box).
class MessageCatcher : public QObject
{
    Q_OBJECT
public:
    explicit MessageCatcher(QObject *parent = nullptr);

    QStringList texts() const { return m_texts; }
    // The address field of each box that shows one (showAddress).
    QStringList addresses() const { return m_addresses; }
    // Title and parent of each box, in the order they opened.
    QStringList titles() const { return m_titles; }
    QList<QWidget *> parents() const { return m_parents; }
    void clear() { m_texts.clear(); m_titles.clear(); m_parents.clear(); m_addresses.clear(); }
    // The button to press from now on; NoButton presses the first one.
    void setAnswer(QMessageBox::StandardButton button) { m_answer = button; }

private:
    void answerOpenBox();

    QTimer m_poll;
    QStringList m_texts;
    QStringList m_addresses;
    QStringList m_titles;
    QList<QWidget *> m_parents;
    QMessageBox::StandardButton m_answer = QMessageBox::NoButton;
};
