#!/usr/bin/env bash
# The demo network, shared by tools/demo/demo.sh, the demo's self-check
# (tests/e2e/demo) and its benchmark (bench/demo). Sourced, not run.
#
# It is the VPN lab of the end-to-end tests (tools/lab/lab.sh) with the
# reference backend's demo data laid over it:
#  - the server namespace holds ocserv and an OpenVPN server, both listening on
#    one address per server of the demo data (127.0.X.N there becomes
#    10.213.1X.N here) and accepting every demo account with its password;
#  - the reference backend serves the demo data, rewritten to these addresses
#    and with the lab's CA in the OpenVPN configuration, on the server's link
#    address; a second one on the target, which only a tunnel reaches, answers
#    the network test's probes;
#  - the VarnelVPN service runs (as root) in the client namespace, with the
#    kill-switch scripts of this tree in a data directory of its own;
#  - the client runs there as the desktop user who ran sudo (else as the
#    lab user), with no privilege, and a throw-away profile (home, settings,
#    runtime and temporary directories) in the lab's state directory, so its
#    tunnels, routes, kill-switch table and files never reach the host.
#
#   demo_up OWNER BUILD        bring it up (OWNER: the process whose end makes it stale)
#   demo_start_client ARGS...  start the client in the background (DEMO_CLIENT_PID)
#   demo_stop_client           SIGTERM, as a session's end does; KILL after 10 s
#   demo_down                  stop the client and remove everything
#
# Variables after demo_up: the lab's LAB_* and VARNEL_LAB_*, and
#   DEMO_DIR        the demo's files (inside the lab's state directory)
#   DEMO_ENV        the client's environment as a file of exports
#   DEMO_API_BASE   the backend as the client reaches it
#   DEMO_PROFILE    the client's home; its settings file is DEMO_SETTINGS
#   DEMO_UID        the user the client runs as

DEMO_TOOLS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DEMO_REPO=$(cd "$DEMO_TOOLS/../.." && pwd)
# shellcheck source=../../tools/lab/lab.sh
. "$DEMO_REPO/tools/lab/lab.sh"

DEMO_PORT=${VARNELVPN_DEMO_PORT:-47843}
DEMO_BASE_DATA=$DEMO_REPO/tools/refbackend/demo-data.json
DEMO_CLIENT_PID=

# The demo data's loopback server addresses, moved into the lab (the port stays).
# shellcheck disable=SC2016 # a jq program
DEMO_JQ_DEFS='def lab: if test("^127[.]0[.][0-9]+[.]")
  then split(".") as $p | "10.213.\(($p[2] | tonumber) + 10).\($p[3:] | join("."))" else . end;'

demo_jq() { jq -r "$DEMO_JQ_DEFS $1" "${@:2}"; }

# Waits until the reference backend logging to $1 listens; dies with its log otherwise.
demo_wait_backend() {
  local log=$1 pid=$2 tenths=100
  until grep -q '^listening on ' "$log" 2>/dev/null; do
    lab_alive "$pid" || { cat "$log" >&2; lab_die "the reference backend exited"; }
    [ $tenths -le 0 ] && lab_die "the reference backend did not start"
    tenths=$((tenths - 1))
    sleep 0.1
  done
}

# Starts a reference backend in the server namespace on address $1.
demo_start_backend() {
  local host=$1 name=$2 pid
  ip netns exec "$LAB_NS_SERVER" "$DEMO_BUILD/tools/refbackend/varnel-refbackend" --host "$host" \
    --port "$DEMO_PORT" --cert-dir "$DEMO_DIR/certs" --data "$DEMO_DIR/data.json" \
    </dev/null >"$DEMO_DIR/$name.log" 2>&1 &
  pid=$!
  disown "$pid"
  echo "$pid" >"$LAB_DIR/run/$name.pid"
  demo_wait_backend "$DEMO_DIR/$name.log" "$pid"
}

# shellcheck disable=SC2034 # DEMO_API_BASE and DEMO_SETTINGS are for the scripts that source this file
demo_write_env() {
  local api=https://$LAB_SERVER_ADDR:$DEMO_PORT probes=https://$LAB_TARGET:$DEMO_PORT
  DEMO_API_BASE=$api
  DEMO_PROFILE=$LAB_DIR/home-$DEMO_UID
  DEMO_SETTINGS=$DEMO_PROFILE/.config/Morvanta/VarnelVPN.conf
  DEMO_ENV=$DEMO_DIR/client.env
  {
    lab_env_line VARNELVPN_API_BASE "$api"
    lab_env_line VARNELVPN_CA_FILE "$DEMO_DIR/certs/ca.crt"
    lab_env_line VARNELVPN_WEB_BASE "$api"
    # Through the tunnel: the network test measures the tunnel.
    lab_env_line VARNELVPN_DOWNLOAD_PROBE "$probes/speedtest/download"
    lab_env_line VARNELVPN_UPLOAD_PROBE "$probes/speedtest/upload"
    lab_env_line VARNELVPN_PING_TARGET "$LAB_TARGET"
    # Everything the client (and Qt, fontconfig, its URL-scheme entry) keeps.
    lab_env_line HOME "$DEMO_PROFILE"
    lab_env_line XDG_CONFIG_HOME "$DEMO_PROFILE/.config"
    lab_env_line XDG_CACHE_HOME "$DEMO_PROFILE/.cache"
    lab_env_line XDG_DATA_HOME "$DEMO_PROFILE/.local/share"
    lab_env_line XDG_STATE_HOME "$DEMO_PROFILE/.local/state"
    lab_env_line XDG_RUNTIME_DIR "$DEMO_PROFILE/runtime"
    lab_env_line TMPDIR "$DEMO_PROFILE/tmp"
  } >"$DEMO_ENV"
}

