// The widget-free pieces of common/ and platform/: the log, the cipher, the
// style sheet's font rewrite, the locale values, the file helpers, the
// settings store, the local address, the device description and the
// URL-scheme registration.
#include "common/config.h"
#include "common/crypto.h"
#include "common/fileutil.h"
#include "common/localeinfo.h"
#include "common/logger.h"
#include "common/netinfo.h"
#include "common/stylefonts.h"
#include "platform/deviceinfo.h"
#include "platform/urlscheme.h"
#include "unit/vpn/logwatch.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

using namespace Varnel;

namespace {

QStringList g_infoLines;
QMutex g_infoLock;   // the echo comes from every logging thread

// Keeps the 20 000-record test quiet and lets a test see the echo, an
// information line (release builds print no debug lines).
void captureInfo(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    const QMutexLocker locker(&g_infoLock);
    if (type == QtInfoMsg)
        g_infoLines.append(text);
}

QStringList texts(const QVector<Logger::Message> &records)
{
    QStringList result;
    for (const Logger::Message &record : records)
        result << record.message;
    return result;
}

// Empties the log and returns the id its next record gets (ids never reset).
int clearedNextId()
{
    Logger &logger = Logger::instance();
    logger.log(QStringLiteral("marker"), 1, 4);
    const int next = logger.messagesSince(-1).last().id + 1;
    logger.clear();
    return next;
}

QByteArray contents(const QString &fileName)
{
    QFile f(fileName);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QString read(const QString &fileName)
{
    return QString::fromUtf8(contents(fileName));
}

bool write(const QString &fileName, const QString &text)
{
    QFile f(fileName);
    return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) >= 0;
}

} // namespace

class TestCommon : public QObject
{
    Q_OBJECT
public:
    explicit TestCommon(const QString &configHome)
        : m_fileName(configHome + QStringLiteral("/Morvanta/VarnelVPN.conf"))
    {
    }

private:
    static void login(const QString &user)
    {
        Config::instance()->setServerHash(user);
        Config::instance()->setAutoLogin(true);
    }

    // Runs this program in a fresh network namespace laid out by the script
    // and returns what localIpv4() says there.
    static QString probe(const QString &setup)
    {
        QProcess p;
        p.start(QStringLiteral("unshare"),
                {QStringLiteral("--net"), QStringLiteral("sh"), QStringLiteral("-ec"),
                 setup + QStringLiteral("\nexec \"$0\" --probe"), QCoreApplication::applicationFilePath()});
        if (!p.waitForFinished(20000) || p.exitCode() != 0)
            return QStringLiteral("<failed: %1>").arg(QString::fromLocal8Bit(p.readAllStandardError()));
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    }

