#pragma once

#include <QString>
#include <QStringList>

namespace Varnel {

// A further ocserv in the lab's server namespace, beside the lab's own
// (tools/lab/lab.sh extra-ocserv): on another port, with a key of its own
// (new on every start) and optionally authentication groups. Stopped when
// the object goes (the lab's teardown ends whatever is left).
class ExtraOcserv
{
public:
    struct Options {
        quint16 port = 0;
        QString device;       // tun device name prefix, unique per server
        QString network;      // address pool, e.g. "10.213.6.0"
        QStringList groups;   // select-group entries; the lab's users belong to all
    };

    explicit ExtraOcserv(const Options &options) : m_options(options) {}
    ~ExtraOcserv();
    ExtraOcserv(const ExtraOcserv &) = delete;
    ExtraOcserv &operator=(const ExtraOcserv &) = delete;

    // A fresh key and certificate, then the server; true once it listens.
    bool start();

    // What the client is given as its gateway ("address:port").
    QString gateway() const;
    // Logins the server began (it got as far as checking a password) since
    // it was last started.
    int authentications() const;
    QString error() const;

private:
    Options m_options;
    qint64 m_logStart = 0;
};

} // namespace Varnel
