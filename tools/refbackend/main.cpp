// Reference backend: a local stand-in for the provider's backend, for development and tests.

#include "options.h"
#include "refserver.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

using namespace Varnel::RefBackend;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnel-refbackend"));
    // A client that goes away mid-answer must not kill the server through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);

    ServerOptions options;
    QString error;
    if (!parseOptions(QCoreApplication::arguments(), &options, &error)) {
        std::fprintf(stderr, "varnel-refbackend: %s\n", qPrintable(error));
        return 2;
    }
    DataSet data;
    if (!loadDataSet(options.dataFile, AccountStore::today(), &data, &error)) {
        std::fprintf(stderr, "varnel-refbackend: %s\n", qPrintable(error));
        return 2;
    }

    RefServer server(options, data);
    if (!server.isValid()) {
        std::fprintf(stderr, "varnel-refbackend: cannot load certificate %s or key %s\n",
                     qPrintable(options.certFile), qPrintable(options.keyFile));
        return 2;
    }
    const int port = server.bind();
    if (port < 0) {
        std::fprintf(stderr, "varnel-refbackend: cannot bind %s:%d\n", qPrintable(options.host), options.port);
        return 1;
    }

    for (const Account &a : data.accounts) {
        if (a.demo)
            std::printf("demo account: %s / %s (%s)\n", qPrintable(a.username), qPrintable(a.password),
                        qPrintable(planTitle(a.effectivePlan(AccountStore::today()))));
    }
    std::printf("data: %s (%d accounts, %d servers)\n", qPrintable(options.dataFile), int(data.accounts.size()),
                server.serverCount());
    // Fixtures wait for this line and take the port from it.
    std::printf("listening on %s\n", qPrintable(server.baseUrl()));
    std::fflush(stdout);
    return server.serve() ? 0 : 1;
}
