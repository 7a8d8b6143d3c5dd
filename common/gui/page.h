#pragma once

#include "common/gui/pageindex.h"

#include <QWidget>

class QAbstractButton;

namespace Varnel {

// What the side-menu pages share: a back button that emits clickBack, the
// page-pair record and a refresh on the next turn of the event loop after
// every show (the record first, so a refresh that leaves the page wins).
class Page : public QWidget
{
    Q_OBJECT
public:
    explicit Page(QWidget *parent = nullptr);

signals:
    void clickBack();

protected:
    // Every show records this page on the left, the connect page on the right.
    void recordWhenShown(LeftPage index);
    void setBackButton(QAbstractButton *button);
    // Reads what the page shows from the settings and the account record.
    virtual void reload() {}

private:
    void shown();

    bool m_records = false;
    LeftPage m_index = LeftPage::ServerList;
};

} // namespace Varnel
