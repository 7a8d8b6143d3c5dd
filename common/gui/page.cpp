#include "common/gui/page.h"

#include "common/gui/showrefresh.h"

#include <QAbstractButton>

namespace Varnel {

Page::Page(QWidget *parent)
    : QWidget(parent)
{
    refreshOnShow(this, [this] { shown(); });
}

void Page::recordWhenShown(LeftPage index)
{
    m_records = true;
    m_index = index;
}

void Page::setBackButton(QAbstractButton *button)
{
    connect(button, &QAbstractButton::clicked, this, &Page::clickBack);
    // Some back buttons are an arrow only.
    if (button->accessibleName().isEmpty())
        button->setAccessibleName(tr("Back"));
}

void Page::shown()
{
    if (m_records)
        recordPages(m_index);
    reload();
}

} // namespace Varnel
