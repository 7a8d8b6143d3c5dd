#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace Varnel {

// A further ocserv in the lab's server namespace, beside the lab's own: on
// another port, with a key of its own (new on every start) and optionally
// authentication groups. Its files live in the lab's directory; it is
// stopped by its process id when the object goes (the lab's teardown ends
// whatever is left).
class ExtraOcserv
{
public:
    struct Options {
        quint16 port = 0;
        QString device;       // tun device name prefix, unique per server
        QString network;      // address pool, e.g. "10.213.6.0"
        QStringList groups;   // select-group entries; the lab's users belong to all
    };

    explicit ExtraOcserv(const Options &options);
    ~ExtraOcserv();
    ExtraOcserv(const ExtraOcserv &) = delete;
    ExtraOcserv &operator=(const ExtraOcserv &) = delete;

    // Generates a fresh key and certificate, writes the configuration and
    // starts the server; true once it accepts connections.
    bool start();
    void stop();

    // What the client is given as its gateway ("address:port").
    QString gateway() const;
    // Logins the server began (it got as far as checking a password) since
    // it was last started.
    int authentications() const;
    QString error() const { return m_error; }

private:
    bool run(const QString &program, const QStringList &arguments, const QByteArray &input = QByteArray());
    bool writeConfiguration();
    bool waitUntilServing();

    Options m_options;
    QString m_dir;
    QProcess m_server;
    QString m_error;
    qint64 m_logStart = 0;
};

} // namespace Varnel
