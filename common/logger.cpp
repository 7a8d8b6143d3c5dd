#include "common/logger.h"

#include <QByteArray>
#include <QDateTime>
#include <QDebug>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <iterator>

namespace Varnel {

namespace {

// Texts from this length on are kept compressed; shorter ones gain little.
constexpr int kPackFrom = 16 * 1024;
// Fastest zlib level: logging runs on the caller's thread, and JSON text
// shrinks to a tenth even so.
constexpr int kPackLevel = 1;

} // namespace

Logger::Stored Logger::store(const Message &record)
{
    Stored stored;
    stored.record = record;
    if (record.message.size() >= kPackFrom) {
        // UTF-16 code units as they are, so that any text comes back unchanged.
        stored.packed = qCompress(reinterpret_cast<const uchar *>(record.message.constData()),
                                  record.message.size() * int(sizeof(QChar)), kPackLevel);
        stored.packed.squeeze();   // qCompress leaves the worst-case capacity
        stored.record.message = QString();
    }
    return stored;
}

Logger::Message Logger::restore(const Stored &stored)
{
    if (stored.packed.isEmpty())
        return stored.record;
    Message record = stored.record;
    const QByteArray units = qUncompress(stored.packed);
    record.message = QString(reinterpret_cast<const QChar *>(units.constData()), units.size() / int(sizeof(QChar)));
    return record;
}

qint64 Logger::bytesOf(const Stored &stored)
{
    return qint64(stored.record.message.size()) * qint64(sizeof(QChar)) + stored.packed.size();
}

Logger::Logger()
{
    // Receivers on other threads get the record through queued connections.
    qRegisterMetaType<Logger::Message>();
    qRegisterMetaType<Logger::Message>("Logger::Message");
}

Logger &Logger::instance()
{
    static Logger logger;
    return logger;
}

void Logger::log(const QString &message, const int &level, const int &category)
{
    QMutexLocker locker(&m_lock);
    Message record;
    record.time = QDateTime::currentMSecsSinceEpoch();
    record.level = level;
    record.category = category;
    record.message = message;
    record.id = ++m_lastId;
    record.threadId = QThread::currentThreadId();

    m_records.push_back(store(record));
    m_storedBytes += bytesOf(m_records.back());
    while (m_records.size() > 1
           && (m_records.size() > size_t(kMaxRecords) || m_storedBytes > kMaxStoredBytes)) {
        m_storedBytes -= bytesOf(m_records.front());
        m_records.pop_front();
    }

    qInfo() << message;
    // Emitted under the (recursive) lock so that receivers see records in id order.
    emit newLogMessage(record);
}

void Logger::clear()
{
    QMutexLocker locker(&m_lock);
    m_records.clear();
    m_storedBytes = 0;
}

QVector<Logger::Message> Logger::messagesSince(int lastId) const
{
    QMutexLocker locker(&m_lock);
    const qint64 kept = qint64(m_records.size());
    const qint64 behind = qint64(m_lastId) - lastId;
    qint64 count = 0;
    if (lastId == -1 || behind >= kept)
        count = kept;
    else if (behind >= 1)
        count = behind;
    QVector<Message> result;
    result.reserve(int(count));
    std::transform(m_records.end() - count, m_records.end(), std::back_inserter(result), restore);
    return result;
}

} // namespace Varnel
