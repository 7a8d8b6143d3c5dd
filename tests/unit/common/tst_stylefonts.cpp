#include "common/stylefonts.h"

#include <QtTest>

using namespace Varnel;

class TestStyleFonts : public QObject
{
    Q_OBJECT
private slots:
    void rewrite_data()
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
        row("16px, blank", "a{font-size: 16px;}", "a{font-size: 14px;}");
        row("18px keeps size, gains blank", "a{font-size:18px;} b{font-size: 18px;}",
            "a{font-size: 18px;} b{font-size: 18px;}");
        row("weights", "a{font-weight: 600;} b{font-weight:700;}", "a{font-weight: 500;} b{font-weight: 500;}");
        row("116px is not 16px", "a{font-size:116px;} b{font-size: 160px;}", "a{font-size: 116px;} b{font-size: 160px;}");
        row("weight 60 beside 600", "a{font-weight:60;} b{font-weight: 600;}", "a{font-weight: 500;} b{font-weight: 500;}");
        // Only weights that some declaration ends with ";" are known to the sheet.
        row("weight without semicolon", "a{font-weight: 800}", "a{font-weight: 800}");
        row("two blanks untouched", "a{font-size:  16px;}", "a{font-size:  16px;}");
        row("non-numeric", "a{font-weight: bold; font-size: 1em;}", "a{font-weight: bold; font-size: 1em;}");
        row("ends at zero byte", QByteArray("a{font-size:24px;}\0b{font-size:16px;}", 37), "a{font-size: 22px;}");
        // 16 -> 24 must not then be taken for a 24 and turned into 22 (and the other way round).
        row("16 made 24 stays 24", "a{font-size:16px;} b{font-size:24px;}", "a{font-size: 24px;} b{font-size: 22px;}",
            24, 22, 400);
        row("24 made 16 stays 16", "a{font-size:24px;} b{font-size:16px;}", "a{font-size: 16px;} b{font-size: 12px;}",
            12, 16, 400);
        row("other bytes survive",
            QString::fromUtf8("/* Überschrift – 標題 */\nQLabel#lblTitle {\n  font-size:24px;\n"
                              "  font-family: \"Montserrat\";\n}\n").toUtf8(),
            QString::fromUtf8("/* Überschrift – 標題 */\nQLabel#lblTitle {\n  font-size: 22px;\n"
                              "  font-family: \"Montserrat\";\n}\n").toUtf8());
    }
    void rewrite()
    {
        QFETCH(QByteArray, in);
        QFETCH(int, size16);
        QFETCH(int, size24);
        QFETCH(int, weight);
        QTEST(rewriteFonts(in, size16, size24, weight), "out");
    }
};

QTEST_GUILESS_MAIN(TestStyleFonts)
#include "tst_stylefonts.moc"
