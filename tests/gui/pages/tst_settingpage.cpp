// The settings page: what each show reads back from the settings and what
// each press stores and tells the rest of the window.
#include "child.h"
#include "startuplook.h"

#include "common/config.h"
#include "common/gui/iconcache.h"
#include "backend/user.h"
#include "pages/serverselection/serverselectionpage.h"
#include "pages/setting/settingpage.h"
#include "widgets/settingrows/settingrow.h"

#include <QJsonObject>
#include <QLabel>
#include <QTreeWidget>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace Varnel;

class SettingPageTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_settings;

    static void store(int protocol, bool serverButton, bool autoConnect, bool connected)
    {
        const auto config = Config::instance();
        config->setProtocol(protocol);
        config->setServerButton(serverButton);
        config->setAutoConnect(autoConnect);
        config->setConnectionState(connected);
        config->save();
        config->saveState(0, 0);
    }
    static QImage indicator(QWidget *row)
    {
        return child<QLabel>(row, "lblArrow")->pixmap(Qt::ReturnByValue).toImage();
    }
    static QImage picture(const char *path, int size, int rotation = 0)
    {
        return cachedPicture(QLatin1String(path), QSize(size, size), rotation).toImage();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
        applyStartupLook();
    }

    void showReadsTheStoredChoices_data()
    {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<bool>("serverButton");
        QTest::addColumn<QString>("protocolRadio");
        QTest::addColumn<QString>("generalRadio");
        QTest::newRow("all, quick access") << 0 << true << "radioButtonAll" << "quickAccessradioButton";
        QTest::newRow("protocol 1") << 1 << false << "radioButtonProtocol1" << "AlwaysSelectServerradioButton";
        QTest::newRow("protocol 2") << 2 << true << "radioButtonProtocol2" << "quickAccessradioButton";
        QTest::newRow("unknown value: protocol 2") << 5 << true << "radioButtonProtocol2" << "quickAccessradioButton";
    }
    void showReadsTheStoredChoices()
    {
        QFETCH(int, protocol);
        QFETCH(bool, serverButton);
        QFETCH(QString, protocolRadio);
        QFETCH(QString, generalRadio);
        store(protocol, serverButton, false, false);
        SettingPage page;
        page.show();
        QTRY_VERIFY(child<QRadioButton>(&page, qPrintable(protocolRadio))->isChecked());
        QVERIFY(child<QRadioButton>(&page, qPrintable(generalRadio))->isChecked());
        QCOMPARE(Config::instance()->loadState(), qMakePair(9, 0));
        QVERIFY(child(&page, "appsetting")->isHidden());
    }

    void pressesStoreAndTell_data()
    {
        QTest::addColumn<QString>("radio");
        QTest::addColumn<int>("protocol");
        QTest::addColumn<int>("serverButton");   // -1: unchanged
        QTest::newRow("all") << "radioButtonAll" << 0 << -1;
        QTest::newRow("protocol 1") << "radioButtonProtocol1" << 1 << -1;
        QTest::newRow("protocol 2") << "radioButtonProtocol2" << 2 << -1;
        QTest::newRow("always select server") << "AlwaysSelectServerradioButton" << 5 << 0;
        QTest::newRow("quick access") << "quickAccessradioButton" << 5 << 1;
    }
    void pressesStoreAndTell()
    {
        QFETCH(QString, radio);
        QFETCH(int, protocol);
        QFETCH(int, serverButton);
        store(5, serverButton != 1, false, false);
        SettingPage page;
        QSignalSpy general(&page, &SettingPage::clickedGeneralButton);
        QTest::mousePress(child<QRadioButton>(&page, qPrintable(radio)), Qt::LeftButton);
        const auto config = Config::instance();
        config->load();   // what was saved, not what is in memory
        QCOMPARE(config->protocol(), protocol);
        if (serverButton >= 0)
            QCOMPARE(config->serverButton(), serverButton == 1);
        QCOMPARE(general.size(), serverButton >= 0 ? 1 : 0);
    }

    // The list, hidden meanwhile, shows the new choice at its next show.
    void protocolReachesTheListAtItsNextShow()
    {
        store(0, true, false, false);
        const auto server = [](int id, const char *country, int type) {
            return IPBundle::fromJson(QJsonObject{{"ip_id", id}, {"ipName", country}, {"countryName", country},
                                                  {"countryCode", "276"}, {"ip", "127.0.1.1:1194"}, {"type", type}});
        };
        User::instance()->setBundles({server(1, "Alpha", 1), server(2, "Beta", 2)});
        ServerSelectionPage list;
        auto *tree = child<QTreeWidget>(&list, "treeServerList");
        list.show();
        QTRY_COMPARE(tree->topLevelItemCount(), 2);
        list.hide();

        SettingPage page;
        page.show();
        QTest::mousePress(child<QRadioButton>(&page, "radioButtonProtocol1"), Qt::LeftButton);
        QCOMPARE(tree->topLevelItemCount(), 2);   // hidden: not rebuilt yet
        list.show();
        QTRY_COMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(tree->topLevelItem(0)->childCount(), 1);
    }

    void rowsOpenAndCloseTheirParts()
    {
        SettingPage page;
        page.show();
        QTest::mousePress(child(&page, "generalButton"), Qt::LeftButton);
        QVERIFY(child(&page, "generalToolWidget")->isVisible());
        auto *row = child(&page, "protocolWidget");
        auto *part = child(&page, "protocolToolWidget");
        QVERIFY(part->isHidden());
        QCOMPARE(indicator(row), picture(":/img/arrow.png", 15));
        QTest::mousePress(row, Qt::LeftButton);
        QVERIFY(part->isVisible());
        QCOMPARE(indicator(row), picture(":/img/arrow.png", 15, 90));
        QTest::mousePress(row, Qt::LeftButton);
        QVERIFY(part->isHidden());
        QCOMPARE(indicator(row), picture(":/img/arrow.png", 15));
        QSignalSpy tools(&page, &SettingPage::clickNetworkProtecton);
        QTest::mousePress(child(&page, "networkProtection"), Qt::LeftButton);
        QCOMPARE(tools.size(), 1);
    }

    // The switch follows the stored value at each show, so the first press
    // always changes it; switched on without a tunnel, it connects.
    void autoConnectSwitch_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<int>("connects");
        QTest::newRow("off to on, disconnected: connects") << false << false << 1;
        QTest::newRow("off to on, connected: only stored") << false << true << 0;
        QTest::newRow("on to off") << true << false << 0;
    }
    void autoConnectSwitch()
    {
        QFETCH(bool, stored);
        QFETCH(bool, connected);
        QFETCH(int, connects);
        store(0, true, stored, connected);
        SettingPage page;
        QSignalSpy autoConnect(&page, &SettingPage::autoConnectClicked);
        page.show();
        auto *row = child(&page, "autoConnectButton");
        QTRY_COMPARE(indicator(row), picture(stored ? ":/img/1.png" : ":/img/0.png", 32));
        QTest::mousePress(row, Qt::LeftButton);
        QCOMPARE(indicator(row), picture(stored ? ":/img/0.png" : ":/img/1.png", 32));
        Config::instance()->load();
        QCOMPARE(Config::instance()->autoConnect(), !stored);
        QCOMPARE(autoConnect.size(), connects);
    }
};

QTEST_MAIN(SettingPageTest)
#include "tst_settingpage.moc"
