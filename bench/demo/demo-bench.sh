#!/usr/bin/env bash
# Connect time through the window beside the engine alone, in the demo network
# of tools/run.sh (tools/demo): varnel-bench-demo runs in the demo's client
# namespace as the client does (the desktop user who ran sudo, else the lab
# user, beside the demo's service), logs in as demo and connects to an
# OpenConnect and an OpenVPN server of the demo list, RUNS times each way
# (default 11), without a window system (offscreen) unless DISPLAY is given.
#
#   sudo bench/demo/demo-bench.sh [BUILD_DIR]
#
# BASELINE=/path/to/another/varnel-bench-demo runs that build's benchmark too,
# after this one, in the same network: two builds compared in one run.
#
# The demo network is removed afterwards, whatever happens.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../tools/demo/demo-lib.sh
. "$here/../../tools/demo/demo-lib.sh"
build=$(cd "${1:-$DEMO_REPO/build}" && pwd)
bench=$build/bench/demo/varnel-bench-demo
[ -x "$bench" ] || lab_die "no $bench (tools/build.sh)"

trap demo_down EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
demo_up $$ "$build"

# The fourth OpenConnect and the sixth OpenVPN server of the list.
servers=$(demo_jq '[.servers[] | select(.type == 2 and .connection_type == 1)][3].ip_id,
  [.servers[] | select(.type == 1)][5].ip_id' "$DEMO_DIR/data.json")
lab_exec_user_argv "$DEMO_UID"
cd "$DEMO_PROFILE"
set -a
# shellcheck disable=SC1090
. "$DEMO_ENV"
set +a
[ -n "${DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen
for program in "$bench" ${BASELINE:+"$BASELINE"}; do
  [ -n "${BASELINE:-}" ] && echo "== $program"
  # shellcheck disable=SC2086 # one argument per server
  # The tunnel script of this build (the benchmark is not beside it).
  VARNEL_DEMO_USER=demo VARNEL_DEMO_PASSWORD=demo123 VARNELVPN_TUNNEL_SCRIPT=$build/app/varnelvpn-tunnel-script \
    "${LAB_EXEC[@]}" "$program" --runs "${RUNS:-11}" $servers 2>"${BENCH_LOG:-$DEMO_DIR/bench.log}" || {
    status=$?
    tail -n 30 "${BENCH_LOG:-$DEMO_DIR/bench.log}" >&2
    exit $status
  }
done