    QString path(const QString &name) const { return m_xdg->filePath(name); }
    QString entryFile() const { return path("data/applications/varnelvpn-url.desktop"); }
    QString mimeApps() const { return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/mimeapps.list"); }

    const QString m_fileName;
    QTemporaryDir m_dir;
    // Per test: "data" is the user's folder, "system" the
    // system's (never the machine's own: an installed package would count).
    std::unique_ptr<QTemporaryDir> m_xdg;
    Logger &logger = Logger::instance();

private slots:
    void initTestCase()
    {
        qInstallMessageHandler(captureInfo);
        // Before the first load of the run the active server is unset.
        QCOMPARE(Config::instance()->activeServer(), -1);
    }

    // Every test starts from a missing settings file and the store's defaults in memory.
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_xdg = std::make_unique<QTemporaryDir>();
        QFile::remove(mimeApps());
        qputenv("XDG_DATA_HOME", QFile::encodeName(path("data")));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(path("system")));
        QFile::remove(m_fileName);
        auto config = Config::instance();
        config->setServerHash(QString());
        config->setAutoLogin(true);   // reads no favourites from the missing file
        config->load();
    }

    // The process's first record has id 0; a record holds what was logged,
    // is announced and is echoed quoted. One call more than is kept drops
    // the oldest; the window after an id holds what came after it.
    void recordsBoundAndWindow()
    {
        QVERIFY(logger.messagesSince(-1).isEmpty());
        QSignalSpy spy(&logger, &Logger::newLogMessage);
        logger.log(QStringLiteral("say \"hi\""), 2, 4);
        const Logger::Message m = logger.messagesSince(-1).value(0);
        QCOMPARE((QList<int>{m.id, m.level, m.category}), (QList<int>{0, 2, 4}));
        QCOMPARE(m.message, QStringLiteral("say \"hi\""));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(g_infoLines, QStringList{QStringLiteral("\"say \\\"hi\\\"\"")});

        const int last = Logger::kMaxRecords;
        for (int i = 1; i <= last; ++i)
            logger.log(QString::number(i), 1, 4);
        const auto records = logger.messagesSince(-1);
        QCOMPARE(records.size(), Logger::kMaxRecords);
        QCOMPARE(qMakePair(records.first().id, records.last().id), qMakePair(1, last));
        QCOMPARE(records.last().message, QString::number(last));
        QVERIFY(logger.messagesSince(last).isEmpty());
        QCOMPARE(texts(logger.messagesSince(last - 2)), (QStringList{QString::number(last - 1), QString::number(last)}));
    }

    // Long texts count by what they take: a client that logs a large reply
    // at every login must not grow for ever. The newest stays, whatever its size.
    void byteBudgetKeepsNewest()
    {
        clearedNextId();
        const auto noise = [](int length) {
            QString text(length, Qt::Uninitialized);
            for (QChar &c : text)
                c = QChar(ushort(0x4E00 + QRandomGenerator::global()->bounded(0x5000)));   // compresses badly
            return text;
        };
        QString last;
        for (int i = 0; i < 6; ++i) {
            last = noise(int(Logger::kMaxStoredBytes / 4));   // about half the budget each, as UTF-16
            logger.log(last, 1, 4);
        }
        auto records = logger.messagesSince(-1);
        QVERIFY2(records.size() >= 1 && records.size() <= 3, qPrintable(QString::number(records.size())));
        QCOMPARE(records.last().message, last);

        last = noise(int(Logger::kMaxStoredBytes));   // alone larger than the budget
        logger.log(last, 1, 4);
        QCOMPARE(texts(logger.messagesSince(-1)), QStringList{last});
    }

    // A worker and this thread log at the same time: ids stay consecutive
    // and each record names the thread that logged it.
    void threadsGetConsecutiveIdsAndOwnThreadId()
    {
        const int start = clearedNextId();
        constexpr int perThread = 2000;
        Qt::HANDLE worker = nullptr;
        const auto logAll = [this](const QString &text) {
            for (int i = 0; i < perThread; ++i)
                logger.log(text, 1, 4);
        };
        std::unique_ptr<QThread> thread(QThread::create([&] {
            worker = QThread::currentThreadId();
            logAll(QStringLiteral("worker"));
        }));
        thread->start();
        logAll(QStringLiteral("main"));
        QVERIFY(thread->wait(30000));
        const auto records = logger.messagesSince(-1);
        QCOMPARE(records.size(), 2 * perThread);
        for (int i = 0; i < records.size(); ++i) {
            QCOMPARE(records.at(i).id, start + i);
            QCOMPARE(records.at(i).threadId, records.at(i).message == "main" ? QThread::currentThreadId() : worker);
        }
    }

    void directReceiverMayReenter()
    {
        int seenBySlot = -1;
        bool reentered = false;
        const auto connection = connect(&logger, &Logger::newLogMessage, this, [&](const Logger::Message &m) {
            seenBySlot = logger.messagesSince(m.id - 1).size();
            if (!reentered) {
                reentered = true;
                logger.log(QStringLiteral("from receiver"), 1, 4);
            }
        }, Qt::DirectConnection);
        logger.log(QStringLiteral("outer"), 1, 4);
        disconnect(connection);
        QCOMPARE(seenBySlot, 1);
        QCOMPARE(texts(logger.messagesSince(logger.messagesSince(-1).last().id - 2)),
                 (QStringList{"outer", "from receiver"}));
    }

    // Expected values computed outside this code base (Python: base64 of the
    // UTF-8 bytes XORed with the repeating key).
    void cipherVectors_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("cipher");
        // Ten characters under a nine-byte key: the last one is mixed with the key's first byte again.
        QTest::newRow("reply, key wraps") << "0123456789" << kReplyKey << "Yl5IXgEdXUBIaw==";
        QTest::newRow("credential") << "alice" << kCredentialKey << "Klg9MjI=";
        QTest::newRow("non-ascii") << QString::fromUtf8("Jürgen € 密码") << kCredentialKey
                                   << "AffoIzAuWnSz1ecUsf7RrJTV";
        QTest::newRow("empty") << QString() << kCredentialKey << QString();
    }
    void cipherVectors()
    {
        QFETCH(QString, plain);
        QFETCH(QString, key);
        QFETCH(QString, cipher);
        QCOMPARE(encipher(plain, key), cipher);
        QCOMPARE(decipher(cipher, key), plain);
        // Line breaks inside a reply body are not part of the Base64 alphabet.
        QCOMPARE(decipher(cipher.left(8) + "\r\n" + cipher.mid(8), key), plain);
    }

    void fontRewrite_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<int>("size16");   // what 16 px becomes
        QTest::addColumn<int>("size24");   // what 24 px becomes
        QTest::addColumn<int>("weight");
        const auto row = [](const char *name, const QByteArray &in, const QByteArray &out, int size16 = 14,
                            int size24 = 22, int weight = 500) {
            QTest::newRow(name) << in << out << size16 << size24 << weight;
        };
        row("24px, no blank", "QLabel{font-size:24px;}", "QLabel{font-size: 22px;}");
        row("weights", "a{font-weight: 600;} b{font-weight:700;}", "a{font-weight: 500;} b{font-weight: 500;}");
        row("116px is not 16px", "a{font-size:116px;} b{font-size: 160px;}", "a{font-size: 116px;} b{font-size: 160px;}");
        // Only weights that some declaration ends with ";" are known to the sheet.
        row("weight without semicolon", "a{font-weight: 800}", "a{font-weight: 800}");
        // 16 -> 24 must not then be taken for a 24 and turned into 22 (and the other way round).
        row("16 made 24 stays 24", "a{font-size:16px;} b{font-size:24px;}", "a{font-size: 24px;} b{font-size: 22px;}",
            24, 22, 400);
        row("other bytes survive", QString::fromUtf8("/* Überschrift */\nQLabel#t {\n  font-size:24px;\n}\n").toUtf8(),
            QString::fromUtf8("/* Überschrift */\nQLabel#t {\n  font-size: 22px;\n}\n").toUtf8());
    }
    void fontRewrite()
    {
        QFETCH(QByteArray, in);
        QFETCH(int, size16);
        QFETCH(int, size24);
        QFETCH(int, weight);
        QTEST(rewriteFonts(in, size16, size24, weight), "out");
    }

    void callingCodeOfZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<int>("code");
        QTest::newRow("one word") << QByteArray("Asia/Dhaka") << 880;
        QTest::newRow("two words, UK") << QByteArray("Europe/London") << 44;
        QTest::newRow("no country") << QByteArray("UTC") << -1;
    }
    void callingCodeOfZone()
    {
        QFETCH(QByteArray, zone);
        const QTimeZone tz(zone);
        QVERIFY2(tz.isValid(), zone.constData());
        QTEST(countryCallingCode(tz), "code");
    }

    void utcOffset_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("text");
        const QDate winter(2023, 1, 15);
        const QDate summer(2023, 7, 15);
        QTest::newRow("half hour west") << QByteArray("America/St_Johns") << winter << "-03:30";
        QTest::newRow("Nepal") << QByteArray("Asia/Kathmandu") << summer << "+05:45";
    }
    void utcOffset()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, date);
        // Late evening too: the offset must not depend on the date rolling over.
        for (const QTime &time : {QTime(0, 10), QTime(12, 0), QTime(23, 50)})
            QTEST(utcOffsetText(QDateTime(date, time, QTimeZone(zone))), "text");
    }

    void jsonFiles()
    {
        const QString name = m_dir.filePath(QStringLiteral("bundile"));
        const QJsonDocument doc(QJsonObject{{"status", 1}, {"servers", QJsonArray{QJsonObject{{"ip_id", 7}}}}});
        writeJson(doc, name);
        QCOMPARE(readJson(name), doc);
        // A null document empties the file, which reads as null.
        writeJson(QJsonDocument(), name);
        QCOMPARE(contents(name), QByteArray());
        QVERIFY(readJson(name).isNull());
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
        // Written new, and over a world-readable file (every write goes through one helper).
        config->save();
        QCOMPARE(mode(), ownerOnly);
        QVERIFY(QFile::setPermissions(m_fileName, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        config->saveState(1, 1);
        QCOMPARE(mode(), ownerOnly);
    }

    void interfacesInNamespace_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("address");
        // v0 carries the only usable address; v1 has IPv6 only; w0 has IPv4 but is down.
        QTest::newRow("running, not loopback, IPv4")
            << QString("ip link set lo up\n"
                       "ip link add v0 type veth peer name v1\n"
                       "ip addr add 10.9.8.7/24 dev v0\n"
                       "ip link set v0 up\nip link set v1 up\n"
                       "ip link add w0 type veth peer name w1\n"
                       "ip addr add 10.9.9.1/24 dev w0\n"
                       "ip link set w1 up\n")
            << QString("10.9.8.7");
    }
    void interfacesInNamespace()
    {
        if (geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
            QSKIP("needs root, unshare and ip to lay out a network namespace");
        QFETCH(QString, setup);
        QTEST(probe(setup), "address");
    }

    // The desktop entry starts this executable (its moves: in the instance
    // tests). Quoting escapes " ` $ \ with a backslash, the string rule
    // doubles each backslash; % is doubled so it is not a field code.
    void entryNamesTheExecutable()
    {
        registerUrlScheme(R"(/x/"q"/$HOME/`id`/50%/b\s)");
        registerUrlScheme(R"(/x/"q"/$HOME/`id`/50%/b\s)");
        const QString entry = read(entryFile());
        QVERIFY2(entry.startsWith("[Desktop Entry]\n") && entry.contains("\nMimeType=x-scheme-handler/varnelvpn;\n"),
                 qPrintable(entry));
        QCOMPARE(entry.split('\n').filter(QRegularExpression("^Exec=")),
                 QStringList{R"(Exec="/x/\\"q\\"/\\$HOME/\\`id\\`/50%%/b\\\\s" %u)"});
        // One association, however often registered.
        QCOMPARE(read(mimeApps()),
                 QStringLiteral("[Default Applications]\nx-scheme-handler/varnelvpn=varnelvpn-url.desktop;\n"));
    }

    void mimeAppsKeepsOtherLines_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        const QString entry = QStringLiteral("x-scheme-handler/varnelvpn=varnelvpn-url.desktop;\n");
        QTest::newRow("other handler replaced")
            << "# user's own\n[Default Applications]\nx-scheme-handler/http=firefox.desktop;\n"
               "x-scheme-handler/varnelvpn=old.desktop;\nx-scheme-handler/varnelvpnx=other.desktop;\n\n"
               "[Removed Associations]\nimage/png=gimp.desktop;\n"
            << "# user's own\n[Default Applications]\nx-scheme-handler/http=firefox.desktop;\n" + entry
                   + "x-scheme-handler/varnelvpnx=other.desktop;\n\n[Removed Associations]\nimage/png=gimp.desktop;\n";
        QTest::newRow("added after the section's last entry")
            << "[Default Applications]\ntext/html=firefox.desktop;\n\n[Added Associations]\ntext/plain=g.desktop;\n"
            << "[Default Applications]\ntext/html=firefox.desktop;\n" + entry
                   + "\n[Added Associations]\ntext/plain=g.desktop;\n";
        QTest::newRow("section added, no final line break")
            << "[Added Associations]\ntext/plain=gedit.desktop;"
            << "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n" + entry;
    }
    void mimeAppsKeepsOtherLines()
    {
        QFETCH(QString, before);
        QVERIFY(write(mimeApps(), before));
        registerUrlScheme("/opt/varnel/VarnelVPN");
        QTEST(read(mimeApps()), "after");
    }

    // A value is trimmed; a missing or blank one is "Unknown", logged with its file.
    void deviceDescription()
    {
        QTemporaryDir dmi;
        QVERIFY(write(dmi.filePath("sys_vendor"), "LENOVO \n") && write(dmi.filePath("product_name"), " \n"));
        const LogWatch log;
        const DeviceInfo first = deviceInfoFrom(dmi.path());
        QVERIFY(QFile::remove(dmi.filePath("sys_vendor")));
        const DeviceInfo second = deviceInfoFrom(dmi.path());
        QCOMPARE((QStringList{first.manufacturer, first.model, second.manufacturer}),
                 (QStringList{"LENOVO", "Unknown", "Unknown"}));
        const QStringList lines = log.lines();
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines.at(0).contains(dmi.filePath("product_name")) && lines.at(1).contains(dmi.filePath("sys_vendor")),
                 qPrintable(lines.join('\n')));
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--probe") == 0) {
        std::printf("%s\n", qPrintable(localIpv4()));
        return 0;
    }
    // The store's location is fixed at first use: isolate it before anything runs.
    QTemporaryDir configHome;
    if (!configHome.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    TestCommon test(configHome.path());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_common.moc"
