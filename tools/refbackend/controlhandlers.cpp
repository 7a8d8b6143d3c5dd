#include "controlhandlers.h"

#include "formdata.h"
#include "replies.h"

namespace Varnel::RefBackend {

namespace {

void sendError(httplib::Response &response, int status, const QString &text)
{
    sendJson(response, status, QJsonObject{{QStringLiteral("error"), text}});
}

// Reads an optional non-negative integer item; false when it is present but not a number.
bool intItem(const FormData &form, const char *name, int fallback, int *out)
{
    const QString text = form.value(QLatin1String(name));
    if (text.isEmpty()) {
        *out = fallback;
        return true;
    }
    bool ok = false;
    *out = text.toInt(&ok);
    return ok && *out >= 0;
}

} // namespace

ControlHandlers::ControlHandlers(RequestLog &log, FaultInjector &faults, AccountStore &store)
    : log_(log)
    , faults_(faults)
    , store_(store)
{
}

void ControlHandlers::counts(const httplib::Request &, httplib::Response &response) const
{
    sendJson(response, 200, log_.counts());
}

void ControlHandlers::last(const httplib::Request &request, httplib::Response &response) const
{
    const QJsonObject entry = log_.last(queryItem(request, "path"));
    if (entry.isEmpty())
        sendError(response, 404, QStringLiteral("no request seen on that path"));
    else
        sendJson(response, 200, entry);
}

void ControlHandlers::account(const httplib::Request &request, httplib::Response &response) const
{
    Account account;
    if (store_.find(queryItem(request, "username"), &account))
        sendJson(response, 200, account.toStateJson(AccountStore::today()));
    else
        sendError(response, 404, QStringLiteral("no such account"));
}

void ControlHandlers::fault(const httplib::Request &request, httplib::Response &response)
{
    const FormData form(request.body);
    const QString path = form.value(QStringLiteral("path"));
    const QString modeName = form.value(QStringLiteral("mode"));
    Fault fault;
    int times = 0;
    if (!Fault::modeFromName(modeName.isEmpty() ? QStringLiteral("none") : modeName, &fault.mode)
        || !intItem(form, "delay_ms", 0, &fault.delayMs) || !intItem(form, "times", 0, &times)) {
        sendError(response, 400,
                  QStringLiteral("mode is none, delay, status500, notjson or close; delay_ms and times are "
                                 "non-negative integers"));
        return;
    }
    if (modeName == QLatin1String("delay") && fault.delayMs == 0) {
        sendError(response, 400, QStringLiteral("mode delay needs delay_ms"));
        return;
    }
    fault.remaining = times > 0 ? times : -1;
    faults_.set(path.isEmpty() ? QLatin1String(FaultInjector::kAnyPath) : path, fault);
    sendJson(response, 200, faults_.describe());
}

void ControlHandlers::reset(const httplib::Request &request, httplib::Response &response)
{
    const QString scope = FormData(request.body).value(QStringLiteral("scope"));
    const bool all = scope.isEmpty() || scope == QLatin1String("all");
    if (!all && scope != QLatin1String("counts") && scope != QLatin1String("faults")
        && scope != QLatin1String("state")) {
        sendError(response, 400, QStringLiteral("scope is all, counts, faults or state"));
        return;
    }
    if (all || scope == QLatin1String("counts"))
        log_.clear();
    if (all || scope == QLatin1String("faults"))
        faults_.clear();
    if (all || scope == QLatin1String("state"))
        store_.reset();
    sendJson(response, 200, QJsonObject{{QStringLiteral("reset"), all ? QStringLiteral("all") : scope}});
}

} // namespace Varnel::RefBackend
