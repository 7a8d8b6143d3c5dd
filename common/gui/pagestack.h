#pragma once

#include <QStackedWidget>

namespace Varnel {

// Makes a page inside its stack, at the next index. A page made first and
// added afterwards changes parent when added, and the style sheets of all its
// children are applied over again: most of what building the window cost.
template<class PageClass>
PageClass *addPage(QStackedWidget *stack, const char *objectName)
{
    auto *page = new PageClass(stack);
    page->setObjectName(QLatin1String(objectName));
    stack->addWidget(page);
    return page;
}

} // namespace Varnel
