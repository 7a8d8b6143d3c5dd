// Resident memory of the client (the real executable, offscreen): right after
// start on the login page, and after an automatic login with the demo data
// set and with a generated 5,000-server set, each with the logged-in area
// shown. Every run starts the client in fresh home, settings and working
// directories against the reference backend on loopback; prints VmRSS and
// Pss of each run and the medians, beside a plain Qt Widgets window of the
// same size measured the same way in the same run (this program with
// --plain-window), so the ratio can be compared across machines.
// --program PATH measures another build of the client.
//
// Nothing in the client exists for this: the login is seen from outside, in
// the client's debug output ("Login User Type" follows the login reply) and
// the backend's request counters; the window has settled when its RSS stops
// moving.

#include "app/singleinstance.h"
#include "common/config.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kStartTimeoutMs = 30000;
constexpr int kLoginTimeoutMs = 60000;
// The window keeps working for a moment after the reply (pages, pictures).
constexpr int kSettleMinMs = 3000;
constexpr int kSettleMaxMs = 20000;
constexpr qint64 kSettledKb = 512;   // RSS moved less than this over one second

QTextStream out(stdout);
QString g_program = QStringLiteral(VARNELVPN_EXECUTABLE);

struct Sample {
    double rssMb = -1;
    double pssMb = -1;
};

bool fail(const QString &text)
{
    std::fprintf(stderr, "varnel-bench-memory: %s\n", qPrintable(text));
    return false;
}

qint64 procKb(const QString &file, const QByteArray &field)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

Sample sample(qint64 pid)
{
    const QString dir = QStringLiteral("/proc/%1/").arg(pid);
    Sample s;
    s.rssMb = procKb(dir + "status", "VmRSS") / 1024.0;
    s.pssMb = procKb(dir + "smaps_rollup", "Pss") / 1024.0;
    return s;
}

// Rss per mapping name (heap, anonymous, each file), largest first.
void printMappings(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return;
    static const QRegularExpression header(QStringLiteral("^[0-9a-f]+-[0-9a-f]+ \\S+ \\S+ \\S+ \\S+\\s*(.*)$"));
    QMap<QString, qint64> rss;
    QString current;
    for (const QByteArray &raw : f.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw);
        const QRegularExpressionMatch m = header.match(line);
        if (m.hasMatch()) {
            current = m.captured(1).isEmpty() ? QStringLiteral("[anonymous]") : m.captured(1);
        } else if (line.startsWith(QLatin1String("Rss:"))) {
            rss[current] += line.mid(4).trimmed().split(' ').value(0).toLongLong();
        }
    }
    QVector<QPair<qint64, QString>> sorted;
    for (auto it = rss.cbegin(); it != rss.cend(); ++it)
        sorted.append({it.value(), it.key()});
    std::sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    out << "  mappings by RSS (kB):\n";
    for (int i = 0; i < std::min(20, int(sorted.size())); ++i)
        out << "    " << qSetFieldWidth(8) << sorted[i].first << qSetFieldWidth(0) << "  " << sorted[i].second << "\n";
    out.flush();
}

void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();   // SIGTERM to its PID
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// The reference backend on 127.0.0.1 with its test controls.
class Backend
{
public:
    ~Backend() { stopProcess(m_process); }

    bool start(const QString &certDir, const QString &dataFile)
    {
        m_ssl = QSslConfiguration::defaultConfiguration();
        m_ssl.setCaCertificates(QSslCertificate::fromPath(certDir + "/ca.crt"));
        QStringList args{"--port", "0", "--cert-dir", certDir};
        if (!dataFile.isEmpty())
            args << "--data" << dataFile;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(VARNEL_REFBACKEND), args);
        if (!m_process.waitForStarted(kStartTimeoutMs))
            return fail("the reference backend did not start: " + m_process.errorString());
        static const QRegularExpression listening(QStringLiteral("^listening on (https://127\\.0\\.0\\.1:\\d+)"));
        const QDeadlineTimer deadline(kStartTimeoutMs);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            while (m_process.canReadLine()) {
                const QRegularExpressionMatch m = listening.match(QString::fromUtf8(m_process.readLine()).trimmed());
                if (m.hasMatch()) {
                    m_base = m.captured(1);
                    return true;
                }
            }
            m_process.waitForReadyRead(200);
        }
        return fail(QStringLiteral("no \"listening on\" line from the reference backend"));
    }

    QString base() const { return m_base; }

    int totalRequests()
    {
        QNetworkRequest request(QUrl(m_base + "/_control/counts"));
        request.setSslConfiguration(m_ssl);
        QNetworkReply *reply = m_manager.get(request);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, reply, &QNetworkReply::abort);
        if (!reply->isFinished())
            loop.exec();
        int total = 0;
        for (const QJsonValue &v : QJsonDocument::fromJson(reply->readAll()).object())
            total += v.toInt();
        reply->deleteLater();
        return total;
    }

