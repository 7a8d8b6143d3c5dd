// The platform layer on Linux: the device description and the URL-scheme
// registration.
#include "platform/deviceinfo.h"
#include "platform/urlscheme.h"
#include "unit/vpn/logwatch.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Varnel;

class TestPlatform : public QObject
{
    Q_OBJECT

    // Per test: "data" and "config" are the user's folders, "system" the
    // system's (never the machine's own: an installed package would count).
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString entryFile() const { return path("data/applications/varnelvpn-url.desktop"); }
    QString mimeApps() const { return path("config/mimeapps.list"); }
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

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        for (const char *folder : {"config", "system/applications", "system/bin"})
            QVERIFY(QDir(m_dir->path()).mkpath(QLatin1String(folder)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(path("data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path("config")));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(path("system")));
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

    void installedEntryTakesOver_data()
    {
        QTest::addColumn<QString>("exec");        // the installed entry's Exec; %1: the installed program
        QTest::addColumn<QString>("mimeTypes");
        QTest::addColumn<bool>("startInstalled"); // else a copy elsewhere (a build tree) starts
        QTest::addColumn<bool>("installedHandles");
        const QString scheme = QStringLiteral("x-scheme-handler/varnelvpn;");
        QTest::newRow("installed program starts") << "\"%1\" %u" << "text/plain;" + scheme << true << true;
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
        const QString installed = path("system/bin/varnelvpn");
        const QString copy = path("system/varnelvpn");
        QVERIFY(write(installed, "#!/bin/sh\n") && write(copy, "#!/bin/sh\n"));
        QVERIFY(QFile::setPermissions(installed, QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(write(path("system/applications/varnelvpn.desktop"),
                      "[Desktop Entry]\nType=Application\nName=VarnelVPN\nExec=" + exec.arg(installed)
                          + "\nMimeType=" + mimeTypes + "\n[Desktop Action x]\nExec=/bin/true\n"));
        const QByteArray searchPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(path("system/bin")) + ':' + searchPath);

        registerUrlScheme(copy);   // an earlier start from elsewhere left its entry
        QVERIFY(QFile::exists(entryFile()));
        registerUrlScheme(startInstalled ? installed : copy);
        qputenv("PATH", searchPath);

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
    }
    void readsTrimmedValuesElseUnknownAndLogged()
    {
        QFETCH(QByteArray, vendorFile);
        QFETCH(QByteArray, productFile);
        QFETCH(QStringList, logged);
        QTemporaryDir dmi;
        for (const auto &[name, bytes] : {std::pair<const char *, QByteArray>{"sys_vendor", vendorFile},
                                          {"product_name", productFile}}) {
            QFile f(dmi.filePath(QLatin1String(name)));
            QVERIFY(bytes.isNull() || (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size()));
        }
        const LogWatch log;
        const DeviceInfo info = deviceInfoFrom(dmi.path());
        QTEST(info.manufacturer, "manufacturer");
        QTEST(info.model, "model");
        QCOMPARE(log.lines().size(), logged.size());
        for (int i = 0; i < logged.size(); ++i)
            QVERIFY2(log.lines().at(i).contains(dmi.filePath(logged.at(i))), qPrintable(log.lines().at(i)));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
