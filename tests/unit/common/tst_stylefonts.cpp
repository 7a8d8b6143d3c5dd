#include "common/stylefonts.h"

#include <QtTest>

using namespace Varnel;

class TestStyleFonts : public QObject
{
    Q_OBJECT
private slots:
    void rewrite_data();
    void rewrite();
    void replacementsAreNotRewrittenAgain();
    void otherBytesSurvive();
};

void TestStyleFonts::rewrite_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("24px, no blank") << QByteArray("QLabel{font-size:24px;}") << QByteArray("QLabel{font-size: 22px;}");
    QTest::newRow("16px, blank") << QByteArray("a{font-size: 16px;}") << QByteArray("a{font-size: 14px;}");
    QTest::newRow("18px keeps size, gains blank")
        << QByteArray("a{font-size:18px;} b{font-size: 18px;}") << QByteArray("a{font-size: 18px;} b{font-size: 18px;}");
    QTest::newRow("weights") << QByteArray("a{font-weight: 600;} b{font-weight:700;}")
                             << QByteArray("a{font-weight: 500;} b{font-weight: 500;}");
    QTest::newRow("116px is not 16px") << QByteArray("a{font-size:116px;} b{font-size: 160px;}")
                                       << QByteArray("a{font-size: 116px;} b{font-size: 160px;}");
    QTest::newRow("weight 60 beside 600") << QByteArray("a{font-weight:60;} b{font-weight: 600;}")
                                          << QByteArray("a{font-weight: 500;} b{font-weight: 500;}");
    // Only weights that some declaration ends with ";" are known to the sheet.
    QTest::newRow("weight without semicolon") << QByteArray("a{font-weight: 800}") << QByteArray("a{font-weight: 800}");
    QTest::newRow("two blanks untouched") << QByteArray("a{font-size:  16px;}") << QByteArray("a{font-size:  16px;}");
    QTest::newRow("non-numeric") << QByteArray("a{font-weight: bold; font-size: 1em;}")
                                 << QByteArray("a{font-weight: bold; font-size: 1em;}");
    QTest::newRow("ends at zero byte") << QByteArray("a{font-size:24px;}\0b{font-size:16px;}", 37)
                                       << QByteArray("a{font-size: 22px;}");
}

void TestStyleFonts::rewrite()
{
    QFETCH(QByteArray, in);
    QFETCH(QByteArray, out);
    QCOMPARE(rewriteFonts(in, 14, 22, 500), out);
}

void TestStyleFonts::replacementsAreNotRewrittenAgain()
{
    // 16 -> 24 must not then be taken for a 24 and turned into 22.
    QCOMPARE(rewriteFonts("a{font-size:16px;} b{font-size:24px;}", 24, 22, 400),
             QByteArray("a{font-size: 24px;} b{font-size: 22px;}"));
    QCOMPARE(rewriteFonts("a{font-size:24px;} b{font-size:16px;}", 12, 16, 400),
             QByteArray("a{font-size: 16px;} b{font-size: 12px;}"));
}

void TestStyleFonts::otherBytesSurvive()
{
    const QByteArray in = QString::fromUtf8("/* Überschrift – 標題 */\nQLabel#lblTitle {\n  font-size:24px;\n"
                                            "  font-family: \"Montserrat\";\n}\n").toUtf8();
    const QByteArray expected = QString::fromUtf8("/* Überschrift – 標題 */\nQLabel#lblTitle {\n  font-size: 22px;\n"
                                                  "  font-family: \"Montserrat\";\n}\n").toUtf8();
    QCOMPARE(rewriteFonts(in, 14, 22, 500), expected);
}

QTEST_GUILESS_MAIN(TestStyleFonts)
#include "tst_stylefonts.moc"
