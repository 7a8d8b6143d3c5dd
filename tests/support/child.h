#pragma once

#include <QObject>
#include <QWidget>

// The named child a test drives; a missing one ends the test program at once
// (a renamed object in a form), instead of a crash on a null pointer later.
template <typename T = QWidget>
T *child(const QObject *parent, const char *name)
{
    T *found = parent->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no %s", name);
    return found;
}
