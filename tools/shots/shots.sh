#!/usr/bin/env bash
# Every page of the window at the pixel ratios 1 and 2, on a display of its
# own (Xvfb), into OUT/scale1 and OUT/scale2:
#   tools/shots/shots.sh [OUT] [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
out=$(mkdir -p "${1:-shots}" && cd "${1:-shots}" && pwd)
build=$(cd "${2:-$here/build}" && pwd)
shots=$build/tools/shots/varnel-page-shots
[ -x "$shots" ] || { echo "no $shots (tools/build.sh)" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (Debian package xvfb)" >&2; exit 1; }
for scale in 1 2; do
  rm -rf "$out/scale$scale"
  # The screen holds the 1080 x 740 window at twice the size.
  QT_SCALE_FACTOR=$scale QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 2400x1700x24" \
    "$shots" "$out/scale$scale" >/dev/null 2>"$out/scale$scale.log"
  echo "$out/scale$scale: $(ls "$out/scale$scale" | wc -l) pictures"
done
