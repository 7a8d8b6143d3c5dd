#pragma once

#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class DeviceWidget;
class DeviceGroup;
}

// One device signed in to the account: model, maker, system version and the
// version of the VPN application on it.
class DeviceWidget : public QWidget
{
    Q_OBJECT
public:
    DeviceWidget(const QString &model, const QString &brand, const QString &osVersion,
                 const QString &appVersion, QWidget *parent = nullptr);
    ~DeviceWidget() override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::unique_ptr<Ui::DeviceWidget> ui;
};

// The devices of one operating system: a heading with the system's picture
// and the number of devices, then one DeviceWidget per device. Hidden while
// it holds none.
class DeviceGroup : public QWidget
{
    Q_OBJECT
public:
    explicit DeviceGroup(QWidget *parent = nullptr);
    ~DeviceGroup() override;

    void setSystem(const QString &title, const QString &picture);
    void add(DeviceWidget *device);
    void clear();
    int count() const { return m_count; }

private:
    void showCount();

    std::unique_ptr<Ui::DeviceGroup> ui;
    int m_count = 0;
};

} // namespace Varnel
