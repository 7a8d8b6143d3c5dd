#include "common/logger.h"

#include <QMutex>
#include <QThread>
#include <QtTest>

#include <atomic>

using namespace Varnel;

namespace {

QStringList g_debugLines;
QMutex g_debugLock;   // the echo comes from every logging thread

// Keeps the 20 000-record test quiet and lets a test see the echo, an
// information line (release builds print no debug lines).
void captureDebug(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    const QMutexLocker locker(&g_debugLock);
    if (type == QtInfoMsg)
        g_debugLines.append(text);
}

QStringList texts(const QVector<Logger::Message> &records)
{
    QStringList result;
    for (const Logger::Message &record : records)
        result << record.message;
    return result;
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

    QtMessageHandler m_previousHandler = nullptr;

    // Empties the log and returns the id its next record gets (ids never
    // reset, so a test counts from here, whatever ran before it).
    static int clearedNextId()
    {
        Logger &logger = Logger::instance();
        logger.log(QStringLiteral("marker"), 1, 4);
        const int next = logger.messagesSince(-1).last().id + 1;
        logger.clear();
        return next;
    }

private slots:
    // Runs before any test function: the process's first record has id 0.
    void initTestCase()
    {
        m_previousHandler = qInstallMessageHandler(captureDebug);
        Logger &logger = Logger::instance();
        QVERIFY(logger.messagesSince(-1).isEmpty());
        logger.log(QStringLiteral("first"), 1, 4);
        QCOMPARE(logger.messagesSince(-1).size(), 1);
        QCOMPARE(logger.messagesSince(-1).first().id, 0);
    }
    void cleanupTestCase() { qInstallMessageHandler(m_previousHandler); }

    void recordAndEcho()
    {
        Logger &logger = Logger::instance();
        const int id = clearedNextId();
        QSignalSpy spy(&logger, &Logger::newLogMessage);
        g_debugLines.clear();
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        logger.log(QStringLiteral("say \"hi\""), 1, 4);

        const auto records = logger.messagesSince(-1);
        QCOMPARE(records.size(), 1);
        const Logger::Message &m = records.first();
        QCOMPARE((QList<int>{m.id, m.level, m.category}), (QList<int>{id, 1, 4}));
        QCOMPARE(m.message, QStringLiteral("say \"hi\""));
        QVERIFY(m.time >= before && m.time <= QDateTime::currentMSecsSinceEpoch());
        QCOMPARE(m.threadId, QThread::currentThreadId());
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<Logger::Message>().id, id);
        // The debug stream quotes and escapes the text.
        QCOMPARE(g_debugLines, QStringList{QStringLiteral("\"say \\\"hi\\\"\"")});
    }

    void boundKeepsNewest()
    {
        Logger &logger = Logger::instance();
        const int start = clearedNextId();
        const int calls = Logger::kMaxRecords + 1;
        for (int i = 0; i < calls; ++i)
            logger.log(QString::number(start + i), 1, 4);
        // One call more than is kept: the oldest one is gone.
        const auto records = logger.messagesSince(-1);
        QCOMPARE(records.size(), Logger::kMaxRecords);
        QCOMPARE(records.first().id, start + 1);
        QCOMPARE(records.last().id, start + calls - 1);
        QCOMPARE(records.last().message, QString::number(start + calls - 1));
    }

    // Long texts count by what they take: a client that logs a large reply
    // at every login must not grow for ever. The newest stays, whatever its size.
    void byteBudgetKeepsNewest()
    {
        Logger &logger = Logger::instance();
        clearedNextId();
        const auto noise = [](int length) {
            QString text(length, Qt::Uninitialized);
            for (QChar &c : text)
                c = QChar(ushort(0x4E00 + QRandomGenerator::global()->bounded(0x5000)));   // compresses badly
            return text;
        };
        const int length = int(Logger::kMaxStoredBytes / 4);   // about half the budget each, as UTF-16
        QString last;
        for (int i = 0; i < 6; ++i) {
            last = noise(length);
            logger.log(last, 1, 4);
        }
        auto records = logger.messagesSince(-1);
        QVERIFY2(records.size() >= 1 && records.size() <= 3, qPrintable(QString::number(records.size())));
        QCOMPARE(records.last().message, last);

        last = noise(int(Logger::kMaxStoredBytes));   // alone larger than the budget
        logger.log(last, 1, 4);
        records = logger.messagesSince(-1);
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.last().message, last);
    }

    void messagesSinceWindow()
    {
        Logger &logger = Logger::instance();
        const int start = clearedNextId();
        QVERIFY(logger.messagesSince(-1).isEmpty());
        for (int i = 0; i < 5; ++i)
            logger.log(QStringLiteral("w%1").arg(i), 1, 4);
        const int last = logger.messagesSince(-1).last().id;
        QCOMPARE(logger.messagesSince(-1).size(), 5);
        QCOMPARE(last, start + 4);   // ids continue after clear
        QVERIFY(logger.messagesSince(last).isEmpty());
        QVERIFY(logger.messagesSince(last + 10).isEmpty());
        QCOMPARE(texts(logger.messagesSince(last - 2)), (QStringList{"w3", "w4"}));
        // Further behind than what is kept: everything kept.
        QCOMPARE(logger.messagesSince(last - 5).size(), 5);
        QCOMPARE(logger.messagesSince(start - 2).size(), 5);
    }

    void threadsGetConsecutiveIdsAndOwnThreadId()
    {
        Logger &logger = Logger::instance();
        const int start = clearedNextId();
        constexpr int perThread = 2000;
        Qt::HANDLE workerIds[2] = {};
        std::unique_ptr<QThread> threads[2];
        // Both run before either logs: they overlap, and a finished thread's id
        // cannot be handed to the other.
        std::atomic<int> running{0};
        for (int t = 0; t < 2; ++t) {
            threads[t].reset(QThread::create([&logger, &workerIds, &running, t] {
                workerIds[t] = QThread::currentThreadId();
                ++running;
                while (running.load() < 2)
                    QThread::yieldCurrentThread();
                for (int i = 0; i < perThread; ++i)
                    logger.log(QString::number(t), 1, 4);
            }));
            threads[t]->start();
        }
        for (auto &thread : threads)
            QVERIFY(thread->wait(30000));

        const auto records = logger.messagesSince(-1);
        QCOMPARE(records.size(), 2 * perThread);
        QVERIFY(workerIds[0] != QThread::currentThreadId() && workerIds[0] != workerIds[1]);
        for (int i = 0; i < records.size(); ++i) {
            QCOMPARE(records.at(i).id, start + i);
            QCOMPARE(records.at(i).threadId, workerIds[records.at(i).message.toInt()]);
        }
    }

    void directReceiverMayReenter()
    {
        Logger &logger = Logger::instance();
        int seenBySlot = -1;
        bool reentered = false;
        const auto connection = connect(&logger, &Logger::newLogMessage, this, [&](const Logger::Message &m) {
            seenBySlot = logger.messagesSince(m.id - 1).size();
            if (!reentered) {
                reentered = true;
                logger.log(QStringLiteral("from receiver"), 1, 4);
            }
        }, Qt::DirectConnection);
        logger.log(QStringLiteral("outer"), 1, 4);
        disconnect(connection);
        QCOMPARE(seenBySlot, 1);
        QCOMPARE(texts(logger.messagesSince(logger.messagesSince(-1).last().id - 2)),
                 (QStringList{"outer", "from receiver"}));
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
