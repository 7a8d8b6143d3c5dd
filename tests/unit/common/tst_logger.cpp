#include "common/logger.h"

#include <QMutex>
#include <QThread>
#include <QtTest>


using namespace Varnel;

namespace {

QStringList g_infoLines;
QMutex g_infoLock;   // the echo comes from every logging thread

// Keeps the 20 000-record test quiet and lets a test see the echo, an
// information line (release builds print no debug lines).
void captureInfo(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    const QMutexLocker locker(&g_infoLock);
    if (type == QtInfoMsg)
        g_infoLines.append(text);
}

QStringList texts(const QVector<Logger::Message> &records)
{
    QStringList result;
    for (const Logger::Message &record : records)
        result << record.message;
    return result;
}

// Empties the log and returns the id its next record gets (ids never reset).
int clearedNextId()
{
    Logger &logger = Logger::instance();
    logger.log(QStringLiteral("marker"), 1, 4);
    const int next = logger.messagesSince(-1).last().id + 1;
    logger.clear();
    return next;
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT
    Logger &logger = Logger::instance();

private slots:
    void initTestCase() { qInstallMessageHandler(captureInfo); }

    // The process's first record has id 0; a record holds what was logged,
    // when and where, is announced, and is echoed quoted.
    void recordAndEcho()
    {
        QVERIFY(logger.messagesSince(-1).isEmpty());
        QSignalSpy spy(&logger, &Logger::newLogMessage);
        logger.log(QStringLiteral("say \"hi\""), 2, 4);
        const auto records = logger.messagesSince(-1);
        QCOMPARE(records.size(), 1);
        const Logger::Message &m = records.first();
        QCOMPARE((QList<int>{m.id, m.level, m.category}), (QList<int>{0, 2, 4}));
        QCOMPARE(m.message, QStringLiteral("say \"hi\""));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<Logger::Message>().id, 0);
        QCOMPARE(g_infoLines, QStringList{QStringLiteral("\"say \\\"hi\\\"\"")});
    }

    // One record more than is kept: the oldest one is gone; the window after
    // an id holds what came after it, or everything kept.
    void boundAndWindow()
    {
        const int start = clearedNextId();
        const int calls = Logger::kMaxRecords + 1;
        for (int i = 0; i < calls; ++i)
            logger.log(QString::number(start + i), 1, 4);
        const auto records = logger.messagesSince(-1);
        QCOMPARE(records.size(), Logger::kMaxRecords);
        QCOMPARE(records.first().id, start + 1);
        const int last = start + calls - 1;
        QCOMPARE(records.last().id, last);
        QCOMPARE(records.last().message, QString::number(last));
        QVERIFY(logger.messagesSince(last).isEmpty() && logger.messagesSince(last + 10).isEmpty());
        QCOMPARE(texts(logger.messagesSince(last - 2)), (QStringList{QString::number(last - 1), QString::number(last)}));
        QCOMPARE(logger.messagesSince(start - 2).size(), Logger::kMaxRecords);
    }

    // Long texts count by what they take: a client that logs a large reply
    // at every login must not grow for ever. The newest stays, whatever its size.
    void byteBudgetKeepsNewest()
    {
        clearedNextId();
        const auto noise = [](int length) {
            QString text(length, Qt::Uninitialized);
            for (QChar &c : text)
                c = QChar(ushort(0x4E00 + QRandomGenerator::global()->bounded(0x5000)));   // compresses badly
            return text;
        };
        QString last;
        for (int i = 0; i < 6; ++i) {
            last = noise(int(Logger::kMaxStoredBytes / 4));   // about half the budget each, as UTF-16
            logger.log(last, 1, 4);
        }
        auto records = logger.messagesSince(-1);
        QVERIFY2(records.size() >= 1 && records.size() <= 3, qPrintable(QString::number(records.size())));
        QCOMPARE(records.last().message, last);

        last = noise(int(Logger::kMaxStoredBytes));   // alone larger than the budget
        logger.log(last, 1, 4);
        QCOMPARE(texts(logger.messagesSince(-1)), QStringList{last});
    }

    // A worker and this thread log at the same time: ids stay consecutive
    // and each record names the thread that logged it.
    void threadsGetConsecutiveIdsAndOwnThreadId()
    {
        const int start = clearedNextId();
        constexpr int perThread = 2000;
        Qt::HANDLE worker = nullptr;
        const auto logAll = [this](const QString &text) {
            for (int i = 0; i < perThread; ++i)
                logger.log(text, 1, 4);
        };
        std::unique_ptr<QThread> thread(QThread::create([&] {
            worker = QThread::currentThreadId();
            logAll(QStringLiteral("worker"));
        }));
        thread->start();
        logAll(QStringLiteral("main"));
        QVERIFY(thread->wait(30000));
        const auto records = logger.messagesSince(-1);
        QCOMPARE(records.size(), 2 * perThread);
        for (int i = 0; i < records.size(); ++i) {
            QCOMPARE(records.at(i).id, start + i);
            QCOMPARE(records.at(i).threadId, records.at(i).message == "main" ? QThread::currentThreadId() : worker);
        }
    }

    void directReceiverMayReenter()
    {
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
