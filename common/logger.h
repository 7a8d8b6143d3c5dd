#pragma once

#include <QMetaType>
#include <QByteArray>
#include <QObject>
#include <QRecursiveMutex>
#include <QString>
#include <QVector>

#include <deque>

namespace Varnel {

// In-memory diagnostic log, usable from any thread. Keeps the most recent
// records, echoes each as an information line (so release builds, which
// print no debug lines, still show it) and announces it by signal. Callers
// never log a password, a token or a whole backend reply.
class Logger : public QObject
{
    Q_OBJECT
public:
    struct Message {
        qint64 time = 0;        // ms since the Unix epoch (UTC)
        int level = 0;
        int category = 0;
        QString message;
        int id = 0;             // 0 for the first record of the process
        Qt::HANDLE threadId = nullptr;
    };

    // Records kept at most; the oldest is dropped beyond this.
    static constexpr int kMaxRecords = 19999;
    // Bytes the kept records may take (long texts count compressed): every
    // login logs its reply, so a client that logs in again and again would
    // otherwise grow by the size of a reply each time. The newest record
    // stays whatever its size.
    static constexpr qint64 kMaxStoredBytes = 4 * 1024 * 1024;

    static Logger &instance();

    void log(const QString &message, const int &level, const int &category);
    void clear();
    // Records with an id greater than lastId (all of them for -1).
    QVector<Message> messagesSince(int lastId) const;

signals:
    void newLogMessage(Varnel::Logger::Message message);

private:
    Logger();

    // Recursive, and one lock for reading and writing: a receiver connected
    // directly runs under it and may read or log again (a recursive
    // QReadWriteLock cannot take a read lock while holding its write lock).
    // A record as kept. A long text (a login reply of thousands of servers
    // runs to megabytes) is kept compressed and unpacked when read.
    struct Stored {
        Message record;     // its message empty while packed
        QByteArray packed;  // compressed UTF-16 of the message
    };
    static Stored store(const Message &record);
    static Message restore(const Stored &stored);
    static qint64 bytesOf(const Stored &stored);

    mutable QRecursiveMutex m_lock;
    int m_lastId = -1;
    std::deque<Stored> m_records;   // O(1) drop of the oldest record
    qint64 m_storedBytes = 0;
};

} // namespace Varnel

Q_DECLARE_METATYPE(Varnel::Logger::Message)
