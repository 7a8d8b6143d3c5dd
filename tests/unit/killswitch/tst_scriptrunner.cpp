#include "common/logger.h"
#include "vpn/scriptrunner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Varnel;

// The bounded runner behind the kill-switch scripts and ping.
class TestScriptRunner : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void finishedWithExitCodeAndOutput();
    void endingsThatAreNotAFinish();
    void inputIsAtEndOfFile();
    void overrunIsLoggedAndKilledWithItsChildren();

private:
    // Writes an executable shell script with the given body.
    QString script(const QString &name, const QString &body)
    {
        const QString path = m_dir->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write("#!/bin/sh\n" + body.toUtf8() + '\n');
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    static bool alive(qint64 pid)
    {
        // A zombie counts as gone: only its parent's wait is missing.
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray text = stat.readAll();
        const int end = text.lastIndexOf(')');
        return end > 0 && text.mid(end + 2, 1) != "Z";
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestScriptRunner::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestScriptRunner::finishedWithExitCodeAndOutput()
{
    const QString path = script(QStringLiteral("three.sh"), QStringLiteral("echo out; echo because >&2; exit 3"));
    ScriptResult result = ScriptRunner().run(path);
    QCOMPARE(result.outcome, ScriptResult::Finished);
    QCOMPARE(result.exitCode, 3);
    QVERIFY(!result.succeeded());
    QCOMPARE(result.standardOutput, QByteArray("out\n"));
    QCOMPARE(result.standardError, QByteArray("because\n"));

    result = ScriptRunner().run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit 0")});
    QVERIFY(result.succeeded());
}

void TestScriptRunner::endingsThatAreNotAFinish()
{
    QCOMPARE(ScriptRunner().run(m_dir->filePath(QStringLiteral("missing.sh"))).outcome, ScriptResult::FailedToStart);

    const QString plain = script(QStringLiteral("plain.sh"), QStringLiteral("exit 0"));
    QVERIFY(QFile::setPermissions(plain, QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(ScriptRunner().run(plain).outcome, ScriptResult::FailedToStart);

    const ScriptResult crashed = ScriptRunner().run(script(QStringLiteral("crash.sh"), QStringLiteral("kill -SEGV $$")));
    QCOMPARE(crashed.outcome, ScriptResult::Crashed);
    QVERIFY(!crashed.succeeded());
}

void TestScriptRunner::inputIsAtEndOfFile()
{
    // A script that reads its input must not wait for the time-out.
    const QString path = script(QStringLiteral("read.sh"), QStringLiteral("cat; echo done"));
    QElapsedTimer clock;
    clock.start();
    const ScriptResult result = ScriptRunner(10000).run(path);
    QCOMPARE(result.outcome, ScriptResult::Finished);
    QCOMPARE(result.standardOutput, QByteArray("done\n"));
    QVERIFY(clock.elapsed() < 5000);
}

void TestScriptRunner::overrunIsLoggedAndKilledWithItsChildren()
{
    // The script starts a child (not exec) and both report their ids.
    const QString pids = m_dir->filePath(QStringLiteral("pids"));
    const QString path = script(QStringLiteral("hang.sh"),
                                QStringLiteral("echo $$ >'%1'\nsleep 30 &\necho $! >>'%1'\nwait").arg(pids));
    const auto before = Logger::instance().messagesSince(-1);
    const int lastLog = before.isEmpty() ? -1 : before.last().id;

    QElapsedTimer clock;
    clock.start();
    const ScriptResult result = ScriptRunner(700).run(path);
    QCOMPARE(result.outcome, ScriptResult::TimedOut);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));

    QFile file(pids);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> ids = file.readAll().trimmed().split('\n');
    QCOMPARE(ids.size(), 2);
    for (const QByteArray &id : ids) {
        // The orphaned child is reaped by init, which may take a moment.
        QTRY_VERIFY_WITH_TIMEOUT(!alive(id.toLongLong()), 3000);
    }

    const auto messages = Logger::instance().messagesSince(lastLog);
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.first().message.contains(path));
    QVERIFY(messages.first().message.contains(QLatin1String("700 ms")));
}

QTEST_GUILESS_MAIN(TestScriptRunner)
#include "tst_scriptrunner.moc"
