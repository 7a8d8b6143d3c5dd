#pragma once

#include "labfixture.h"
#include "unit/vpn/statusrecorder.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTest>

#include <functional>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

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

// Takes CAP_NET_ADMIN away from this thread for good: from its effective,
// permitted and inheritable sets and from the bounding set, so that the
// OpenVPN it starts (as root) does not get it back either. Capabilities are
// per thread: call it while no other thread exists, and threads started
// afterwards inherit the reduced sets.
inline bool dropNetworkAdmin()
{
    if (prctl(PR_CAPBSET_DROP, CAP_NET_ADMIN, 0, 0, 0) != 0)
        return false;
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bit = 1u << (CAP_NET_ADMIN % 32);
    auto &word = data[CAP_NET_ADMIN / 32];
    word.effective &= ~bit;
    word.permitted &= ~bit;
    word.inheritable &= ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}

} // namespace EngineLab

} // namespace Varnel
