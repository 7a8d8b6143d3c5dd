#pragma once

#include <QList>
#include <QStackedWidget>

namespace Varnel {

// Makes a page inside its stack (its parent from the start), to be added with
// addPages. A page made first and given to the stack afterwards would change
// parent there, and the style sheets of all its children would be applied
// over again: most of what building the window cost.
template<class PageClass>
PageClass *makePage(QStackedWidget *stack, const char *objectName)
{
    auto *page = new PageClass(stack);
    page->setObjectName(QLatin1String(objectName));
    page->hide();
    return page;
}

// Gives the stack its pages in index order, current the one it shows. That
// page goes in first: a stack shows, and so lays out, the first page it gets.
inline void addPages(QStackedWidget *stack, const QList<QWidget *> &pages, int current)
{
    current = (current >= 0 && current < pages.size()) ? current : 0;
    stack->addWidget(pages.at(current));
    for (int i = 0; i < pages.size(); ++i) {
        if (i != current)
            stack->insertWidget(i, pages.at(i));
    }
}

} // namespace Varnel
