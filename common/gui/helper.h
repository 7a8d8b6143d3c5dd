#pragma once

#include "common/fileutil.h"
#include "common/gui/shadow.h"
#include "common/gui/showmessage.h"
#include "common/iconnames.h"
#include "common/localeinfo.h"
#include "common/netinfo.h"
#include "common/stylefonts.h"
#include "platform/deviceinfo.h"

#include <QWidget>

namespace Varnel {

// The utility object that pages create without parent when they need one.
// The file and shadow operations are members; the rest do not use the
// instance. All of them hand over to the widget-free functions.
class Helper : public QWidget
{
    Q_OBJECT
public:
    explicit Helper(QWidget *parent = nullptr) : QWidget(parent) {}

    QJsonDocument readJson(const QString &fileName) const { return Varnel::readJson(fileName); }
    void writeJson(const QJsonDocument &doc, const QString &fileName) const { Varnel::writeJson(doc, fileName); }
    void writeTextFile(const QString &text, const QString &dir, const QString &fileName) const
    {
        Varnel::writeTextFile(text, dir, fileName);
    }

    void setLargeShadow(QWidget *widget) const { Varnel::setLargeShadow(widget); }
    void setSmallShadow(QWidget *widget) const { Varnel::setSmallShadow(widget); }
    void setMediumShadow(QWidget *widget) const { Varnel::setMediumShadow(widget); }

    static DeviceInfo deviceInfo() { return Varnel::deviceInfo(); }
    static int countryCallingCode() { return Varnel::countryCallingCode(); }
    static QString utcOffsetText() { return Varnel::utcOffsetText(); }
    static QString flagName(int code) { return Varnel::flagName(code); }
    static QString iconPath(int code) { return Varnel::iconPath(code); }
    static QString localIpv4() { return Varnel::localIpv4(); }
    static QByteArray rewriteFonts(const QByteArray &style, int size16, int size24, int weight)
    {
        return Varnel::rewriteFonts(style, size16, size24, weight);
    }
    static QMessageBox::StandardButton showMessage(const QString &text, QMessageBox::StandardButtons buttons,
                                                   const QString &detail = QString())
    {
        return Varnel::showMessage(text, buttons, detail);
    }
    static void setMainWindow(QWidget *window) { Varnel::setMainWindow(window); }
};

} // namespace Varnel
