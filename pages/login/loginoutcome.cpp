#include "pages/login/loginoutcome.h"

#include <QCoreApplication>

namespace Varnel {

namespace {

enum LoginResult { Refused = 1, NoEndpoints = 3 };

} // namespace

QString loginFailureText(int code, const QString &serverMessage)
{
    switch (code) {
    case Refused:
        return serverMessage;
    case NoEndpoints:
        return QCoreApplication::translate("Varnel::LoginPage", "Could not connect to login server!");
    default:
        return QCoreApplication::translate("Varnel::LoginPage", "Could not connect to server!");
    }
}

} // namespace Varnel
