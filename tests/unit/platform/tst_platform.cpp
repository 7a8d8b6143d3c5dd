// The platform layer on Linux: the device description and the URL-scheme
// registration.
#include "common/logger.h"
#include "platform/deviceinfo.h"
#include "platform/urlscheme.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>


using namespace Varnel;

class TestPlatform : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<QTemporaryDir> m_system;

    QString entryFile() const { return m_data->filePath("applications/varnelvpn-url.desktop"); }
    QString mimeApps() const { return m_config->filePath("mimeapps.list"); }
    static QString read(const QString &fileName)
    {
        QFile f(fileName);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<unreadable>");
    }
    static bool write(const QString &fileName, const QString &text)
    {
        QFile f(fileName);
        return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) >= 0;
    }
    QString execLine() const
    {
        const QStringList exec = read(entryFile()).split('\n').filter(QRegularExpression("^Exec="));
        return exec.size() == 1 ? exec.first() : QString();
    }

private slots:
    void init()
    {
        m_data = std::make_unique<QTemporaryDir>();
        m_config = std::make_unique<QTemporaryDir>();
        m_system = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data->path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
        // Never the machine's own folders: an installed package would count.
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_system->path()));
    }
    void cleanup()
    {
        m_data.reset();
        m_config.reset();
        m_system.reset();
    }

    void entryNamesTheExecutable_data()
    {
        QTest::addColumn<QString>("earlier");   // a path registered before, if any
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "" << "/opt/varnel/VarnelVPN" << R"(Exec="/opt/varnel/VarnelVPN" %u)";
        QTest::newRow("blank") << "" << "/home/a b/VarnelVPN" << R"(Exec="/home/a b/VarnelVPN" %u)";
        // Quoting escapes " ` $ \ with a backslash, the string rule doubles each
        // backslash; % is doubled so it is not a field code.
        QTest::newRow("reserved") << "" << R"(/x/"q"/$HOME/`id`/50%/b\s)"
                                  << R"(Exec="/x/\\"q\\"/\\$HOME/\\`id\\`/50%%/b\\\\s" %u)";
        QTest::newRow("moved: repointed") << "/old/place/VarnelVPN" << "/new/place/VarnelVPN"
                                          << R"(Exec="/new/place/VarnelVPN" %u)";
    }
    void entryNamesTheExecutable()
    {
        QFETCH(QString, earlier);
        QFETCH(QString, path);
        if (!earlier.isEmpty())
            registerUrlScheme(earlier);
        registerUrlScheme(path);
        const QString entry = read(entryFile());
        QVERIFY2(entry.startsWith("[Desktop Entry]\n"), qPrintable(entry));
        QVERIFY(entry.contains("\nType=Application\n"));
        QVERIFY(entry.contains("\nMimeType=x-scheme-handler/varnelvpn;\n"));
        QTEST(execLine(), "exec");
        QVERIFY(earlier.isEmpty() || !entry.contains(earlier));
        // One association, however often registered.
        QCOMPARE(read(mimeApps()),
                 QStringLiteral("[Default Applications]\nx-scheme-handler/varnelvpn=varnelvpn-url.desktop;\n"));
    }

    void mimeAppsKeepsOtherLines_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        const QString entry = QStringLiteral("x-scheme-handler/varnelvpn=varnelvpn-url.desktop;\n");
        QTest::newRow("no file") << QString() << "[Default Applications]\n" + entry;
        QTest::newRow("other handler replaced")
            << "# user's own\n[Added Associations]\ntext/plain=gedit.desktop;\n\n"
               "[Default Applications]\nx-scheme-handler/http=firefox.desktop;\n"
               "x-scheme-handler/varnelvpn=old.desktop;\nx-scheme-handler/varnelvpnx=other.desktop;\n\n"
               "[Removed Associations]\nimage/png=gimp.desktop;\n"
            << "# user's own\n[Added Associations]\ntext/plain=gedit.desktop;\n\n"
               "[Default Applications]\nx-scheme-handler/http=firefox.desktop;\n"
               + entry + "x-scheme-handler/varnelvpnx=other.desktop;\n\n"
               "[Removed Associations]\nimage/png=gimp.desktop;\n";
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
        if (!before.isNull())
            QVERIFY(write(mimeApps(), before));
        registerUrlScheme("/opt/varnel/VarnelVPN");
        QTEST(read(mimeApps()), "after");
    }

    void installedEntryTakesOver_data()
    {
        QTest::addColumn<QString>("exec");        // the installed entry's Exec; %1: the installed program
        QTest::addColumn<QString>("mimeTypes");
        QTest::addColumn<bool>("startInstalled"); // else a copy elsewhere (a build tree) starts
        QTest::addColumn<bool>("installedHandles");
        const QString scheme = QStringLiteral("x-scheme-handler/varnelvpn;");
        QTest::newRow("installed program starts") << "%1 %u" << scheme << true << true;
        QTest::newRow("quoted") << "\"%1\" %u" << "text/plain;" + scheme << true << true;
        QTest::newRow("on the search path") << "varnelvpn %u" << scheme << true << true;
        QTest::newRow("a copy elsewhere starts") << "%1 %u" << scheme << false << false;
        QTest::newRow("entry without the scheme") << "%1 %u" << "text/plain;" << true << false;
    }

    void installedEntryTakesOver()
    {
        QFETCH(QString, exec);
        QFETCH(QString, mimeTypes);
        QFETCH(bool, startInstalled);
        QFETCH(bool, installedHandles);
        QVERIFY(QDir(m_system->path()).mkpath("applications") && QDir(m_system->path()).mkpath("bin"));
        const QString installed = m_system->filePath("bin/varnelvpn");
        const QString copy = m_system->filePath("varnelvpn");
        QVERIFY(write(installed, "#!/bin/sh\n") && write(copy, "#!/bin/sh\n"));
        QVERIFY(QFile::setPermissions(installed, QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(write(m_system->filePath("applications/varnelvpn.desktop"),
                      "[Desktop Entry]\nType=Application\nName=VarnelVPN\nExec=" + exec.arg(installed)
                          + "\nMimeType=" + mimeTypes + "\n[Desktop Action x]\nExec=/bin/true\n"));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(m_system->filePath("bin")) + ':' + path);

        registerUrlScheme(copy);   // an earlier start from elsewhere left its entry
        QVERIFY(QFile::exists(entryFile()));
        registerUrlScheme(startInstalled ? installed : copy);
        qputenv("PATH", path);

        QCOMPARE(QFile::exists(entryFile()), !installedHandles);
        const QString handler = installedHandles ? "varnelvpn.desktop" : "varnelvpn-url.desktop";
        QCOMPARE(read(mimeApps()), "[Default Applications]\nx-scheme-handler/varnelvpn=" + handler + ";\n");
    }

    void readsTrimmedValuesElseUnknownAndLogged_data()
    {
        // A null content: the file is missing.
        QTest::addColumn<QByteArray>("vendorFile");
        QTest::addColumn<QByteArray>("productFile");
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QStringList>("logged");   // files named in the log, in order
        QTest::newRow("trimmed") << QByteArray("LENOVO \n") << QByteArray("  ThinkPad X1 Carbon Gen 9\n")
                                 << "LENOVO" << "ThinkPad X1 Carbon Gen 9" << QStringList();
        QTest::newRow("vendor missing, model blank") << QByteArray() << QByteArray(" \n") << "Unknown" << "Unknown"
                                                     << QStringList({"sys_vendor", "product_name"});
        QTest::newRow("no such directory") << QByteArray() << QByteArray() << "Unknown" << "Unknown"
                                           << QStringList({"sys_vendor", "product_name"});
    }
    void readsTrimmedValuesElseUnknownAndLogged()
    {
        QFETCH(QByteArray, vendorFile);
        QFETCH(QByteArray, productFile);
        QFETCH(QStringList, logged);
        QTemporaryDir dmi;
        const bool noDirectory = vendorFile.isNull() && productFile.isNull();
        const QString dir = noDirectory ? dmi.filePath("absent") : dmi.path();
        for (const auto &[name, bytes] : {std::pair<const char *, QByteArray>{"sys_vendor", vendorFile},
                                          {"product_name", productFile}}) {
            QFile f(dmi.filePath(QLatin1String(name)));
            QVERIFY(bytes.isNull() || (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size()));
        }
        const auto all = Logger::instance().messagesSince(-1);
        const int before = all.isEmpty() ? -1 : all.last().id;

        const DeviceInfo info = deviceInfoFrom(dir);
        QTEST(info.manufacturer, "manufacturer");
        QTEST(info.model, "model");
        const auto messages = Logger::instance().messagesSince(before);
        QCOMPARE(messages.size(), logged.size());
        for (int i = 0; i < logged.size(); ++i) {
            QVERIFY2(messages.at(i).message.contains(dir + QLatin1Char('/') + logged.at(i)),
                     qPrintable(messages.at(i).message));
            QCOMPARE(qMakePair(messages.at(i).level, messages.at(i).category), qMakePair(1, 4));
        }
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestPlatform test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_platform.moc"
