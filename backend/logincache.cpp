#include "backend/logincache.h"

#include "backend/replyjson.h"
#include "common/fileutil.h"

#include <QFile>

namespace Varnel {

QString LoginCache::fileName()
{
    return QStringLiteral("bundile");
}

QJsonDocument LoginCache::read()
{
    return parseReplyJson(readText());
}

namespace {

// Restrict the file before the reply goes in, so it is never readable by
// others, not even for a moment; an existing file keeps its mode when
// truncated.
void createOwnerOnly(const QString &fileName)
{
    QFile file(fileName);
    if (!file.exists() && file.open(QIODevice::WriteOnly))
        file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace

void LoginCache::write(const QJsonDocument &document)
{
    createOwnerOnly(fileName());
    writeJson(document, fileName());
}

QByteArray LoginCache::readText()
{
    QFile file(fileName());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void LoginCache::writeText(const QByteArray &json)
{
    createOwnerOnly(fileName());
    QFile file(fileName());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(json);
}

} // namespace Varnel