private:
    QProcess m_process;
    QString m_base;
    QNetworkAccessManager m_manager;
    QSslConfiguration m_ssl;
};

enum class Scenario { PlainWindow, LoginPage, LoggedIn };

// Waits until the client's debug output (a file it appends to) contains the marker.
bool waitForText(const QString &file, const QByteArray &marker, const QProcess &client, int timeoutMs)
{
    QFile log(file);
    const QDeadlineTimer deadline(timeoutMs);
    qint64 offset = 0;
    while (!deadline.hasExpired() && client.state() == QProcess::Running) {
        if (log.isOpen() || log.open(QIODevice::ReadOnly)) {
            log.seek(std::max<qint64>(0, offset - marker.size()));
            const QByteArray chunk = log.readAll();
            if (chunk.contains(marker))
                return true;
            offset = log.pos();
        }
        QThread::msleep(100);
    }
    return false;
}

// RSS has settled when it moves less than kSettledKb over a second, at the
// earliest kSettleMinMs after the event, and the backend sees no requests.
void settle(qint64 pid, Backend &backend)
{
    QElapsedTimer clock;
    clock.start();
    QThread::msleep(kSettleMinMs);
    qint64 before = procKb(QStringLiteral("/proc/%1/status").arg(pid), "VmRSS");
    int requests = backend.totalRequests();
    while (clock.elapsed() < kSettleMaxMs) {
        QThread::msleep(1000);
        const qint64 now = procKb(QStringLiteral("/proc/%1/status").arg(pid), "VmRSS");
        const int nowRequests = backend.totalRequests();
        if (std::abs(now - before) < kSettledKb && nowRequests == requests)
            return;
        before = now;
        requests = nowRequests;
    }
}

// Writes the settings of a logged-in user through the client's own Config,
// in a child process that sees the run's XDG_CONFIG_HOME.
bool writeProfile(const QString &program, const QProcessEnvironment &env)
{
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(program, {QStringLiteral("--write-profile")});
    return child.waitForFinished(10000) && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
}

int writeProfileHere()
{
    const auto config = Varnel::Config::instance();
    config->load();
    config->setServerHash(QStringLiteral("demo"));
    config->setConnectionHash(QStringLiteral("demo123"));
    config->setAutoLogin(true);
    config->save();
    return 0;
}

