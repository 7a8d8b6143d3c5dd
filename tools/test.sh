#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/tools/install-deps.sh"
"$here/tools/build.sh"
build="${BUILD_DIR:-$here/build}"
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
