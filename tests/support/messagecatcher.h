#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

// Answers the program's modal message boxes while a test drives a page: it
// records the text of each box that opens and presses the box's first
// button. It polls, so it also works for boxes opened inside nested event
// loops (a request's wait or another box).
class MessageCatcher : public QObject
{
    Q_OBJECT
public:
    explicit MessageCatcher(QObject *parent = nullptr);

    QStringList texts() const { return m_texts; }
    void clear() { m_texts.clear(); }

private:
    void answerOpenBox();

    QTimer m_poll;
    QStringList m_texts;
};
