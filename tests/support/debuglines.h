#pragma once

#include <QTest>

// A developer line the code writes: expected (and kept off the output) where
// debug lines exist, that is in debug builds; release builds define
// QT_NO_DEBUG_OUTPUT and print none.
inline void expectDebugLine(const char *text)
{
#ifndef QT_NO_DEBUG_OUTPUT
    QTest::ignoreMessage(QtDebugMsg, text);
#else
    Q_UNUSED(text)
#endif
}
