#pragma once

#include <QString>

namespace Varnel {

// Message box text for a failed ApiRequest::login, shared by the manual and
// the automatic login: the server's own text when it refused (1), else a
// connection failure text.
QString loginFailureText(int code, const QString &serverMessage);

} // namespace Varnel
