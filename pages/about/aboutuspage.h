#pragma once

#include "common/gui/page.h"

#include <memory>

namespace Varnel {

namespace Ui {
class AboutUsPage;
}

class BusyState;

// The product, its version, the newsletter subscription, the review and
// update pages and the provider's social pages.
class AboutUsPage : public Page
{
    Q_OBJECT
public:
    explicit AboutUsPage(QWidget *parent = nullptr);
    ~AboutUsPage() override;

private:
    void subscribe();

    std::unique_ptr<Ui::AboutUsPage> ui;
    BusyState *m_busy = nullptr;
};

} // namespace Varnel
