#pragma once

#include <QString>

namespace Varnel {

// Puts the text on the clipboard and tells the user so in a message box.
void copyWithNotice(const QString &text, const QString &notice);

} // namespace Varnel
