#pragma once

#include "common/gui/page.h"

#include <functional>

class QAbstractButton;
class QLabel;
class QLineEdit;

namespace Varnel {

class BusyState;

// A page whose job is to send a code the user types (a voucher, a friend's
// referral code): its picture, the spinner on the submit button while the
// request runs (the field and the back button inert meanwhile), and Enter
// in the field submitting like the button.
class CodeEntryPage : public Page
{
    Q_OBJECT
protected:
    explicit CodeEntryPage(QWidget *parent);

    void setUpCodeEntry(QLabel *picture, const QString &pictureResource, QLineEdit *code, QAbstractButton *submit,
                        QAbstractButton *back);
    // The request, busy; false when one is running already.
    bool runBusy(const std::function<void()> &request);
    virtual void submitCode() = 0;

private:
    BusyState *m_busy = nullptr;
};

} // namespace Varnel
