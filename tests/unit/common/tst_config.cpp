#include "common/config.h"
#include "common/crypto.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace Varnel;

class TestConfig : public QObject
{
    Q_OBJECT
public:
    explicit TestConfig(const QString &configHome)
        : m_fileName(configHome + QStringLiteral("/Morvanta/VarnelVPN.conf"))
    {
    }

private:
    static void login(const QString &user)
    {
        Config::instance()->setServerHash(user);
        Config::instance()->setAutoLogin(true);
    }

    const QString m_fileName;

private slots:
    // Before the first load of the run the active server is unset.
    void initTestCase() { QCOMPARE(Config::instance()->activeServer(), -1); }

    // Every test starts from a missing file and the store's defaults in memory.
    void init()
    {
        QFile::remove(m_fileName);
        QVERIFY(!QFile::exists(m_fileName));
        auto config = Config::instance();
        config->setServerHash(QString());
        config->setAutoLogin(true);   // reads no favourites from the missing file
        config->load();
    }

    void freshProfileDefaults()
    {
        auto config = Config::instance();
        config->load();
        QCOMPARE(config->activeServer(), 0);
        QCOMPARE(config->serverButton(), true);
        QCOMPARE((QVector<bool>{config->notify(), config->autoLogin(), config->killSwitch(),
                                config->connectionState(), config->autoConnect(), config->refresh()}),
                 QVector<bool>(6, false));
        QCOMPARE(config->serverHash() + config->country() + config->fastestServer(), QString());
        QVERIFY(config->favourites().isEmpty());
        QVERIFY(!QFile::exists(m_fileName));   // reading creates nothing
    }

    void loadAndSaveUseTheStoredNames()
    {
        const QVariantMap stored = {
            {"ServerHash", encipher("alice", kCredentialKey)},
            {"ConnectionHash", encipher(QString::fromUtf8("pä55"), kCredentialKey)},
            {"ActiveServer", 42}, {"Notify", true}, {"AutoLogin", true}, {"Protocol", 2}, {"KillSwitch", true},
            {"Country", "Norway"}, {"City", "Oslo"}, {"Flag", 578}, {"ConnectionState", true},
            {"ServerButton", false}, {"AutoConncet", true}, {"Refresh", true}, {"FastestServer", "Oslo 1"},
            {"FastestCountryCode", 578}};
        {
            QSettings s(m_fileName, QSettings::IniFormat);
            for (auto it = stored.begin(); it != stored.end(); ++it)
                s.setValue(it.key(), it.value());
        }
        auto config = Config::instance();
        config->load();
        QCOMPARE(config->serverHash(), QStringLiteral("alice"));
        QCOMPARE(config->connectionHash(), QString::fromUtf8("pä55"));

        // Saved back from memory: the same 16 keys and values, nothing else
        // (a misspelt key would add one and leave the stored value behind).
        QVERIFY(QFile::remove(m_fileName));
        config->save();
        QSettings s(m_fileName, QSettings::IniFormat);
        QCOMPARE(s.allKeys().size(), stored.size());
        for (auto it = stored.begin(); it != stored.end(); ++it)
            QCOMPARE(s.value(it.key()).toString(), it.value().toString());

        // A file that holds every value already is not rewritten (nor synced to disk).
        const QDateTime old = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 3600);
        {
            QFile file(m_fileName);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        config->save();
        QCOMPARE(QFileInfo(m_fileName).lastModified(), old);

        // The page pair, under its own group.
        config->saveState(2, 5);
        s.sync();
        QCOMPARE(qMakePair(s.value("State/firstState").toInt(), s.value("State/secoundState").toInt()), qMakePair(2, 5));
        QCOMPARE(config->loadState(), qMakePair(2, 5));
    }

    // Favourites are kept per account and stored at logout (auto-login off).
    void favouritesFollowTheAccount()
    {
        auto config = Config::instance();
        login(QStringLiteral("userA"));
        config->addFavourite(3);
        config->addFavourite(7);
        config->addFavourite(3);
        config->removeFavourite(9);
        QCOMPARE(config->favourites(), (QList<int>{3, 7}));
        config->setAutoLogin(false);

        login(QStringLiteral("userB"));
        QCOMPARE(config->favourites(), QList<int>());
        config->addFavourite(11);
        // A quit without logout loses the change.
        login(QStringLiteral("userA"));
        QCOMPARE(config->favourites(), (QList<int>{3, 7}));
        login(QStringLiteral("userB"));
        QCOMPARE(config->favourites(), QList<int>());

        // The stored text: ids closed by ":", empty parts skipped, others read as 0.
        QSettings(m_fileName, QSettings::IniFormat)
            .setValue(encipher(QStringLiteral("userC"), kCredentialKey) + QStringLiteral("/Favourites"),
                      QStringLiteral("5::9:x:"));
        login(QStringLiteral("userC"));
        QCOMPARE(config->favourites(), (QList<int>{5, 9, 0}));
    }

    void fileIsOwnerOnly()
    {
        // Owner, group and other bits (the "user" bits mirror the owner's for us).
        const auto mode = [this] { return int(QFile::permissions(m_fileName)) & 0x7077; };
        const int ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
        auto config = Config::instance();
        // Each kind of write, each time starting from a world-readable or missing file.
        const QList<std::function<void()>> writes = {
            [&] { config->save(); },
            [&] { config->saveState(1, 1); },
            [&] { config->setAutoLogin(false); },
        };
        for (const auto &write : writes) {
            QFile::remove(m_fileName);
            write();
            QCOMPARE(mode(), ownerOnly);
            QVERIFY(QFile::setPermissions(m_fileName, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
            write();
            QCOMPARE(mode(), ownerOnly);
        }
    }
};

int main(int argc, char **argv)
{
    // The store's location is fixed at first use: isolate it before anything runs.
    QTemporaryDir configHome;
    if (!configHome.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    QCoreApplication app(argc, argv);
    TestConfig test(configHome.path());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_config.moc"
