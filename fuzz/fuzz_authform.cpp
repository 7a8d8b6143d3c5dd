// The login forms of an OpenConnect server as the form filler answers them:
// a run of forms, each with a banner, message and error, optional group
// choices and fields of any type and name, built from the input.

#include "fuzzsupport.h"

#include "common/logger.h"
#include "vpn/authform.h"

#include <cstdlib>
#include <list>
#include <vector>

#include <openconnect.h>

using namespace Varnel;

namespace {

// One form and the texts it points to, as the library would own them.
class Form
{
public:
    explicit Form(VarnelFuzz::Input &input)
    {
        m_form.banner = text(input, input.byte() & 1);
        m_form.message = text(input, input.byte() & 1);
        m_form.error = text(input, input.byte() & 1);
        const int groups = input.byte() % 4;
        if (groups > 0) {
            for (int i = 0; i < groups; ++i) {
                m_choices.push_back(oc_choice {});
                m_choices.back().name = text(input, true);
            }
            for (oc_choice &choice : m_choices)
                m_choicePointers.push_back(&choice);
            m_groups.form.type = OC_FORM_OPT_SELECT;
            m_groups.form.name = text(input, true);
            m_groups.nr_choices = groups;
            m_groups.choices = m_choicePointers.data();
            m_form.authgroup_opt = &m_groups;
            append(&m_groups.form);
        }
        const int fields = input.byte() % 5;
        for (int i = 0; i < fields; ++i) {
            m_fields.push_back(oc_form_opt {});
            oc_form_opt &field = m_fields.back();
            field.type = input.byte() % 5;   // text 1, password 2, select 3, and others
            field.flags = input.byte() & OC_FORM_OPT_IGNORE;
            field.name = text(input, true);
            append(&field);
        }
    }
    ~Form()
    {
        for (oc_form_opt &field : m_fields) {
            if (field.type == OC_FORM_OPT_TEXT || field.type == OC_FORM_OPT_PASSWORD)
                std::free(field._value);
        }
    }
    Form(const Form &) = delete;
    Form &operator=(const Form &) = delete;

    oc_auth_form *get() { return &m_form; }

    // A field the filler set: a text or password field it was allowed to fill.
    void checkValues() const
    {
        for (const oc_form_opt &field : m_fields) {
            if (!field._value)
                continue;
            const QString name = QString::fromUtf8(field.name);
            VarnelFuzz::check((field.type == OC_FORM_OPT_TEXT
                               && name.compare(QLatin1String("username"), Qt::CaseInsensitive) == 0)
                                  || (field.type == OC_FORM_OPT_PASSWORD
                                      && name.compare(QLatin1String("password"), Qt::CaseInsensitive) == 0),
                              "a value set on a field that is neither the user name nor the password");
        }
    }

private:
    char *text(VarnelFuzz::Input &input, bool present)
    {
        if (!present)
            return nullptr;
        m_texts.push_back(input.piece());
        return m_texts.back().data();
    }
    void append(oc_form_opt *option)
    {
        oc_form_opt **end = &m_form.opts;
        while (*end)
            end = &(*end)->next;
        *end = option;
    }

    oc_auth_form m_form {};
    oc_form_opt_select m_groups {};
    std::list<QByteArray> m_texts;   // stable addresses
    std::vector<oc_choice> m_choices;
    std::vector<oc_choice *> m_choicePointers;
    std::list<oc_form_opt> m_fields;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    VarnelFuzz::Input input(data, size);
    const AuthFormInput credentials {QString::fromUtf8(input.piece()), QString::fromUtf8(input.piece()),
                                     QString::fromUtf8(input.piece())};
    AuthFormState state;
    for (int round = 0; round < 4 && !input.atEnd(); ++round) {
        Form form(input);
        const int result = fillAuthForm(form.get(), state, credentials);
        VarnelFuzz::check(result == OC_FORM_RESULT_OK || result == OC_FORM_RESULT_CANCELLED
                              || result == OC_FORM_RESULT_NEWGROUP,
                          "unknown form result");
        form.checkValues();
        if (result == OC_FORM_RESULT_CANCELLED)
            break;
    }
    // The filler logs every form; the log keeps its records, not across inputs.
    Logger::instance().clear();
    return 0;
}
