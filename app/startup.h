#pragma once

namespace Varnel {

// The whole life of the process: identity, single instance, URL scheme,
// root window, fonts, style, engine, settings, event loop. Returns the
// event loop's exit code, or 0 when another instance was already running.
int runApplication(int argc, char *argv[]);

} // namespace Varnel
