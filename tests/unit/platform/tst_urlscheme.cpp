#include "platform/urlscheme.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Varnel;

class TestUrlScheme : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void entryNamesTheExecutable_data();
    void entryNamesTheExecutable();
    void mimeAppsKeepsOtherLines_data();
    void mimeAppsKeepsOtherLines();
    void newPathRepointsScheme();
    void installedEntryTakesOver_data();
    void installedEntryTakesOver();

private:
    QString entryFile() const { return m_data->filePath("applications/varnelvpn-url.desktop"); }
    QString mimeApps() const { return m_config->filePath("mimeapps.list"); }
    static QString read(const QString &fileName)
    {
        QFile f(fileName);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<unreadable>");
    }
    static void write(const QString &fileName, const QString &text)
    {
        QFile f(fileName);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    }
    QString execLine() const
    {
        const QStringList lines = read(entryFile()).split('\n');
        const QStringList exec = lines.filter(QRegularExpression("^Exec="));
        return exec.size() == 1 ? exec.first() : QString();
    }

    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<QTemporaryDir> m_system;
};

void TestUrlScheme::init()
{
    m_data = std::make_unique<QTemporaryDir>();
    m_config = std::make_unique<QTemporaryDir>();
    m_system = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_data->path()));
    // Never the machine's own folders: an installed package would count.
    qputenv("XDG_DATA_DIRS", QFile::encodeName(m_system->path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
}

void TestUrlScheme::cleanup()
{
    m_data.reset();
    m_config.reset();
    m_system.reset();
}

void TestUrlScheme::entryNamesTheExecutable_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain") << "/opt/varnel/VarnelVPN" << R"(Exec="/opt/varnel/VarnelVPN" %u)";
    QTest::newRow("blank") << "/home/a b/VarnelVPN" << R"(Exec="/home/a b/VarnelVPN" %u)";
    // Quoting escapes " ` $ \ with a backslash, the string rule doubles each
    // backslash; % is doubled so it is not a field code.
    QTest::newRow("reserved") << R"(/x/"q"/$HOME/`id`/50%/b\s)"
                              << R"(Exec="/x/\\"q\\"/\\$HOME/\\`id\\`/50%%/b\\\\s" %u)";
}

void TestUrlScheme::entryNamesTheExecutable()
{
    QFETCH(QString, path);
    QFETCH(QString, exec);
    registerUrlScheme(path);
    const QString entry = read(entryFile());
    QVERIFY2(entry.startsWith("[Desktop Entry]\n"), qPrintable(entry));
    QVERIFY(entry.contains("\nType=Application\n"));
    QVERIFY(entry.contains("\nMimeType=x-scheme-handler/varnelvpn;\n"));
    QCOMPARE(execLine(), exec);
}

void TestUrlScheme::mimeAppsKeepsOtherLines_data()
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

void TestUrlScheme::mimeAppsKeepsOtherLines()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    if (!before.isNull())
        write(mimeApps(), before);
    registerUrlScheme("/opt/varnel/VarnelVPN");
    QCOMPARE(read(mimeApps()), after);
}

void TestUrlScheme::newPathRepointsScheme()
{
    registerUrlScheme("/old/place/VarnelVPN");
    const QString mimeAfterFirst = read(mimeApps());
    registerUrlScheme("/new/place/VarnelVPN");
    QCOMPARE(execLine(), QStringLiteral(R"(Exec="/new/place/VarnelVPN" %u)"));
    QCOMPARE(read(mimeApps()), mimeAfterFirst);   // no duplicate entry
    QVERIFY(!read(entryFile()).contains("/old/place"));
}

void TestUrlScheme::installedEntryTakesOver_data()
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

void TestUrlScheme::installedEntryTakesOver()
{
    QFETCH(QString, exec);
    QFETCH(QString, mimeTypes);
    QFETCH(bool, startInstalled);
    QFETCH(bool, installedHandles);
    QVERIFY(QDir(m_system->path()).mkpath("applications") && QDir(m_system->path()).mkpath("bin"));
    const QString installed = m_system->filePath("bin/varnelvpn");
    const QString copy = m_system->filePath("varnelvpn");
    write(installed, "#!/bin/sh\n");
    write(copy, "#!/bin/sh\n");
    QVERIFY(QFile::setPermissions(installed, QFile::ReadOwner | QFile::ExeOwner));
    write(m_system->filePath("applications/varnelvpn.desktop"),
          "[Desktop Entry]\nType=Application\nName=VarnelVPN\nExec=" + exec.arg(installed)
              + "\nMimeType=" + mimeTypes + "\n[Desktop Action x]\nExec=/bin/true\n");
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

QTEST_GUILESS_MAIN(TestUrlScheme)
#include "tst_urlscheme.moc"
