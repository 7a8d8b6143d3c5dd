#pragma once

class QApplication;

namespace Varnel {

// The only argument that is read: it asks the running instance to quit
// (the desktop entry's "Quit" action).
inline constexpr char kQuitArgument[] = "--quit";
bool isQuitRequest(int argc, char *argv[]);

// The program's style sheet (":/style/style.qss" with its fonts rewritten),
// applied to the whole application as start-up applies it.
void applyStyleSheet(QApplication &app);

// The whole life of the process: identity, single instance, URL scheme,
// root window, fonts, style, engine, settings, event loop. Returns the
// event loop's exit code, or 0 when another instance was already running
// (or the start only handed a quit request over).
int runApplication(int argc, char *argv[]);

} // namespace Varnel
