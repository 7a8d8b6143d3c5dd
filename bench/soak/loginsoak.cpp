// Logs in again and again through the root window, as after a redeemed
// referral code: the login cache is emptied and the start page chosen anew,
// so every round is a full automatic login from the network with a
// generated 5,000-server reply. Prints resident memory, open descriptors,
// threads and child processes after each tenth round, and the growth from
// the tenth round (the first ones fill caches and the log) to the last.
//   varnel-bench-loginsoak [--rounds N] [--servers N]
#include "integration/backend/backendtest.h"

#include "app/rootwindow.h"
#include "common/config.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

using namespace Varnel;

namespace {

struct Usage {
    qint64 rssKb = 0;
    int descriptors = 0;
    int threads = 0;
    int children = 0;
};

qint64 statusField(const QByteArray &status, const QByteArray &field)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

Usage usage()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    const QByteArray text = status.readAll();
    Usage u;
    u.rssKb = statusField(text, "VmRSS");
    u.threads = int(statusField(text, "Threads"));
    u.descriptors = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
    // Children: processes whose parent is this one.
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!pid.front().isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1) == self.toLatin1())
            ++u.children;
    }
    return u;
}

void print(const char *label, const Usage &u)
{
    std::printf("%-12s RSS %8.1f MB  descriptors %4d  threads %3d  children %d\n", label, u.rssKb / 1024.0,
                u.descriptors, u.threads, u.children);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ClientSandbox sandbox;
    QApplication app(argc, argv);
    int rounds = 50;
    int servers = 5000;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--rounds") && i + 1 < args.size()) {
            rounds = qMax(10, args[++i].toInt());
        } else if (args[i] == QLatin1String("--servers") && i + 1 < args.size()) {
            servers = qMax(1, args[++i].toInt());
        } else {
            std::fprintf(stderr, "usage: %s [--rounds N] [--servers N]\n", argv[0]);
            return 2;
        }
    }
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    QTemporaryDir work;
    const QString data = work.filePath(QStringLiteral("servers.json"));
    QProcess datagen;
    datagen.start(QStringLiteral(VARNEL_DATAGEN), {"--servers", QString::number(servers), "--out", data, "--base",
                                                   QStringLiteral(VARNEL_DEMO_DATA)});
    if (!datagen.waitForFinished(60000) || datagen.exitCode() != 0) {
        std::fprintf(stderr, "varnel-refbackend-datagen failed\n");
        return 1;
    }
    RefBackendProcess backend;
    if (!backend.start({QStringLiteral("--data"), data})) {
        std::fprintf(stderr, "%s\n", qPrintable(backend.errorText()));
        return 1;
    }
    sandbox.enter(backend.baseUrl(), backend.caFile());
    const auto config = Config::instance();
    config->setServerHash(QStringLiteral("demo"));
    config->setConnectionHash(QStringLiteral("demo123"));
    config->setAutoLogin(true);
    config->save();

    // A failed login would show a box and wait; count it and go on.
    int failures = 0;
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [&failures] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            ++failures;
            box->accept();
        }
    });
    boxes.start(50);

    RootWindow window(QStringLiteral("not"));
    auto *stack = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    int logins = 0;
    QObject::connect(stack, &QStackedWidget::currentChanged, [&logins](int index) {
        if (index == 3)
            ++logins;
    });
    window.show();

    std::printf("%d logins through the window, %d servers each (demo account)\n", rounds, servers);
    Usage tenth;
    for (int round = 1; round <= rounds; ++round) {
        if (round > 1)
            window.refresh();
        if (!QTest::qWaitFor([&] { return logins == round; }, 60000)) {
            std::fprintf(stderr, "login %d did not finish\n", round);
            return 1;
        }
        QTest::qWait(200);   // the pages' refreshes after the login
        const Usage now = usage();
        if (round == 10)
            tenth = now;
        if (round == 1 || round % 10 == 0)
            print(qPrintable(QStringLiteral("login %1").arg(round)), now);
    }
    const Usage last = usage();
    std::printf("growth from login 10 to %d: RSS %+.1f MB, descriptors %+d, threads %+d, children %+d; "
                "backend logins %d, failed %d\n",
                rounds, (last.rssKb - tenth.rssKb) / 1024.0, last.descriptors - tenth.descriptors,
                last.threads - tenth.threads, last.children - tenth.children,
                backend.count(QStringLiteral("/api/login.php")), failures);
    return failures == 0 ? 0 : 1;
}
