#include "common/gui/lockedserver.h"

#include "backend/ipbundle.h"
#include "common/gui/showmessage.h"

#include <QCoreApplication>

namespace Varnel {

bool offerPurchaseIfLocked(const IPBundle &bundle, const std::function<void()> &buy)
{
    if (!bundle.isLocked())
        return false;
    if (showMessage(QCoreApplication::translate("LockedServer",
                                                "You are using free version of Varnel VPN.Buy now to unlock all server?"),
                    QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes)
        buy();
    return true;
}

} // namespace Varnel
