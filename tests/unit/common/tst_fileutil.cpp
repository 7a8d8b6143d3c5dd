#include "common/fileutil.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace Varnel;

class TestFileUtil : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static QByteArray contents(const QString &fileName)
    {
        QFile f(fileName);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void jsonRoundTripRelativeToCurrentDir()
    {
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        const QJsonDocument doc(QJsonObject{{"status", 1}, {"servers", QJsonArray{QJsonObject{{"ip_id", 7}}}}});
        writeJson(doc, QStringLiteral("bundile"));
        const QJsonDocument back = readJson(QStringLiteral("bundile"));
        QDir::setCurrent(previous);
        QCOMPARE(back, doc);
        QCOMPARE(contents(m_dir.filePath(QStringLiteral("bundile"))), doc.toJson(QJsonDocument::Indented));
    }

    void nullDocumentEmptiesFileAndUnreadableReadsNull()
    {
        const QString name = m_dir.filePath(QStringLiteral("cache"));
        writeJson(QJsonDocument(QJsonObject{{"a", "b"}}), name);
        QVERIFY(contents(name).size() > 0);
        writeJson(QJsonDocument(), name);
        QVERIFY(QFile::exists(name));
        QCOMPARE(contents(name), QByteArray());

        const QString broken = m_dir.filePath(QStringLiteral("broken.json"));
        QFile f(broken);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{\"a\": ");
        f.close();
        for (const QString &unreadable : {name, broken, m_dir.filePath(QStringLiteral("missing.json"))})
            QVERIFY2(readJson(unreadable).isNull(), qPrintable(unreadable));
    }

    void textFileIsTruncatedAndSharedWithAll()
    {
        const QString name = m_dir.filePath(QStringLiteral("service.txt"));
        writeTextFile(QStringLiteral("a much longer first text"), m_dir.path(), QStringLiteral("service.txt"));
        writeTextFile(QStringLiteral("on"), m_dir.path(), QStringLiteral("service.txt"));
        QCOMPARE(contents(name), QByteArray("on"));
        const auto all = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup
                         | QFile::ReadOther | QFile::WriteOther;
        QCOMPARE(QFile::permissions(name) & all, all);

        // A directory that does not exist: nothing is created, nothing crashes.
        writeTextFile(QStringLiteral("x"), m_dir.filePath(QStringLiteral("nope")), QStringLiteral("f.txt"));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("nope/f.txt"))));
    }
};

QTEST_GUILESS_MAIN(TestFileUtil)
#include "tst_fileutil.moc"
