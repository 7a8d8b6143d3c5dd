#!/usr/bin/env bash
# Installs what is missing, builds, and runs the client against the local
# reference backend. Extra arguments go to the client.
#
# As root, with network namespaces: the full demo (tools/demo/demo.sh), with
# real OpenConnect and OpenVPN servers in namespaces, the VarnelVPN service and
# the client (as the desktop user who ran sudo) in one of their own, and
# nothing of this machine changed. Otherwise the window alone: the backend on
# loopback, demo servers that nothing answers, and no service.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/tools/install-deps.sh"
"$here/tools/build.sh"
build="${BUILD_DIR:-$here/build}"

if reason="$("$here/tools/lab/lab.sh" check 2>&1)"; then
  BUILD_DIR="$build" exec "$here/tools/demo/demo.sh" "$@"
fi
reason="${reason#lab: SKIP: }"
# No namespaces, so no service either: this run never reaches a VarnelVPN
# service installed on this machine (whose tunnels and kill switch would be
# this machine's), and a connect ends with the message that it is not running.
if [ "$(id -u)" -ne 0 ]; then
  why="the full demo needs root"
else
  why="the full demo cannot run here: $reason"
fi
cat <<EOF

The window alone ($why): the demo accounts and servers from the reference backend on
loopback, but no VPN servers and no VarnelVPN service, so a connect attempt ends in
"Disconnected" with the message that the VPN service is not running. The full demo (real
OpenConnect and OpenVPN servers and the service in network namespaces; nothing of this
machine changes) runs with:   sudo ./tools/run.sh   (root, network namespaces, /dev/net/tun)

EOF

# The demo's own state folder: the backend's log, and the client's login
# cache ("bundile", in its VarnelVPN folder) apart from a real one.
state="${XDG_STATE_HOME:-$HOME/.local/state}/varnelvpn-demo"
mkdir -p "$state"
chmod 700 "$state"

# A fresh test CA and server certificate for this run (no keys are kept).
certs="$(mktemp -d "${TMPDIR:-/tmp}/varnelvpn-certs.XXXXXX")"
backend_log="$state/refbackend.log"
backend_pid=""
cleanup() {
  if [ -n "$backend_pid" ]; then kill "$backend_pid" 2>/dev/null || true; wait "$backend_pid" 2>/dev/null || true; fi
  rm -rf "$certs"
}
trap cleanup EXIT INT TERM

"$here/tools/refbackend/make-certs.sh" "$certs" >/dev/null
# A fixed port: the client keeps the endpoint addresses it was given.
"$build/tools/refbackend/varnel-refbackend" --cert-dir "$certs" --port "${VARNELVPN_DEMO_PORT:-47843}" \
  >"$backend_log" 2>&1 &
backend_pid=$!

base=""
for _ in $(seq 1 100); do
  base="$(sed -n 's/^listening on \(https:\/\/127\.0\.0\.1:[0-9]*\)$/\1/p' "$backend_log" | tail -n 1)"
  [ -n "$base" ] && break
  kill -0 "$backend_pid" 2>/dev/null || { cat "$backend_log" >&2; exit 1; }
  sleep 0.1
done
[ -n "$base" ] || { echo "run: the reference backend did not start" >&2; cat "$backend_log" >&2; exit 1; }

echo "Reference backend: $base (log: $backend_log)"
grep -m1 'demo account' "$backend_log" || true
echo "Demo account: user 'demo', password 'demo123'. Other accounts: tools/refbackend/README.md"

# The web pages the client opens (support, about, share links) and the
# network test's probes go to the local backend too, and the test pings
# loopback, so the demo never reaches the provider's sites.
VARNELVPN_API_BASE="$base" VARNELVPN_CA_FILE="$certs/ca.crt" VARNELVPN_WEB_BASE="$base" \
  VARNELVPN_DOWNLOAD_PROBE="$base/speedtest/download" VARNELVPN_UPLOAD_PROBE="$base/speedtest/upload" \
  VARNELVPN_PING_TARGET=127.0.0.1 XDG_STATE_HOME="$state" VARNELVPN_SERVICE_SOCKET="$state/no-service" \
  "$build/app/varnelvpn" "$@"
