#include "clientsandbox.h"

#include "backend/vpncredentials.h"
#include "common/appinfo.h"
#include "common/config.h"
#include "common/logger.h"
#include "tools/refbackend/routes.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>

ClientSandbox::ClientSandbox()
{
    // Before anything opens a settings store or the login cache, so the
    // user's own are never read.
    qputenv("XDG_CONFIG_HOME", m_root.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_STATE_HOME", m_root.filePath(QStringLiteral("state")).toUtf8());
}

void ClientSandbox::enter(const QString &apiBase, const QString &caFile)
{
    m_test = std::make_unique<QTemporaryDir>(m_root.filePath(QStringLiteral("test-XXXXXX")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_test->filePath(QStringLiteral("config")));
    qputenv("XDG_STATE_HOME", m_test->filePath(QStringLiteral("state")).toUtf8());

    qputenv("VARNELVPN_API_BASE", apiBase.toUtf8());
    qputenv("VARNELVPN_CA_FILE", caFile.toUtf8());
    qunsetenv("VARNELVPN_HTTP_TIMEOUT_MS");
    Varnel::Config::instance()->load();   // defaults of a fresh store: logged out
    Varnel::setVpnCredentials(QString(), QString());
}

QVariant ClientSandbox::stored(const QString &key) const
{
    const QSettings settings(m_test->filePath(QStringLiteral("config/Morvanta/VarnelVPN.conf")), QSettings::IniFormat);
    return settings.value(key);
}

QProcessEnvironment ClientSandbox::clientEnvironment(const QString &filesDir) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QDir files(filesDir);
    for (const char *sub : {"home", "data", "runtime"})
        files.mkpath(QLatin1String(sub));
    QFile::setPermissions(files.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("HOME"), files.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_test->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), files.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), m_test->filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), files.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

void ClientSandbox::startClient(QProcess &client, const QString &executable, const QProcessEnvironment &environment,
                                const QString &filesDir) const
{
    client.setProcessEnvironment(environment);
    client.setWorkingDirectory(m_test->path());
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.setStandardOutputFile(QDir(filesDir).filePath(QStringLiteral("client.log")), QIODevice::Append);
    client.start(executable, QStringList());
}

void ClientSandbox::storeEndpoints(const QMap<QString, QString> &values)
{
    QSettings settings(Varnel::organizationName(), QString::fromLatin1(Varnel::kApplicationId));
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
}

QMap<QString, QString> ClientSandbox::endpointsAt(const QString &base)
{
    namespace R = Varnel::RefBackend::Routes;
    return {{QStringLiteral("loginUrl"), base + QLatin1String(R::kLogin)},
            {QStringLiteral("signupUrl"), base + QLatin1String(R::kSignUp)},
            {QStringLiteral("forgotPassUrl"), base + QLatin1String(R::kForgotPassword)},
            {QStringLiteral("paymentData"), base + QStringLiteral("/pricing")},
            {QStringLiteral("loggedDeviceUrl"), base + QLatin1String(R::kLoggedDevices)},
            {QStringLiteral("subscriveServer"), base + QLatin1String(R::kSubscribe)},
            {QStringLiteral("RedeemVoucher"), base + QLatin1String(R::kRedeemVoucher)},
            {QStringLiteral("ReferServer"), base + QLatin1String(R::kRefer)},
            {QStringLiteral("ReferInfoServer"), base + QLatin1String(R::kReferInfo)},
            {QStringLiteral("DecisionData"), QStringLiteral("Stored~~decision~~data")}};
}

int ClientSandbox::logMark()
{
    const auto records = Varnel::Logger::instance().messagesSince(-1);
    return records.isEmpty() ? -1 : records.last().id;
}

QStringList ClientSandbox::logSince(int mark)
{
    QStringList texts;
    for (const auto &record : Varnel::Logger::instance().messagesSince(mark))
        texts << record.message;
    return texts;
}
