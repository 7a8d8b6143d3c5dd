#include "common/logger.h"

#include <QSet>
#include <QThread>
#include <QtTest>

using namespace Varnel;

namespace {

QStringList g_debugLines;

// Keeps the 20 000-record test quiet and lets a test see the debug echo.
void captureDebug(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg)
        g_debugLines.append(text);
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT
private slots:
    void firstRecordAndEcho();
    void boundKeepsNewest();
    void messagesSinceWindow();
    void threadsGetConsecutiveIdsAndOwnThreadId();
    void directReceiverMayReenter();
};

// Must run first: the logger is process-wide and its ids never reset.
void TestLogger::firstRecordAndEcho()
{
    Logger &logger = Logger::instance();
    QSignalSpy spy(&logger, &Logger::newLogMessage);
    g_debugLines.clear();
    const auto previous = qInstallMessageHandler(captureDebug);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    logger.log(QStringLiteral("say \"hi\""), 1, 4);
    qInstallMessageHandler(previous);

    const auto records = logger.messagesSince(-1);
    QCOMPARE(records.size(), 1);
    const Logger::Message &m = records.first();
    QCOMPARE(m.id, 0);
    QCOMPARE(m.level, 1);
    QCOMPARE(m.category, 4);
    QCOMPARE(m.message, QStringLiteral("say \"hi\""));
    QVERIFY(m.time >= before && m.time <= QDateTime::currentMSecsSinceEpoch());
    QCOMPARE(m.threadId, QThread::currentThreadId());

    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<Logger::Message>().id, 0);
    // The debug stream quotes and escapes the text.
    QCOMPARE(g_debugLines, QStringList{QStringLiteral("\"say \\\"hi\\\"\"")});
}

void TestLogger::boundKeepsNewest()
{
    Logger &logger = Logger::instance();
    const auto previous = qInstallMessageHandler(captureDebug);
    for (int i = 1; i < 20000; ++i)
        logger.log(QString::number(i), 1, 4);
    qInstallMessageHandler(previous);

    // 20 000 calls in all (ids 0..19 999); the oldest one is gone.
    const auto records = logger.messagesSince(-1);
    QCOMPARE(records.size(), Logger::kMaxRecords);
    QCOMPARE(records.first().id, 1);
    QCOMPARE(records.last().id, 19999);
    QCOMPARE(records.last().message, QStringLiteral("19999"));
}

void TestLogger::messagesSinceWindow()
{
    Logger &logger = Logger::instance();
    logger.clear();
    QVERIFY(logger.messagesSince(-1).isEmpty());
    for (int i = 0; i < 5; ++i)
        logger.log(QStringLiteral("w%1").arg(i), 1, 4);
    const int last = logger.messagesSince(-1).last().id;
    QCOMPARE(logger.messagesSince(-1).size(), 5);   // ids continue after clear
    QCOMPARE(last, 20004);

    QVERIFY(logger.messagesSince(last).isEmpty());
    QVERIFY(logger.messagesSince(last + 10).isEmpty());
    const auto lastTwo = logger.messagesSince(last - 2);
    QCOMPARE(lastTwo.size(), 2);
    QCOMPARE(lastTwo.at(0).message, QStringLiteral("w3"));
    QCOMPARE(lastTwo.at(1).message, QStringLiteral("w4"));
    // Further behind than what is kept: everything kept.
    QCOMPARE(logger.messagesSince(last - 5).size(), 5);
    QCOMPARE(logger.messagesSince(3).size(), 5);
}

void TestLogger::threadsGetConsecutiveIdsAndOwnThreadId()
{
    Logger &logger = Logger::instance();
    const auto previous = qInstallMessageHandler(captureDebug);
    logger.log(QStringLiteral("marker"), 1, 4);
    const int start = logger.messagesSince(-1).last().id + 1;
    logger.clear();

    constexpr int perThread = 2000;
    Qt::HANDLE workerIds[2] = {};
    std::unique_ptr<QThread> threads[2];
    for (int t = 0; t < 2; ++t) {
        threads[t].reset(QThread::create([&logger, &workerIds, t] {
            workerIds[t] = QThread::currentThreadId();
            for (int i = 0; i < perThread; ++i)
                logger.log(QString::number(t), 1, 4);
        }));
        threads[t]->start();
    }
    for (auto &thread : threads)
        QVERIFY(thread->wait(30000));
    qInstallMessageHandler(previous);

    const auto records = logger.messagesSince(-1);
    QCOMPARE(records.size(), 2 * perThread);
    QVERIFY(workerIds[0] != QThread::currentThreadId() && workerIds[0] != workerIds[1]);
    for (int i = 0; i < records.size(); ++i) {
        QCOMPARE(records.at(i).id, start + i);
        QCOMPARE(records.at(i).threadId, workerIds[records.at(i).message.toInt()]);
    }
}

void TestLogger::directReceiverMayReenter()
{
    Logger &logger = Logger::instance();
    int seenBySlot = -1;
    bool reentered = false;
    const auto connection = connect(&logger, &Logger::newLogMessage, this,
        [&](const Logger::Message &m) {
            seenBySlot = logger.messagesSince(m.id - 1).size();
            if (!reentered) {
                reentered = true;
                logger.log(QStringLiteral("from receiver"), 1, 4);
            }
        }, Qt::DirectConnection);
    const auto previous = qInstallMessageHandler(captureDebug);
    logger.log(QStringLiteral("outer"), 1, 4);
    qInstallMessageHandler(previous);
    disconnect(connection);

    QCOMPARE(seenBySlot, 1);
    const auto lastTwo = logger.messagesSince(logger.messagesSince(-1).last().id - 2);
    QCOMPARE(lastTwo.size(), 2);
    QCOMPARE(lastTwo.at(0).message, QStringLiteral("outer"));
    QCOMPARE(lastTwo.at(1).message, QStringLiteral("from receiver"));
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
