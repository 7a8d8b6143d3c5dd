#include "backend/logincache.h"

#include "common/fileutil.h"

#include <QFile>

namespace Varnel {

QString LoginCache::fileName()
{
    return QStringLiteral("bundile");
}

QJsonDocument LoginCache::read()
{
    return readJson(fileName());
}

void LoginCache::write(const QJsonDocument &document)
{
    // Restrict the file before the reply goes in, so it is never readable by
    // others, not even for a moment; an existing file keeps its mode when
    // truncated.
    QFile file(fileName());
    if (!file.exists() && file.open(QIODevice::WriteOnly))
        file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    writeJson(document, fileName());
}

} // namespace Varnel
