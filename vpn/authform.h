#pragma once

#include <QString>

struct oc_auth_form;

namespace Varnel {

// What the form filler remembers during one connection attempt.
struct AuthFormState {
    // Set once a group has been chosen and the library asked to fetch its
    // form; stays set afterwards.
    bool authGroupChosen = false;
    // Forms whose user-name or password field has already been filled in
    // this attempt: a server that asks again has rejected the credentials.
    int formAttempt = 0;
    int formPasswordAttempt = 0;
    // The server asked again for a field already filled: it refused the
    // credentials.
    bool rejected = false;
};

// The credentials and the wanted group the filler answers with.
struct AuthFormInput {
    QString username;
    QString password;
    QString groupName;
};

// Fills one login form of the OpenConnect library from the stored
// credentials. Returns the library's OC_FORM_RESULT_OK, _CANCELLED or
// _NEWGROUP. Two forms in a row with nothing to fill end the login (counted
// across connections).
int fillAuthForm(oc_auth_form *form, AuthFormState &state, const AuthFormInput &input);

} // namespace Varnel
