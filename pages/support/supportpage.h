#pragma once

#include "common/gui/page.h"

#include <memory>

namespace Varnel {

namespace Ui {
class SupportPage;
}

// Ways to reach the provider's support: e-mail, chat and the help centre.
class SupportPage : public Page
{
    Q_OBJECT
public:
    explicit SupportPage(QWidget *parent = nullptr);
    ~SupportPage() override;

private:
    std::unique_ptr<Ui::SupportPage> ui;
};

} // namespace Varnel
