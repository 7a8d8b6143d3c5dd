#pragma once

#include <QWidget>

#include <memory>

namespace Varnel {

namespace Ui {
class MenuEntry;
}

// One entry of the side menu: picture, text and an arrow; a mouse press
// anywhere on it emits clicked().
class MenuEntry : public QWidget
{
    Q_OBJECT
public:
    ~MenuEntry() override;

signals:
    void clicked();

protected:
    // needsTunnel: while the kill switch blocks traffic outside a tunnel that
    // is not up, the page behind the entry could not load; the user is told
    // to connect first instead.
    MenuEntry(const QString &picture, const QString &text, bool needsTunnel, QWidget *parent);

    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    std::unique_ptr<Ui::MenuEntry> ui;
    bool m_needsTunnel;
};

// The entries, one class each, as the menu's form names them.
class MyAccout : public MenuEntry
{
    Q_OBJECT
public:
    explicit MyAccout(QWidget *parent = nullptr);
};
class PremiumButton : public MenuEntry
{
    Q_OBJECT
public:
    explicit PremiumButton(QWidget *parent = nullptr);
};
class SupportButton : public MenuEntry
{
    Q_OBJECT
public:
    explicit SupportButton(QWidget *parent = nullptr);
};
class SettingButton : public MenuEntry
{
    Q_OBJECT
public:
    explicit SettingButton(QWidget *parent = nullptr);
};
class Tools : public MenuEntry
{
    Q_OBJECT
public:
    explicit Tools(QWidget *parent = nullptr);
};
class Devices : public MenuEntry
{
    Q_OBJECT
public:
    explicit Devices(QWidget *parent = nullptr);
};
class AboutUs : public MenuEntry
{
    Q_OBJECT
public:
    explicit AboutUs(QWidget *parent = nullptr);
};
class VarnelMoreButton : public MenuEntry
{
    Q_OBJECT
public:
    explicit VarnelMoreButton(QWidget *parent = nullptr);
};
class Refer : public MenuEntry
{
    Q_OBJECT
public:
    explicit Refer(QWidget *parent = nullptr);
};
class RedeemVoucherButton : public MenuEntry
{
    Q_OBJECT
public:
    explicit RedeemVoucherButton(QWidget *parent = nullptr);
};
class PrivateBrowserButton : public MenuEntry
{
    Q_OBJECT
public:
    explicit PrivateBrowserButton(QWidget *parent = nullptr);
};
class LogoutButton : public MenuEntry
{
    Q_OBJECT
public:
    explicit LogoutButton(QWidget *parent = nullptr);
};

} // namespace Varnel
