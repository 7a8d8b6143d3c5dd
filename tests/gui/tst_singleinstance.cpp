#include "app/singleinstance.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWidget>

#include <atomic>

using Varnel::SingleInstance;

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void secondStartWakesHiddenMinimisedPrimary()
    {
        QTemporaryDir runtime;
        SingleInstance primary(runtime.path());
        QVERIFY(!primary.isRunning());

        // Minimised, then hidden to the tray.
        QWidget window;
        window.show();
        window.showMinimized();
        window.hide();
        QVERIFY(!window.isVisible());

        QStringList received;
        primary.setActivationWindow(&window);
        connect(&primary, &SingleInstance::messageReceived, &window, [&](const QString &message) {
            received << message;
            window.show();   // what start-up connects
        });

        SingleInstance second(runtime.path());
        QVERIFY(second.isRunning());

        // The sender blocks while it waits for the answer; the primary needs
        // this thread's event loop to give it.
        std::atomic<int> delivered{-1};
        QThread *sender = QThread::create([&] { delivered = second.sendMessage(QStringLiteral("Wake up!"), 5000); });
        sender->start();
        QTRY_COMPARE(delivered.load(), 1);
        sender->wait();
        delete sender;

        QCOMPARE(received, QStringList{QStringLiteral("Wake up!")});
        QVERIFY(window.isVisible());
        QVERIFY(!(window.windowState() & Qt::WindowMinimized));
        QTRY_VERIFY(window.isActiveWindow());
    }

    void leftoverSocketFileIsReplaced()
    {
        QTemporaryDir runtime;
        QFile leftover(SingleInstance::socketPath(runtime.path()));
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.close();

        SingleInstance primary(runtime.path());
        QVERIFY(!primary.isRunning());
        QSignalSpy received(&primary, &SingleInstance::messageReceived);

        QLocalSocket client;
        client.connectToServer(SingleInstance::socketPath(runtime.path()));
        QVERIFY(client.waitForConnected(1000));
        client.write("Wake up!\n");
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(received.first().first().toString(), QStringLiteral("Wake up!"));
    }

    void oversizedMessageIsDropped()
    {
        QTemporaryDir runtime;
        SingleInstance primary(runtime.path());
        QSignalSpy received(&primary, &SingleInstance::messageReceived);

        QLocalSocket client;
        client.connectToServer(SingleInstance::socketPath(runtime.path()));
        QVERIFY(client.waitForConnected(1000));
        client.write(QByteArray(200 * 1024, 'a'));
        QTRY_COMPARE(client.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(received.count(), 0);
    }

    void messageWithoutPrimaryGivesUp()
    {
        QTemporaryDir runtime;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!Varnel::sendInstanceMessage(SingleInstance::socketPath(runtime.path()), QStringLiteral("Wake up!"), 300));
        QVERIFY(clock.elapsed() >= 290);
        QVERIFY(clock.elapsed() < 2000);
    }
};

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
