#include "extraocserv.h"

#include "labfixture.h"

#include <QFile>
#include <QFileInfo>

namespace Varnel {

namespace {

QString logPath(quint16 port)
{
    return Lab::value("DIR") + QStringLiteral("/extra-%1/ocserv.log").arg(port);
}

} // namespace

ExtraOcserv::~ExtraOcserv()
{
    Lab::control({QStringLiteral("extra-ocserv"), QStringLiteral("stop"), QString::number(m_options.port)});
}

bool ExtraOcserv::start()
{
    m_logStart = QFileInfo(logPath(m_options.port)).size();
    return Lab::control({QStringLiteral("extra-ocserv"), QStringLiteral("start"), QString::number(m_options.port),
                         m_options.device, m_options.network, m_options.groups.join(QLatin1Char(','))});
}

QString ExtraOcserv::gateway() const
{
    return QStringLiteral("%1:%2").arg(Lab::value("SERVER_ADDR")).arg(m_options.port);
}

int ExtraOcserv::authentications() const
{
    QFile log(logPath(m_options.port));
    if (!log.open(QIODevice::ReadOnly) || !log.seek(m_logStart))
        return -1;
    return log.readAll().count("authentication to authenticate user");
}

QString ExtraOcserv::error() const
{
    return Lab::lastError();
}

} // namespace Varnel
