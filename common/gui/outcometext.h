#pragma once

#include <QString>

#include <initializer_list>
#include <vector>

namespace Varnel {

// From an operation's result code to the text its page shows: a fixed
// (translatable) text, or the text the backend sent with its answer.
class OutcomeTable
{
public:
    // text == nullptr: the backend's own text.
    struct Row {
        int code;
        const char *text;
    };

    // Texts are translated in the given context; codes without a row get
    // the fallback text (nullptr: the backend's own text).
    OutcomeTable(const char *context, std::initializer_list<Row> rows, const char *fallback);

    QString text(int code, const QString &serverMessage = QString()) const;

private:
    const char *m_context;
    std::vector<Row> m_rows;
    const char *m_fallback;
};

// The tables of the backend operations the pages run.
namespace Outcomes {
const OutcomeTable &login();
const OutcomeTable &signUp();
const OutcomeTable &passwordRecovery();
const OutcomeTable &subscribe();
} // namespace Outcomes

} // namespace Varnel