Sample runOnce(Scenario scenario, Backend &backend, const QString &certDir, bool mappings)
{
    QTemporaryDir root;
    for (const char *sub : {"home", "config", "data", "runtime", "work"})
        QDir(root.path()).mkpath(QLatin1String(sub));
    QFile::setPermissions(root.path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", root.path() + "/home");
    env.insert("XDG_CONFIG_HOME", root.path() + "/config");
    env.insert("XDG_DATA_HOME", root.path() + "/data");
    env.insert("XDG_RUNTIME_DIR", root.path() + "/runtime");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VARNELVPN_API_BASE", backend.base());
    env.insert("VARNELVPN_CA_FILE", certDir + "/ca.crt");

    if (scenario == Scenario::LoggedIn && !writeProfile(QCoreApplication::applicationFilePath(), env)) {
        fail("could not write the settings profile");
        return {};
    }

    const QString logFile = root.path() + "/client.log";
    QProcess client;
    client.setProcessEnvironment(env);
    client.setWorkingDirectory(root.path() + "/work");
    client.setStandardOutputFile(QProcess::nullDevice());
    client.setStandardErrorFile(logFile);
    if (scenario == Scenario::PlainWindow)
        client.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--plain-window")});
    else
        client.start(g_program, QStringList());
    if (!client.waitForStarted(kStartTimeoutMs)) {
        fail("the client did not start");
        return {};
    }
    const qint64 pid = client.processId();

    bool ready = false;
    if (scenario != Scenario::LoggedIn) {
        // The primary answers only from its event loop, entered once the window is shown.
        ready = Varnel::sendInstanceMessage(Varnel::SingleInstance::socketPath(root.path() + "/runtime"),
                                            QStringLiteral("Wake up!"), kStartTimeoutMs);
    } else {
        ready = waitForText(logFile, QByteArrayLiteral("Login User Type"), client, kLoginTimeoutMs);
    }
    Sample s;
    if (ready) {
        settle(pid, backend);
        s = sample(pid);
        if (mappings)
            printMappings(pid);
    } else {
        fail(scenario != Scenario::LoggedIn ? "the window did not come up" : "no login within the time limit");
    }
    stopProcess(client);
    return s;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool runSeries(const QString &title, Scenario scenario, Backend &backend, const QString &certDir, int runs,
               bool mappings, double *medianRss = nullptr)
{
    out << title << ":\n";
    out.flush();
    QVector<double> rss, pss;
    for (int run = 1; run <= runs; ++run) {
        const Sample s = runOnce(scenario, backend, certDir, mappings && run == runs);
        if (s.rssMb < 0)
            return false;
        out << "  run " << run << ": RSS " << QString::number(s.rssMb, 'f', 1) << " MB, Pss "
            << QString::number(s.pssMb, 'f', 1) << " MB\n";
        out.flush();
        rss << s.rssMb;
        pss << s.pssMb;
    }
    out << "  median: RSS " << QString::number(median(rss), 'f', 1) << " MB, Pss "
        << QString::number(median(pss), 'f', 1) << " MB\n";
    out.flush();
    if (medianRss)
        *medianRss = median(rss);
    return true;
}

// The reference: a plain window of the client's size with the same
// single-instance channel, and nothing else.
int plainWindow(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QApplication app(argc, argv);
    Varnel::SingleInstance instance;
    QWidget window;
    window.setFixedSize(1080, 740);
    window.show();
    return app.exec();
}

// The generated set must keep the account the profile logs in with.
bool hasDemoAccount(const QString &dataFile)
{
    QFile f(dataFile);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QJsonArray accounts = QJsonDocument::fromJson(f.readAll()).object().value("accounts").toArray();
    return std::any_of(accounts.begin(), accounts.end(), [](const QJsonValue &a) {
        return a.toObject().value("username").toString() == QLatin1String("demo")
            && a.toObject().value("password").toString() == QLatin1String("demo123");
    });
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--plain-window") == 0)
        return plainWindow(argc, argv);
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    if (args.contains(QStringLiteral("--write-profile")))
        return writeProfileHere();

    int runs = 5;
    int servers = 5000;
    bool mappings = false;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--servers") && i + 1 < args.size())
            servers = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--mappings"))
            mappings = true;
        else if (args[i] == QLatin1String("--program") && i + 1 < args.size())
            g_program = args[++i];
        else {
            std::fprintf(stderr, "usage: %s [--runs N] [--servers N] [--mappings] [--program PATH]\n", argv[0]);
            return 2;
        }
    }

    QTemporaryDir work;
    const QString certDir = work.filePath("certs");
    QProcess certs;
    certs.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    certs.setStandardOutputFile(QProcess::nullDevice());
    certs.start(QStringLiteral("bash"), {QStringLiteral(VARNEL_MAKE_CERTS), certDir});
    if (!certs.waitForFinished(30000) || certs.exitCode() != 0) {
        fail("make-certs.sh failed");
        return 1;
    }

    const QString bigData = work.filePath("servers.json");
    QProcess datagen;
    datagen.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    datagen.setStandardOutputFile(QProcess::nullDevice());
    datagen.start(QStringLiteral(VARNEL_DATAGEN), {"--servers", QString::number(servers), "--out", bigData});
    if (!datagen.waitForFinished(60000) || datagen.exitCode() != 0) {
        fail("varnel-refbackend-datagen failed");
        return 1;
    }
    if (!hasDemoAccount(bigData)) {
        fail("the generated data set has no demo/demo123 account");
        return 1;
    }

    out << "client memory (" << g_program << ", offscreen), " << runs << " runs each\n";
    bool ok = true;
    double plain = 0, loginPage = 0, demoData = 0, big = 0;
    {
        Backend demo;
        ok = demo.start(certDir, QString())
            && runSeries("a plain Qt window (reference)", Scenario::PlainWindow, demo, certDir, runs, false, &plain)
            && runSeries("start, login page (demo data)", Scenario::LoginPage, demo, certDir, runs, mappings,
                         &loginPage)
            && runSeries("after login, demo data", Scenario::LoggedIn, demo, certDir, runs, mappings, &demoData);
    }
    if (ok) {
        Backend bigBackend;
        ok = bigBackend.start(certDir, bigData)
            && runSeries(QStringLiteral("after login, %1 servers").arg(servers), Scenario::LoggedIn, bigBackend,
                         certDir, runs, mappings, &big);
    }
    if (ok) {
        const auto line = [plain](const char *what, double rss) {
            out << "  " << what << " " << QString::number(rss, 'f', 1) << " MB, "
                << QString::number(rss / plain, 'f', 2) << " times the plain window\n";
        };
        out << "median RSS beside a plain Qt window's " << QString::number(plain, 'f', 1) << " MB:\n";
        line("login page", loginPage);
        line("after login, demo data", demoData);
        line(qPrintable(QStringLiteral("after login, %1 servers").arg(servers)), big);
    }
    return ok ? 0 : 1;
}
