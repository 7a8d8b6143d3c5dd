#pragma once

#include "common/gui/page.h"

#include <QString>
#include <QVector>

#include <memory>

namespace Varnel {

namespace Ui {
class DevicesPage;
}

class BusyState;
class DeviceGroup;

// The devices signed in to the account, grouped by operating system. Every
// show asks the backend for the list again.
class DevicesPage : public Page
{
    Q_OBJECT
public:
    explicit DevicesPage(QWidget *parent = nullptr);
    ~DevicesPage() override;

protected:
    void reload() override;

private:
    void load();
    // The page from the account record's list: each device in the group of
    // its system; devices of other systems are not shown.
    void rebuild();

    struct Group {
        QString osName;   // as the backend names it, compared case-sensitively
        DeviceGroup *widget;
    };

    std::unique_ptr<Ui::DevicesPage> ui;
    QVector<Group> m_groups;
    BusyState *m_busy;
    bool m_loaded = false;
};

} // namespace Varnel
