#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package
# (build/package/varnelvpn_<version>_amd64.deb, or under $BUILD_DIR).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/tools/install-deps.sh"
"$here/tools/build.sh"
build="${BUILD_DIR:-$here/build}"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build/package" >/dev/null
ls "$build"/package/varnelvpn_*_amd64.deb
