#pragma once

#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Gives each test what a new client process would have: an empty settings
// store, its own state folder, the backend address and CA in the environment,
// a logged-out Config and no credentials. QSettings fixes the user path on
// first use, so the store is also redirected with QSettings::setPath.
class QProcess;
class QVariant;

class ClientSandbox
{
public:
    ClientSandbox();

    void enter(const QString &apiBase, const QString &caFile);
    void leave() { m_test.reset(); }

    // What the client's executable stores in this sandbox, read as a file.
    QVariant stored(const QString &key) const;
    // The executable started as a user's session starts it, offscreen, with
    // this sandbox's settings store and home, data and runtime folders under
    // filesDir; its output goes to filesDir/client.log.
    QProcessEnvironment clientEnvironment(const QString &filesDir) const;
    void startClient(QProcess &client, const QString &executable, const QProcessEnvironment &environment,
                     const QString &filesDir) const;
    // Writes endpoint keys straight into the settings store.
    static void storeEndpoints(const QMap<QString, QString> &values);
    // The ten endpoint keys, all pointing at the given base.
    static QMap<QString, QString> endpointsAt(const QString &base);

    // Id of the newest log record, and the texts logged after a mark.
    static int logMark();
    static QStringList logSince(int mark);

private:
    QTemporaryDir m_root;
    std::unique_ptr<QTemporaryDir> m_test;
};
