#pragma once

#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class SettingRow;
}

// One row of the settings page: picture, title, a line of description and
// an indicator on the right (an arrow or an on/off picture). A press
// anywhere on it emits clicked().
class SettingRow : public QWidget
{
    Q_OBJECT
public:
    ~SettingRow() override;

signals:
    void clicked();

protected:
    SettingRow(const QString &picture, const QString &title, const QString &description, QWidget *parent);

    void setIndicator(const QString &picture, int size, int rotation = 0);
    // What the row does on a press, before clicked() is emitted.
    virtual void pressed() {}
    void mousePressEvent(QMouseEvent *event) override;

private:
    std::unique_ptr<Ui::SettingRow> ui;
};

// A row that opens and closes a part of the page: its arrow turns.
class ExpandableSettingRow : public SettingRow
{
    Q_OBJECT
protected:
    using SettingRow::SettingRow;
    void pressed() override;

private:
    bool m_expanded = false;
};

class SettingProtocolButton : public ExpandableSettingRow
{
    Q_OBJECT
public:
    explicit SettingProtocolButton(QWidget *parent = nullptr);
};

class SettingGeneralButton : public ExpandableSettingRow
{
    Q_OBJECT
public:
    explicit SettingGeneralButton(QWidget *parent = nullptr);
};

class NetworkProtection : public SettingRow
{
    Q_OBJECT
public:
    explicit NetworkProtection(QWidget *parent = nullptr);
};

// Switches auto-connect; the switch follows the stored value at every show,
// so the first press always changes what the user sees.
class SettingAutoConnectButton : public SettingRow
{
    Q_OBJECT
public:
    explicit SettingAutoConnectButton(QWidget *parent = nullptr);

protected:
    void pressed() override;

private:
    void showSwitch();

    bool m_on = false;
};

class AppCrashReportButton : public SettingRow
{
    Q_OBJECT
public:
    explicit AppCrashReportButton(QWidget *parent = nullptr);
};

// Swaps its own picture only: nothing reads a notification choice.
class NotificationButton : public SettingRow
{
    Q_OBJECT
public:
    explicit NotificationButton(QWidget *parent = nullptr);

protected:
    void pressed() override;

private:
    bool m_on = false;
};

} // namespace Varnel
