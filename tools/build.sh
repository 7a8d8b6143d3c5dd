#!/usr/bin/env bash
# Configures and builds the project into ./build (or $BUILD_DIR).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$here/build}"
# Makefiles: Ninja's dependency files can miss Designer forms added to a
# library after its first build. A tree configured with Ninja keeps it.
generator=()
if [ ! -f "$build/build.ninja" ]; then
  generator=(-G "Unix Makefiles")
fi
cmake -S "$here" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
