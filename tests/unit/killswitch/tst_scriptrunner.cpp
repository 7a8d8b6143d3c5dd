#include "common/logger.h"
#include "vpn/scriptrunner.h"
#include "unit/vpn/logwatch.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Varnel;

// The bounded runner behind the kill-switch scripts and ping.
class TestScriptRunner : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    // An executable shell script with the given body (empty: none).
    QString script(const QString &body)
    {
        const QString path = m_dir.filePath(QString::number(++m_scripts));
        QFile file(path);
        if (!body.isEmpty() && file.open(QIODevice::WriteOnly)) {
            file.write("#!/bin/sh\n" + body.toUtf8() + '\n');
            file.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        }
        return path;
    }
    int m_scripts = 0;

private slots:
    void outcome_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output");   // standard output, then standard error
        QTest::newRow("finished, failed") << "echo out; echo because >&2; exit 3" << int(ScriptResult::Finished) << 3
                                          << QByteArray("out\nbecause\n");
        // A script that reads its input must not wait for the time-out.
        QTest::newRow("input at its end, succeeded") << "cat; echo done" << int(ScriptResult::Finished) << 0
                                                     << QByteArray("done\n");
        QTest::newRow("missing") << "" << int(ScriptResult::FailedToStart) << -1 << QByteArray();
        QTest::newRow("crashed") << "kill -SEGV $$" << int(ScriptResult::Crashed) << -1 << QByteArray();
    }

    void outcome()
    {
        QFETCH(QString, body);
        QFETCH(int, exitCode);
        QElapsedTimer clock;
        clock.start();
        const ScriptResult result = ScriptRunner(10000).run(script(body));
        QVERIFY(clock.elapsed() < 5000);
        QTEST(int(result.outcome), "outcome");
        if (exitCode >= 0)
            QCOMPARE(result.exitCode, exitCode);
        QCOMPARE(result.succeeded(), result.outcome == ScriptResult::Finished && exitCode == 0);
        if (result.outcome == ScriptResult::Finished)
            QTEST(result.standardOutput + result.standardError, "output");
    }

    void overrunIsLoggedAndKilledWithItsChildren()
    {
        // The script starts a child (not exec) and both report their ids.
        const QString pids = m_dir.filePath(QStringLiteral("pids"));
        const QString path = script(QStringLiteral("echo $$ >'%1'\nsleep 30 &\necho $! >>'%1'\nwait").arg(pids));
        const LogWatch log;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(ScriptRunner(700).run(path).outcome, ScriptResult::TimedOut);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QFile file(pids);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> ids = file.readAll().trimmed().split('\n');
        QCOMPARE(ids.size(), 2);
        for (const QByteArray &id : ids) {
            // The orphaned child is reaped by init, which may take a moment; a zombie counts as gone.
            QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists("/proc/" + id + "/stat")
                                         || readStat(id).mid(readStat(id).lastIndexOf(')') + 2, 1) == "Z", 3000);
        }
        QCOMPARE(log.lines().size(), 1);
        QVERIFY(log.lines().first().contains(path) && log.lines().first().contains(QLatin1String("700 ms")));
    }

private:
    static QByteArray readStat(const QByteArray &pid)
    {
        QFile stat("/proc/" + pid + "/stat");
        return stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray(") Z");
    }
};

QTEST_GUILESS_MAIN(TestScriptRunner)
#include "tst_scriptrunner.moc"
