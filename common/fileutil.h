#pragma once

#include <QJsonDocument>
#include <QString>

namespace Varnel {

// Parses the whole file as JSON; a missing, unreadable or invalid file gives
// a null document. Relative names resolve against the current directory.
QJsonDocument readJson(const QString &fileName);

// Truncates the file and writes the indented document; a null document
// leaves the file empty.
void writeJson(const QJsonDocument &doc, const QString &fileName);

// Writes text to dir + "/" + fileName (truncating) and makes it readable and
// writable by everyone (the firewall scripts run under another account).
void writeTextFile(const QString &text, const QString &dir, const QString &fileName);

} // namespace Varnel
