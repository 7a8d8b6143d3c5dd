#pragma once

#include "faultinjector.h"

#include <QString>
#include <QStringList>

namespace Varnel::RefBackend {

struct ServerOptions {
    QString host = QStringLiteral("127.0.0.1");    // the one IPv4 address it binds
    int port = 0;                   // 0: any free port
    bool plain = false;             // HTTP instead of HTTPS
    QString certFile;
    QString keyFile;
    QString dataFile;
    QString faultPath = QString::fromLatin1(FaultInjector::kAnyPath);
    Fault fault;                    // misbehaviour from the start, until changed through the controls
};

// Reads the command line; returns false with a message for bad arguments. "--help" prints the
// usage and exits.
bool parseOptions(const QStringList &arguments, ServerOptions *options, QString *error);

} // namespace Varnel::RefBackend
