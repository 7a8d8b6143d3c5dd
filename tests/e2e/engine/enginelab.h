#pragma once

#include "labfixture.h"
#include "unit/vpn/statusrecorder.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTest>

#include <functional>


namespace Varnel {

// What the engine's lab tests share.
namespace EngineLab {

// True when the lab's target answers: it does only through a tunnel.
inline bool targetReachable(int timeoutMs = 3000)
{
    QTcpSocket socket;
    socket.connectToHost(Lab::value("TARGET"), quint16(Lab::value("IPERF_PORT").toUInt()));
    return socket.waitForConnected(timeoutMs);
}

// A fresh tunnel may need a moment before its route carries traffic.
inline bool targetReachableSoon()
{
    return QTest::qWaitFor([] { return targetReachable(1000); }, 10000);
}

// Waits (processing events) until the recorder's last status is one of
// the given ones; false after timeoutMs.
inline bool waitFor(const StatusRecorder &recorder, QList<OpenConnectConnection::Status> wanted, int timeoutMs)
{
    return QTest::qWaitFor([&] { return wanted.contains(recorder.last()); }, timeoutMs);
}

// Connects and waits for the attempt's outcome (Connected or
// Disconnected); -1 when it did not start or did not end in time.
inline OpenConnectConnection::Status attempt(OpenConnectConnection &engine, const StatusRecorder &recorder)
{
    using C = OpenConnectConnection;
    const int before = recorder.statuses.size();
    if (engine.connect() != C::Started)
        return C::Status(-1);
    const bool ended = QTest::qWaitFor(
        [&] {
            return recorder.statuses.size() > before
                && (recorder.last() == C::Connected || recorder.last() == C::Disconnected);
        },
        30000);
    return ended ? recorder.last() : C::Status(-1);
}

inline qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

inline int openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

// Runs warm-up cycles, then 20 more, and checks that the 20 leave no
// descriptor open and do not grow resident memory: a session that is never
// freed costs far more than 1 MiB over 20 rounds. Call from a test function.
inline void verifyCyclesDoNotGrow(const char *what, int warmUp, const std::function<void()> &cycle)
{
    qint64 rssBefore = 0;
    int descriptorsBefore = 0;
    for (int i = 0; i < warmUp + 20; ++i) {
        if (i == warmUp) {
            rssBefore = residentKiB();
            descriptorsBefore = openDescriptors();
        }
        cycle();
        if (QTest::currentTestFailed())
            return;
    }
    const qint64 rssAfter = residentKiB();
    const int descriptorsAfter = openDescriptors();
    qInfo("20 %s sessions: RSS %lld KiB -> %lld KiB, descriptors %d -> %d", what, rssBefore, rssAfter,
          descriptorsBefore, descriptorsAfter);
    QCOMPARE(descriptorsAfter, descriptorsBefore);
    QVERIFY2(rssAfter - rssBefore < 1024, qPrintable(QString::number(rssAfter - rssBefore)));
}

// The capability lines of a process's status ("CapPrm:\t0000..."), for
// checking that it holds none.
inline QStringList capabilities(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    QStringList lines;
    if (status.open(QIODevice::ReadOnly | QIODevice::Text)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("CapPrm") || line.startsWith("CapEff") || line.startsWith("CapAmb"))
                lines << QString::fromLatin1(line.simplified());
        }
    }
    return lines;
}

inline const QStringList &noCapabilities()
{
    static const QStringList none {QStringLiteral("CapPrm: 0000000000000000"),
                                   QStringLiteral("CapEff: 0000000000000000"),
                                   QStringLiteral("CapAmb: 0000000000000000")};
    return none;
}

// True while a network device of that name exists here.
inline bool deviceExists(const QString &name)
{
    return QFile::exists(QStringLiteral("/sys/class/net/") + name);
}

} // namespace EngineLab

} // namespace Varnel
