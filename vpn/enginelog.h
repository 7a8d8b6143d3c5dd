#pragma once

#include "common/logger.h"

#include <QString>

namespace Varnel {

// Every diagnostic line of the VPN engine goes to the application log with
// the same level and category.
inline void engineLog(const QString &text)
{
    Logger::instance().log(text, 1, 4);
}

} // namespace Varnel
