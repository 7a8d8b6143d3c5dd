#include "vpn/authform.h"

#include "vpn/enginelog.h"

#include <QStringList>

#include <openconnect.h>

namespace Varnel {

namespace {

// Process-wide: a form with nothing to fill was the last one seen.
int emptyFormSeen = 0;

void logIfPresent(const char *text)
{
    if (text)
        engineLog(QString::fromUtf8(text));
}

// Chooses the authentication group; false when the wanted one is not offered.
bool chooseGroup(oc_form_opt_select *groups, const QString &groupName)
{
    QStringList names;
    for (int i = 0; i < groups->nr_choices; ++i)
        names << QString::fromUtf8(groups->choices[i]->name);
    if (names.size() == 1) {
        openconnect_set_option_value(&groups->form, groups->choices[0]->name);
        return true;
    }
    if (groupName.isEmpty() || !names.contains(groupName))
        return false;
    openconnect_set_option_value(&groups->form, groupName.toUtf8().constData());
    return true;
}

} // namespace

int fillAuthForm(oc_auth_form *form, AuthFormState &state, const AuthFormInput &input)
{
    logIfPresent(form->banner);
    logIfPresent(form->message);
    logIfPresent(form->error);

    if (form->authgroup_opt) {
        if (!chooseGroup(form->authgroup_opt, input.groupName))
            return OC_FORM_RESULT_CANCELLED;
        if (!state.authGroupChosen) {
            // The library fetches the chosen group's form and asks again.
            state.authGroupChosen = true;
            return OC_FORM_RESULT_NEWGROUP;
        }
    }

    bool filled = false;
    for (oc_form_opt *option = form->opts; option; option = option->next) {
        if (option->flags & OC_FORM_OPT_IGNORE)
            continue;
        const QString name = QString::fromUtf8(option->name);
        switch (option->type) {
        case OC_FORM_OPT_SELECT:
            engineLog(QStringLiteral("Select form: ") + name);
            if (!form->authgroup_opt || option != &form->authgroup_opt->form)
                return OC_FORM_RESULT_CANCELLED;
            break;
        case OC_FORM_OPT_TEXT:
            engineLog(QStringLiteral("Text form: ") + name);
            if (state.formAttempt != 0)
                state.rejected = true;
            if (state.formAttempt != 0 || input.username.isEmpty()
                || name.compare(QLatin1String("username"), Qt::CaseInsensitive) != 0)
                return OC_FORM_RESULT_CANCELLED;
            openconnect_set_option_value(option, input.username.toUtf8().constData());
            ++state.formAttempt;
            filled = true;
            break;
        case OC_FORM_OPT_PASSWORD:
            engineLog(QStringLiteral("Password form: ") + name);
            if (state.formPasswordAttempt != 0)
                state.rejected = true;
            if (state.formPasswordAttempt != 0 || input.password.isEmpty()
                || name.compare(QLatin1String("password"), Qt::CaseInsensitive) != 0)
                return OC_FORM_RESULT_CANCELLED;
            openconnect_set_option_value(option, input.password.toUtf8().constData());
            ++state.formPasswordAttempt;
            filled = true;
            break;
        default:
            engineLog(QStringLiteral("unknown type %1").arg(option->type));
            break;
        }
    }

    if (filled) {
        emptyFormSeen = 0;
        return OC_FORM_RESULT_OK;
    }
    if (emptyFormSeen == 0) {
        emptyFormSeen = 1;
        return OC_FORM_RESULT_OK;
    }
    return OC_FORM_RESULT_CANCELLED;
}

} // namespace Varnel
