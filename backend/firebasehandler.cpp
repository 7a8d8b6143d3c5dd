#include "backend/firebasehandler.h"

#include "backend/backendconfig.h"
#include "backend/basehttprequest.h"

namespace Varnel {

FirebaseHandler::FirebaseHandler(QObject *parent)
    : QObject(parent)
{
    BaseHttpRequest request;
    m_byteData = request.get(BackendConfig::firestoreDocumentUrl(), m_status);
}

} // namespace Varnel
