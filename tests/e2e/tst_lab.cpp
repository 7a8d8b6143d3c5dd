#include "labfixture.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpSocket>
#include <QtTest>

using Varnel::Lab;

// The lab as a test program sees it: the values it is handed, the servers
// behind them, and control over those servers.
class TestLab : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void ocservKeyMatchesPin();
    void openVpnTemplateAsDelivered();
    void targetOnlyThroughTunnel();
    void ocservKillAndStart();

private:
    static quint16 ocservPort() { return quint16(Lab::value("OCSERV_PORT").toUInt()); }

    // Connects to host:port; returns the socket error, or -1 on success.
    static int connectError(const QString &host, quint16 port)
    {
        QTcpSocket socket;
        socket.connectToHost(host, port);
        if (socket.waitForConnected(3000))
            return -1;
        return socket.error();
    }
};

void TestLab::initTestCase()
{
    if (!Lab::inside())
        QSKIP("runs only inside the VPN lab (tests/e2e/lab/run-in-lab.sh)");
    for (const char *key : {"OCSERV_GATEWAY", "OCSERV_PORT", "OCSERV_PIN", "OPENVPN_ADDRESS", "OPENVPN_CA",
                            "OPENVPN_TEMPLATE_B64", "USER", "PASSWORD", "BAD_PASSWORD", "TARGET", "IPERF_PORT"})
        QVERIFY2(!Lab::value(key).isEmpty(), key);
}

void TestLab::ocservKeyMatchesPin()
{
    QSslSocket socket;
    // Self-signed: the pin is the trust anchor, not a CA.
    socket.setPeerVerifyMode(QSslSocket::QueryPeer);
    socket.connectToHostEncrypted(Lab::value("OCSERV_GATEWAY"), ocservPort());
    QVERIFY2(socket.waitForEncrypted(10000), qPrintable(socket.errorString()));
    const QByteArray spki = socket.peerCertificate().publicKey().toDer();
    QVERIFY(!spki.isEmpty());
    const QString pin = QStringLiteral("pin-sha256:")
        + QString::fromLatin1(QCryptographicHash::hash(spki, QCryptographicHash::Sha256).toBase64());
    QCOMPARE(pin, Lab::value("OCSERV_PIN"));
}

void TestLab::openVpnTemplateAsDelivered()
{
    const QByteArray config = QByteArray::fromBase64(Lab::openVpnTemplateBase64());
    QVERIFY(!config.contains('\0'));
    const QList<QByteArray> lines = config.split('\n');
    for (const char *line : {"client", "dev tun", "proto udp", "remote remoteIP remotePort", "auth-user-pass"})
        QVERIFY2(lines.contains(line), line);

    const int begin = config.indexOf("<ca>\n");
    const int end = config.indexOf("</ca>");
    QVERIFY(begin >= 0 && end > begin);
    const QList<QSslCertificate> inlineCa = QSslCertificate::fromData(config.mid(begin + 5, end - begin - 5));
    QFile caFile(Lab::value("OPENVPN_CA"));
    QVERIFY(caFile.open(QIODevice::ReadOnly));
    const QList<QSslCertificate> ca = QSslCertificate::fromData(caFile.readAll());
    QCOMPARE(inlineCa.size(), 1);
    QCOMPARE(inlineCa, ca);

    // The address the client splits at ":" to fill the placeholders.
    const QStringList address = Lab::value("OPENVPN_ADDRESS").split(QLatin1Char(':'));
    QCOMPARE(address.size(), 2);
    QCOMPARE(address.at(1).toUInt(), Lab::value("OPENVPN_PORT").toUInt());
}

void TestLab::targetOnlyThroughTunnel()
{
    QCOMPARE(connectError(Lab::value("OCSERV_GATEWAY"), ocservPort()), -1);
    const int error = connectError(Lab::value("TARGET"), quint16(Lab::value("IPERF_PORT").toUInt()));
    QVERIFY2(error != -1, "the target must not be reachable without a tunnel");
}

void TestLab::ocservKillAndStart()
{
    QVERIFY2(Lab::killServer(QStringLiteral("ocserv")), qPrintable(Lab::lastError()));
    QCOMPARE(connectError(Lab::value("OCSERV_GATEWAY"), ocservPort()), int(QAbstractSocket::ConnectionRefusedError));
    QVERIFY2(Lab::startServer(QStringLiteral("ocserv")), qPrintable(Lab::lastError()));
    QCOMPARE(connectError(Lab::value("OCSERV_GATEWAY"), ocservPort()), -1);
    QVERIFY(!Lab::killServer(QStringLiteral("no-such-server")));
    QVERIFY(Lab::lastError().contains(QLatin1String("unknown server")));
}

QTEST_GUILESS_MAIN(TestLab)
#include "tst_lab.moc"
