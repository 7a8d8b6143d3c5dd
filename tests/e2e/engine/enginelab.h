#pragma once

#include "labfixture.h"
#include "unit/vpn/statusrecorder.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTest>

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

// Waits (processing events) until the recorder's last status is one of
// the given ones; false after timeoutMs.
inline bool waitFor(const StatusRecorder &recorder, QList<OpenConnectConnection::Status> wanted, int timeoutMs)
{
    return QTest::qWaitFor([&] { return wanted.contains(recorder.last()); }, timeoutMs);
}

// Resident memory of this process in KiB.
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

} // namespace EngineLab

} // namespace Varnel
