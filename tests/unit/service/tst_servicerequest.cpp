#include "service/request.h"

#include <QtTest>

using namespace Varnel::Service;

// Every request the service reads goes through readRequest(): one table of
// what it takes and what it refuses, with the code and field the reply names.
class TestServiceRequest : public QObject
{
    Q_OBJECT

    static QString outcome(const std::string &payload)
    {
        const auto request = Varnel::Service::readRequest(payload);
        if (std::holds_alternative<Request>(request))
            return QStringLiteral("ok");
        const Refusal &refusal = std::get<Refusal>(request);
        return QString::fromStdString(refusal.field.empty() ? refusal.code : refusal.code + " " + refusal.field);
    }

    static std::string open(const std::string &endpoint, const std::string &port = "1194",
                            const std::string &transport = "udp")
    {
        return "v1 open\nprotocol openvpn\nendpoint " + endpoint + "\nport " + port + "\ntransport " + transport
               + "\nkillswitch on\n";
    }

    static std::string configure(const std::string &fields, const std::string &device = "vvpn0")
    {
        return "v1 configure\ndevice " + device + "\n" + fields;
    }

    // count lines of pattern, %1 numbered from 1.
    static std::string repeated(const char *pattern, int count)
    {
        std::string out;
        for (int i = 1; i <= count; ++i)
            out += QString::fromLatin1(pattern).arg(i).toStdString();
        return out;
    }

private slots:
    void readRequest_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const std::string &payload, const char *expected) {
            QTest::newRow(name) << QByteArray::fromStdString(payload) << QString::fromLatin1(expected);
        };
        row("status", "v1 status\n", "ok");
        row("open IPv4", open("192.0.2.1"), "ok");
        row("open IPv6", "v1 open\nprotocol openconnect\nendpoint 2001:db8::1\nport 443\ntransport both\nkillswitch off\n", "ok");
        row("configure, everything",
            configure("address4 10.8.0.2/24\naddress6 fd00::2/64\nmtu 1400\nroute 0.0.0.0/0\nroute ::/0\n"
                      "exclude 192.168.1.0/24\ndns 10.8.0.1\ndns fd00::1\n"),
            "ok");
        row("close named", "v1 close\ndevice vvpn99\n", "ok");
        row("kill switch", "v1 killswitch\nstate off\n", "ok");
        row("1000 routes", configure(repeated("route fd00:%1::/32\n", 1000)), "ok");

        row("another version", "v2 status\n", "version");
        row("unknown verb", "v1 reboot\n", "malformed");
        row("no line feed at the end", "v1 status", "malformed");
        row("control character", configure("mtu 14\t00\n"), "malformed");
        row("field missing", "v1 open\nprotocol openvpn\nendpoint 192.0.2.1\nport 1\ntransport udp\n", "malformed");
        row("field repeated", configure("address4 10.8.0.2/24\naddress4 10.8.0.3/24\n"), "malformed");
        row("unknown field", configure("script /tmp/x\n"), "malformed");

        row("endpoint with leading zeros", open("192.0.2.01"), "invalid endpoint");
        row("endpoint multicast", open("ff02::1"), "invalid endpoint");
        row("endpoint IPv4 as IPv6", open("::ffff:192.0.2.1"), "invalid endpoint");
        row("endpoint out of range", open("256.1.1.1"), "invalid endpoint");
        row("port 0", open("192.0.2.1", "0"), "invalid port");
        row("port 65536", open("192.0.2.1", "65536"), "invalid port");
        row("transport unknown", open("192.0.2.1", "443", "sctp"), "invalid transport");
        row("kill switch state unknown", "v1 killswitch\nstate maybe\n", "invalid state");

        row("device number too high", configure("", "vvpn100"), "invalid device");
        row("device with leading zero", configure("", "vvpn01"), "invalid device");
        row("device overlong", configure("", "vvpn" + std::string(400, '9')), "invalid device");
        row("address4 prefix 33", configure("address4 10.8.0.2/33\n"), "invalid address4");
        row("address4 without prefix", configure("address4 10.8.0.2\n"), "invalid address4");
        row("address6 prefix 129", configure("address6 fd00::2/129\n"), "invalid address6");
        row("mtu too small", configure("mtu 575\n"), "invalid mtu");
        row("route with host bits", configure("route 10.8.0.1/24\n"), "invalid route");
        row("1001 routes", configure(repeated("route fd00:%1::/32\n", 1001)), "invalid route");
        row("nine DNS servers", configure(repeated("dns 10.8.0.%1\n", 9)), "invalid dns");
    }
    void readRequest()
    {
        QFETCH(QByteArray, payload);
        QTEST(outcome(payload.toStdString()), "expected");
    }
};

QTEST_APPLESS_MAIN(TestServiceRequest)
#include "tst_servicerequest.moc"
