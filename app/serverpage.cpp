#include "app/serverpage.h"
#include "ui_serverpage.h"

#include "common/config.h"

namespace Varnel {

namespace {

// A recorded index without a page (an older or damaged record) leaves the
// stack where it is.
void showIndex(QStackedWidget *stack, int index)
{
    if (index >= 0 && index < stack->count())
        stack->setCurrentIndex(index);
}

} // namespace

ServerPage::ServerPage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ServerPage>())
{
    ui->setupUi(this);
    restorePages();
}

ServerPage::~ServerPage() = default;

void ServerPage::restorePages()
{
    const auto config = Config::instance();
    if (config->autoConnect()) {
        showPages(LeftPage::ServerList, RightPage::Connect);
        return;
    }
    const QPair<int, int> state = config->loadState();
    showIndex(ui->stackedWidget, state.first);
    showIndex(ui->stackedWidget_2, state.second);
}

void ServerPage::showPages(LeftPage left, RightPage right)
{
    showLeft(left);
    showRight(right);
}

void ServerPage::showLeft(LeftPage left)
{
    showIndex(ui->stackedWidget, int(left));
}

void ServerPage::showRight(RightPage right)
{
    showIndex(ui->stackedWidget_2, int(right));
}

} // namespace Varnel
