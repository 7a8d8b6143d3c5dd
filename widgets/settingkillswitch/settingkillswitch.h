#pragma once

#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class SettingKillSwitch;
}

// The kill-switch row of the settings page: a press anywhere on it switches
// the kill switch on or off (KillSwitch::toggle); each show reads the stored
// value into the on/off picture.
class SettingKillSwitch : public QWidget
{
    Q_OBJECT
public:
    explicit SettingKillSwitch(QWidget *parent = nullptr);
    ~SettingKillSwitch() override;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    void refresh();
    void showSwitch(bool on);

    std::unique_ptr<Ui::SettingKillSwitch> ui;
};

} // namespace Varnel
