#include "backend/logincache.h"

#include "backend/replyjson.h"
#include "common/logger.h"
#include "common/ownfiles.h"
#include "platform/userfolders.h"

namespace Varnel {

namespace {

void logRefusal(const QString &why)
{
    if (!why.isEmpty())
        Logger::instance().log(QStringLiteral("Login cache not used: %1").arg(why), 1, 4);
}

} // namespace

QString LoginCache::fileName()
{
    return stateDirectory() + QStringLiteral("/bundile");
}

QJsonDocument LoginCache::read()
{
    return parseReplyJson(readText());
}

void LoginCache::write(const QJsonDocument &document)
{
    writeText(document.isNull() ? QByteArray() : document.toJson(QJsonDocument::Indented));
}

QByteArray LoginCache::readText()
{
    QString why;
    const auto text = readOwnFile(fileName(), &why);
    logRefusal(why);
    return text.value_or(QByteArray());
}

void LoginCache::writeText(const QByteArray &json)
{
    QString why;
    if (!makePrivateFolder(stateDirectory(), &why) || !writeOwnFile(fileName(), json, 0600, &why))
        logRefusal(why);
}

} // namespace Varnel
