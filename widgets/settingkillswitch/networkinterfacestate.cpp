#include "widgets/settingkillswitch/networkinterfacestate.h"

#include "common/gui/msgbox.h"
#include "vpn/killswitch.h"

#include <QCoreApplication>

namespace Varnel {

void applyNetworkInterfaceState(QWidget *page, bool enable)
{
    if (KillSwitch::runScript(KillSwitch::Runner::ConnectPage, enable) != KillSwitch::Outcome::MissingScript)
        return;
    MsgBox box(page);
    box.setIcon(QMessageBox::Information);
    box.setWindowTitle(QCoreApplication::translate("Varnel::ConnectPage", "File Error"));
    box.setText(QCoreApplication::translate("Varnel::ConnectPage", "The  file does not exist."));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

} // namespace Varnel
