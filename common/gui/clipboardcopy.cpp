#include "common/gui/clipboardcopy.h"

#include "common/gui/showmessage.h"

#include <QClipboard>
#include <QGuiApplication>

namespace Varnel {

void copyWithNotice(const QString &text, const QString &notice)
{
    QGuiApplication::clipboard()->setText(text);
    showMessage(notice, QMessageBox::Ok);
}

} // namespace Varnel
