#include "common/gui/linkopener.h"

#include "common/gui/showmessage.h"
#include "common/logger.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QVariant>

namespace Varnel {

namespace {

const char *const kSchemes[] = {"http", "https", "mailto"};
// An opener that runs the browser in the foreground returns only when the
// browser ends; after this long its answer no longer matters.
constexpr int kVerdictMs = 15000;

} // namespace

LinkOpener::LinkOpener(QObject *parent)
    : QObject(parent)
{
    for (const char *scheme : kSchemes)
        QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
}

LinkOpener::~LinkOpener()
{
    for (const char *scheme : kSchemes)
        QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
}

void LinkOpener::open(const QUrl &url)
{
#ifdef Q_OS_UNIX
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (program.isEmpty()) {
        Logger::instance().log(QStringLiteral("Link not opened: no xdg-open"), 1, 4);
        tellNotOpened(url);
        return;
    }
    auto *opener = new QProcess(this);
    opener->setProgram(program);
    opener->setArguments({url.toString(QUrl::FullyEncoded)});
    // xdg-open and the programs it starts print the address when they fail.
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    opener->setProperty("waiting", true);
    connect(opener, &QProcess::errorOccurred, this, [this, opener, url](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        Logger::instance().log(QStringLiteral("Link not opened: xdg-open did not start"), 1, 4);
        opener->deleteLater();
        tellNotOpened(url);
    });
    connect(opener, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this, opener, url](int code, QProcess::ExitStatus status) {
                opener->deleteLater();
                if (!opener->property("waiting").toBool() || (status == QProcess::NormalExit && code == 0))
                    return;
                // xdg-open: 3 no program for the link, 4 the program failed.
                Logger::instance().log(QStringLiteral("Link not opened: xdg-open ended with %1").arg(code), 1, 4);
                tellNotOpened(url);
            });
    QTimer::singleShot(kVerdictMs, opener, [opener] { opener->setProperty("waiting", false); });
    opener->start();
#else
    // Inside a handler QDesktopServices goes to the platform directly.
    if (!QDesktopServices::openUrl(url))
        tellNotOpened(url);
#endif
}

void LinkOpener::tellNotOpened(const QUrl &url)
{
    // A mail link is an address to write to; any other link is copied whole.
    const bool mail = url.scheme() == QLatin1String("mailto");
    const QString address = mail ? url.path() : url.toString(QUrl::FullyEncoded);
    const QString text = mail ? tr("No mail program could be opened. Write to this address from the one you use:")
                              : tr("No browser could open this link. Copy its address into the browser you use:");
    showAddress(text, address);
}

} // namespace Varnel
