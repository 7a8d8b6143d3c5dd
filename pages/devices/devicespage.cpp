#include "pages/devices/devicespage.h"
#include "ui_devicespage.h"

#include "backend/apirequest.h"
#include "backend/user.h"
#include "common/gui/showmessage.h"
#include "platform/osname.h"
#include "widgets/busystate.h"
#include "widgets/device/devicewidget.h"

#include <QJsonArray>
#include <QJsonObject>

namespace Varnel {

DevicesPage::DevicesPage(QWidget *parent)
    : Page(parent)
    , ui(std::make_unique<Ui::DevicesPage>())
{
    ui->setupUi(this);
    setBackButton(ui->btnBack);
    m_busy = new BusyState(ui->lblSpinner, this);

    const auto group = [this](DeviceGroup *widget, const QString &osName, const QString &title,
                              const QString &picture) {
        widget->setSystem(title, picture);
        m_groups.append(Group{osName, widget});
    };
    group(ui->windowsGroup, QStringLiteral("windows"), tr("Windows"), QStringLiteral(":/img/device windows.png"));
    group(ui->androidGroup, QStringLiteral("Android"), tr("Android"), QStringLiteral(":/img/device android.png"));
    group(ui->iosGroup, QStringLiteral("iOS"), tr("iOS"), QStringLiteral(":/img/device ios.png"));
    group(ui->huaweiGroup, QStringLiteral("huawei"), tr("Huawei"), QStringLiteral(":/img/device huawei.png"));
    // This desktop's own system, as it names itself at login, unless one of
    // the groups above already holds it.
    const QString ownSystem = loginSystemName();
    const bool known = std::any_of(m_groups.cbegin(), m_groups.cend(),
                                   [&](const Group &g) { return g.osName == ownSystem; });
    if (!known)
        group(ui->desktopGroup, ownSystem, loginSystemFamily(), QStringLiteral(":/img/device linux.png"));
}

DevicesPage::~DevicesPage() = default;

void DevicesPage::reload()
{
    User::instance()->setLoggedDevices(QJsonArray());
    m_loaded = false;
    rebuild();
    load();
}

void DevicesPage::load()
{
    const auto api = ApiRequest::instance();
    int result = 0;
    if (!m_busy->run([&] { result = api->loggedDevices(); }))
        return;
    if (result > 1) {
        showMessage(tr("Could not connect to server!"), QMessageBox::Ok);
        // The user may have gone elsewhere meanwhile: only a page still
        // shown closes itself.
        if (isVisible())
            emit clickBack();
    } else {
        m_loaded = true;
        recordPages(LeftPage::Devices);
    }
    rebuild();
}

void DevicesPage::rebuild()
{
    for (const Group &group : qAsConst(m_groups))
        group.widget->clear();
    const QJsonArray devices = User::instance()->loggedDevices();
    for (const QJsonValue &value : devices) {
        const QJsonObject device = value.toObject();
        const auto text = [&](const char *member) { return device.value(QLatin1String(member)).toString(); };
        const QString osName = text("os_name");
        for (const Group &group : qAsConst(m_groups)) {
            if (group.osName == osName) {
                group.widget->add(new DeviceWidget(text("model"), text("brand"), text("os_version"),
                                                   text("vpn_app_version")));
                break;
            }
        }
    }
    const bool anyShown = std::any_of(m_groups.cbegin(), m_groups.cend(),
                                      [](const Group &g) { return g.widget->count() > 0; });
    ui->lblEmpty->setVisible(m_loaded && !anyShown);
}

} // namespace Varnel
