#include "common/fileutil.h"

#include <QFile>
#include <QTextStream>

namespace Varnel {

QJsonDocument readJson(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll());
}

void writeJson(const QJsonDocument &doc, const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    if (!doc.isNull())
        file.write(doc.toJson(QJsonDocument::Indented));
}

void writeTextFile(const QString &text, const QString &dir, const QString &fileName)
{
    QFile file(dir + QLatin1Char('/') + fileName);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Text))
        return;
    {
        QTextStream stream(&file);
        stream << text;
    }
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser
                        | QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther);
}

} // namespace Varnel
