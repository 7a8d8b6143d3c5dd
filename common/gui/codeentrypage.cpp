#include "common/gui/codeentrypage.h"

#include "common/gui/iconcache.h"
#include "widgets/busystate.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>

namespace Varnel {

namespace {

constexpr int kPictureSize = 80;

} // namespace

CodeEntryPage::CodeEntryPage(QWidget *parent)
    : Page(parent)
{
}

void CodeEntryPage::setUpCodeEntry(QLabel *picture, const QString &pictureResource, QLineEdit *code,
                                   QAbstractButton *submit, QAbstractButton *back)
{
    setBackButton(back);
    showPicture(picture, pictureResource, QSize(kPictureSize, kPictureSize));
    m_busy = new BusyState(submit, this);
    m_busy->setWidgets({code, back});
    connect(code, &QLineEdit::returnPressed, this, [this] { submitCode(); });
}

bool CodeEntryPage::runBusy(const std::function<void()> &request)
{
    return m_busy->run(request);
}

} // namespace Varnel
