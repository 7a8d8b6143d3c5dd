#include "common/gui/outcometext.h"

#include <QCoreApplication>

namespace Varnel {

OutcomeTable::OutcomeTable(const char *context, std::initializer_list<Row> rows, const char *fallback)
    : m_context(context)
    , m_rows(rows)
    , m_fallback(fallback)
{
}

QString OutcomeTable::text(int code, const QString &serverMessage) const
{
    for (const Row &row : m_rows) {
        if (row.code == code)
            return row.text ? QCoreApplication::translate(m_context, row.text) : serverMessage;
    }
    return m_fallback ? QCoreApplication::translate(m_context, m_fallback) : serverMessage;
}

namespace Outcomes {

namespace {
constexpr const char *kLoginContext = "Varnel::LoginPage";
}

// Refused (1): the server says why; no endpoint table (3); anything else
// is a failed connection.
const OutcomeTable &login()
{
    static const OutcomeTable table(kLoginContext,
                                    {{1, nullptr}, {3, QT_TRANSLATE_NOOP("Varnel::LoginPage",
                                                                         "Could not connect to login server!")}},
                                    QT_TRANSLATE_NOOP("Varnel::LoginPage", "Could not connect to server!"));
    return table;
}

// Accepted (0) or refused (3); anything else is a failed connection.
const OutcomeTable &signUp()
{
    static const OutcomeTable table(
        kLoginContext,
        {{0, QT_TRANSLATE_NOOP("Varnel::LoginPage", "Signup successfull. Login to continue")}, {3, nullptr}},
        QT_TRANSLATE_NOOP("Varnel::LoginPage", "Could not connect to server"));
    return table;
}

// The server words both the acceptance (0) and the refusal (3).
const OutcomeTable &passwordRecovery()
{
    static const OutcomeTable table(kLoginContext, {{0, nullptr}, {3, nullptr}},
                                    QT_TRANSLATE_NOOP("Varnel::LoginPage", "Could not connect to server"));
    return table;
}

// Subscribed (0); every failure is worded by the client's backend layer.
const OutcomeTable &subscribe()
{
    static const OutcomeTable table("Varnel::AboutUsPage",
                                    {{0, QT_TRANSLATE_NOOP("Varnel::AboutUsPage", "You are subscribed now!")}}, nullptr);
    return table;
}

} // namespace Outcomes

} // namespace Varnel
