#include "vpn/openconnectconnection.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

using Varnel::OpenConnectConnection;

class TestEngine : public QObject
{
    Q_OBJECT
private slots:
    void initialisesTls() { QVERIFY(OpenConnectConnection::initTls()); }

    void statusFollowsSignalOnOwnThread()
    {
        const auto engine = OpenConnectConnection::instance();
        QCOMPARE(engine->status(), OpenConnectConnection::Disconnected);

        // Emitted from a worker thread, as the session does: the field changes
        // one turn of this thread's event loop later, not at once.
        QThread *worker = QThread::create([&] { emit engine->statusChanged(OpenConnectConnection::Connecting); });
        worker->start();
        worker->wait();
        delete worker;
        QCOMPARE(engine->status(), OpenConnectConnection::Disconnected);
        QTRY_COMPARE(engine->status(), OpenConnectConnection::Connecting);

        emit engine->statusChanged(OpenConnectConnection::Connected);
        QCOMPARE(engine->status(), OpenConnectConnection::Connecting);
        QTRY_COMPARE(engine->status(), OpenConnectConnection::Connected);
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
