#pragma once

#include "common/gui/page.h"

#include <memory>

namespace Varnel {

namespace Ui {
class VarnelMorePage;
}

// The provider's other products, each with a link to its page.
class VarnelMorePage : public Page
{
    Q_OBJECT
public:
    explicit VarnelMorePage(QWidget *parent = nullptr);
    ~VarnelMorePage() override;

private:
    std::unique_ptr<Ui::VarnelMorePage> ui;
};

} // namespace Varnel