demo_up() {
  local owner=$1
  # Absolute: the client starts in its profile folder.
  DEMO_BUILD=$(cd "$2" && pwd) || lab_die "no build in $2"
  [ -x "$DEMO_BUILD/app/varnelvpn" ] && [ -x "$DEMO_BUILD/tools/refbackend/varnel-refbackend" ] &&
    [ -x "$DEMO_BUILD/service/varnelvpn-service" ] || lab_die "no build in $DEMO_BUILD (tools/build.sh)"
  LAB_SERVICE_BIN=$DEMO_BUILD/service/varnelvpn-service
  # The desktop user who ran sudo owns the display; without one, the lab user.
  DEMO_UID=${SUDO_UID:-$LAB_UID}
  [ "$DEMO_UID" != 0 ] || DEMO_UID=$LAB_UID
  command -v jq >/dev/null 2>&1 || lab_skip "'jq' is not installed (tools/install-deps.sh)"
  mapfile -t LAB_SERVER_ALIASES < <(demo_jq '[.servers[].ip | lab | split(":")[0]] | unique[]' "$DEMO_BASE_DATA")
  mapfile -t LAB_EXTRA_ACCOUNTS < <(demo_jq '.accounts[] | "\(.username):\(.password)"' "$DEMO_BASE_DATA")
  [ ${#LAB_SERVER_ALIASES[@]} -gt 0 ] && [ ${#LAB_EXTRA_ACCOUNTS[@]} -gt 0 ] ||
    lab_die "no servers or accounts in $DEMO_BASE_DATA"
  lab_up "$owner"
  # Round trips of a real network where the kernel offers netem; without it
  # the link answers within a millisecond.
  ip netns exec "$LAB_NS_SERVER" tc qdisc add dev "$LAB_VETH_SERVER" root netem delay "${DEMO_DELAY:-20ms}" \
    2>/dev/null || true

  DEMO_DIR=$LAB_DIR/demo
  mkdir -m 0700 "$DEMO_DIR"
  # The user's home, runtime folder and the run's command line (lab.sh).
  lab_exec_user_argv "$DEMO_UID"
  install -d -m 0700 -o "$DEMO_UID" -g "$DEMO_UID" "$LAB_DIR/home-$DEMO_UID/tmp" \
    "$LAB_DIR/home-$DEMO_UID/.config" "$LAB_DIR/home-$DEMO_UID/.config/Morvanta"
  "$DEMO_REPO/tools/refbackend/make-certs.sh" "$DEMO_DIR/certs" "$LAB_SERVER_ADDR" "$LAB_TARGET" >/dev/null
  # Of the demo's files the client's user reads the CA alone.
  chmod 0711 "$DEMO_DIR" "$DEMO_DIR/certs"
  chmod 0644 "$DEMO_DIR/certs/ca.crt"
  # The OpenVPN configuration carries the lab's CA, as a provider's would carry its own.
  demo_jq '.servers |= map(.ip |= lab | .ssl_ip |= lab)
    | .openvpn_config_template += ["<ca>"] + ($ca | rtrimstr("\n") | split("\n")) + ["</ca>"]' \
    --arg ca "$(cat "$LAB_DIR/pki/ca.crt")" "$DEMO_BASE_DATA" >"$DEMO_DIR/data.json"
  demo_start_backend "$LAB_SERVER_ADDR" backend
  demo_start_backend "$LAB_TARGET" probes

  demo_write_env
}

demo_start_client() {
  lab_exec_user_argv "$DEMO_UID"
  # The display's cookie, where the client's user may read it.
  if [ -n "${XAUTHORITY:-}" ] && [ -r "$XAUTHORITY" ]; then
    install -m 0600 -o "$DEMO_UID" -g "$DEMO_UID" "$XAUTHORITY" "$DEMO_PROFILE/.Xauthority"
    export XAUTHORITY=$DEMO_PROFILE/.Xauthority
  fi
  (
    cd "$DEMO_PROFILE" || exit
    set -a
    # shellcheck disable=SC1090
    . "$DEMO_ENV"
    set +a
    exec "${LAB_EXEC[@]}" "$DEMO_BUILD/app/varnelvpn" "$@"
  ) &
  DEMO_CLIENT_PID=$!
  echo "$DEMO_CLIENT_PID" >"$LAB_DIR/run/client.pid"
}

demo_stop_client() {
  [ -n "$DEMO_CLIENT_PID" ] || return 0
  if lab_alive "$DEMO_CLIENT_PID"; then
    kill -TERM "$DEMO_CLIENT_PID" 2>/dev/null
    lab_wait_gone 100 "$DEMO_CLIENT_PID" || lab_end_pids 0 "$DEMO_CLIENT_PID"
  fi
  wait "$DEMO_CLIENT_PID" 2>/dev/null
  DEMO_CLIENT_PID=
}

# For an EXIT trap: whatever failed or stopped, nothing of the demo stays.
demo_down() {
  set +e
  demo_stop_client
  [ -z "$LAB_CREATED" ] || lab_teardown "$LAB_CREATED"
  LAB_CREATED=
}
