#include "faultinjector.h"

namespace Varnel::RefBackend {

namespace {

struct ModeName {
    Fault::Mode mode;
    const char *name;
};

constexpr ModeName kModes[] = {
    {Fault::Mode::None, "none"},
    {Fault::Mode::Status500, "status500"},
    {Fault::Mode::NotJson, "notjson"},
    {Fault::Mode::Close, "close"},
};

} // namespace

bool Fault::modeFromName(const QString &name, Mode *mode)
{
    if (name == QLatin1String("delay")) {
        *mode = Mode::None;
        return true;
    }
    for (const ModeName &m : kModes) {
        if (name == QLatin1String(m.name)) {
            *mode = m.mode;
            return true;
        }
    }
    return false;
}

QString Fault::modeName(Mode mode)
{
    for (const ModeName &m : kModes) {
        if (m.mode == mode)
            return QString::fromLatin1(m.name);
    }
    return QString();
}

void FaultInjector::set(const QString &path, const Fault &fault)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (fault.isEmpty() || fault.remaining == 0)
        rules_.remove(path);
    else
        rules_.insert(path, fault);
}

void FaultInjector::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
}

std::optional<Fault> FaultInjector::take(const QString &path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = rules_.find(path);
    if (it == rules_.end())
        it = rules_.find(QLatin1String(kAnyPath));
    if (it == rules_.end())
        return std::nullopt;
    const Fault fault = *it;
    if (it->remaining > 0 && --it->remaining == 0)
        rules_.erase(it);
    return fault;
}

QJsonObject FaultInjector::describe() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    QJsonObject result;
    for (auto it = rules_.constBegin(); it != rules_.constEnd(); ++it)
        result.insert(it.key(), QJsonObject{{QStringLiteral("mode"), Fault::modeName(it->mode)},
                                            {QStringLiteral("delay_ms"), it->delayMs},
                                            {QStringLiteral("remaining"), it->remaining}});
    return result;
}

} // namespace Varnel::RefBackend
