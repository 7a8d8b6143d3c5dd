#!/usr/bin/env bash
# The full demo: real OpenConnect and OpenVPN servers in network namespaces,
# the reference backend with the demo data pointing at them, and the VarnelVPN
# service (root) and the client (the desktop user who ran sudo, without
# privilege) in a namespace of their own, on this display (see demo-lib.sh). When the
# client ends (the tray's Quit), on Ctrl-C, on a closed terminal or on a
# failure at any step, everything it made is removed: namespaces, processes,
# files. Nothing of the host (interfaces, routes, resolver file, nftables
# rules) changes at any time.
#
#   tools/demo/demo.sh [--settings FILE] [CLIENT ARGUMENTS...]     (as root)
#
# --settings FILE starts the client with this settings file (the client's own
# keys, e.g. a profile that logs in and connects by itself). BUILD_DIR names
# the build tree (default ./build). The client reaches a local X display
# (DISPLAY=:N, its XAUTHORITY), or none with QT_QPA_PLATFORM=offscreen.
# Exit status: the client's; 77 when no demo network can run here.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=demo-lib.sh
. "$here/demo-lib.sh"

settings=
if [ "${1:-}" = --settings ]; then
  [ $# -ge 2 ] && [ -r "$2" ] || lab_die "--settings needs a readable file"
  settings=$2
  shift 2
fi

# The client runs in another network namespace: it sees this machine's files
# (the X socket in /tmp/.X11-unix, the X cookie) but not its loopback.
check_display() {
  case ${QT_QPA_PLATFORM:-xcb} in
    xcb*) ;;
    *) return 0 ;;
  esac
  [ -n "${DISPLAY:-}" ] || lab_die "no display (DISPLAY is empty); for a run without a window set QT_QPA_PLATFORM=offscreen"
  case $DISPLAY in
    :* | unix:*) ;;
    *) lab_die "DISPLAY=$DISPLAY is a display reached over the network, which the demo's network namespace cannot reach; use a local display (:0)" ;;
  esac
  if [ -z "${XAUTHORITY:-}" ]; then
    # sudo keeps DISPLAY but the client's home is the demo's: name the cookie.
    local home
    home=$(getent passwd "${SUDO_USER:-$(id -un)}" | cut -d: -f6)
    if [ -r "$home/.Xauthority" ]; then export XAUTHORITY=$home/.Xauthority; fi
  fi
  unset WAYLAND_DISPLAY
}

banner() {
  local counts
  counts=$(demo_jq '[.servers[] | select(.type == 1)] as $v | [.servers[] | select(.type == 2 and .connection_type == 1)] as $c
    | "\($c | length) OpenConnect servers in \($c | map(.countryName) | unique | length) countries, \($v | length) OpenVPN servers in \($v | map(.countryName) | unique | length) countries"' \
    "$DEMO_DIR/data.json")
  cat <<EOF

VarnelVPN demo: $counts
  network namespaces $LAB_NS_SERVER (the servers) and $LAB_NS_CLIENT (the client); nothing of this machine changes
  in $LAB_NS_CLIENT the VarnelVPN service runs as root and the client as $(id -nu "$DEMO_UID" 2>/dev/null || echo "uid $DEMO_UID"), without privilege
  backend $DEMO_API_BASE; behind every tunnel the target $LAB_TARGET (the network test's ping and probes)
  log in as demo / demo123 (Premium), or free / free123 (Free: premium servers are locked)
  quit from the tray menu or press Ctrl-C: everything the demo made is removed

EOF
}

check_display
trap demo_down EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

demo_up $$ "${BUILD_DIR:-$DEMO_REPO/build}"
if [ -n "$settings" ]; then
  install -m 0600 -o "$DEMO_UID" -g "$DEMO_UID" "$settings" "$DEMO_SETTINGS"
fi
banner
demo_start_client "$@"
# In the background, so that a signal is handled at once.
status=0
wait "$DEMO_CLIENT_PID" || status=$?
DEMO_CLIENT_PID=
exit $status
