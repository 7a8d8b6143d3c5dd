#!/usr/bin/env bash
# Installs what is missing, builds, and starts the client.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/tools/install-deps.sh"
"$here/tools/build.sh"
build="${BUILD_DIR:-$here/build}"
exec "$build/app/varnelvpn" "$@"
