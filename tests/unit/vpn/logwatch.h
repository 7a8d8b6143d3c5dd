#pragma once

#include "common/logger.h"

#include <QStringList>

namespace Varnel {

// The application log from the moment of construction on.
class LogWatch
{
public:
    LogWatch() { restart(); }

    void restart()
    {
        const auto all = Logger::instance().messagesSince(-1);
        m_since = all.isEmpty() ? -1 : all.last().id;
    }

    QStringList lines() const
    {
        QStringList result;
        for (const Logger::Message &message : Logger::instance().messagesSince(m_since))
            result << message.message;
        return result;
    }

    bool contains(const QString &line) const { return lines().contains(line); }

private:
    int m_since = -1;
};

} // namespace Varnel
