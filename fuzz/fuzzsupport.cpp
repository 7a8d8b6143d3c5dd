#include "fuzzsupport.h"

#include <QTemporaryDir>

#include <cstdio>

namespace {

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

// libFuzzer's start-up hook: drops Qt's messages (the code under test logs
// every reply), and gives the settings store a throw-away home.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qInstallMessageHandler(dropMessage);
    // Kept for the whole run; removed when the process ends normally.
    static QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    QCoreApplication::setOrganizationName(QStringLiteral("Morvanta"));
    QCoreApplication::setApplicationName(QStringLiteral("VarnelVPN"));
    static QCoreApplication application(*argc, *argv);
    return 0;
}

namespace VarnelFuzz {

void fail(const char *what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

} // namespace VarnelFuzz
