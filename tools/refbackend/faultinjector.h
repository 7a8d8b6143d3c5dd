#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>

#include <mutex>
#include <optional>

namespace Varnel::RefBackend {

struct Fault {
    enum class Mode { None, Status500, NotJson, Close };

    Mode mode = Mode::None;
    int delayMs = 0;        // waited before answering (or before closing)
    int remaining = -1;     // requests still to hit; -1 until cleared

    // "none", "delay", "status500", "notjson", "close"; "delay" is "none" plus a delay.
    static bool modeFromName(const QString &name, Mode *mode);
    static QString modeName(Mode mode);
    bool isEmpty() const { return mode == Mode::None && delayMs <= 0; }
};

// Misbehaviour that tests switch on per path ("*" for every path) from the command line or the
// control endpoint between requests. A path's own rule wins over "*".
class FaultInjector
{
public:
    static constexpr char kAnyPath[] = "*";

    void set(const QString &path, const Fault &fault);     // an empty fault removes the rule
    void clear();
    // The fault for this request, counting it against the rule's remaining hits.
    std::optional<Fault> take(const QString &path);
    QJsonObject describe() const;

private:
    mutable std::mutex mutex_;
    QMap<QString, Fault> rules_;
};

} // namespace Varnel::RefBackend
