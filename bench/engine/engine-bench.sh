#!/usr/bin/env bash
# Engine benchmark in the VPN lab: our engine (through varnel-engine-probe)
# against Debian's openconnect and openvpn command-line clients on the same
# lab servers. Prints medians of RUNS runs (default 3):
#   - connect time: from starting the client to its "connected" report
#     (our Connected; openconnect's "Configured as ..."; openvpn's
#     "Initialization Sequence Completed"), and to the route to the lab's
#     target through the tunnel;
#   - TCP throughput through the tunnel with iperf3 (IPERF_TIME s, default 5),
#     upload and download.
#
#   bench/engine/engine-bench.sh PATH/TO/varnel-engine-probe     (as root)
#
# It brings up its own lab through tests/e2e/lab/run-in-lab.sh and runs
# inside the lab's client namespace; the lab is torn down afterwards.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)

if [ $# -ne 1 ] || [ ! -x "$1" ]; then
  echo "usage: $0 PATH/TO/varnel-engine-probe" >&2
  exit 2
fi
probe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")

if [ -z "${VARNEL_LAB_ENV:-}" ]; then
  exec "$repo/tests/e2e/lab/run-in-lab.sh" "$here/engine-bench.sh" "$probe"
fi

RUNS=${RUNS:-3}
IPERF_TIME=${IPERF_TIME:-5}
work=$(mktemp -d)
client_pid=
cleanup() {
  if [ -n "$client_pid" ]; then
    kill -TERM "$client_pid" 2>/dev/null || true
    wait "$client_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The command-line OpenVPN client gets what our engine gets: the backend's
# template with the server filled in, and the credentials (from a private file).
sed -e "s/remoteIP/$VARNEL_LAB_OPENVPN_HOST/" -e "s/remotePort/$VARNEL_LAB_OPENVPN_PORT/" \
  "$VARNEL_LAB_OPENVPN_TEMPLATE" >"$work/client.ovpn"
(umask 077 && printf '%s\n%s\n' "$VARNEL_LAB_USER" "$VARNEL_LAB_PASSWORD" >"$work/credentials")

# Sets now to the time in milliseconds (no subshell).
stamp() { now=$(( ${EPOCHREALTIME/./} / 1000 )); }

# Without a tunnel the client namespace has no route to the target, so this
# fails at once; through a tunnel the target answers at once. Builtins only:
# the polling below must not spend milliseconds on forks.
target_reachable() {
  if { exec 3<>"/dev/tcp/$VARNEL_LAB_TARGET/$VARNEL_LAB_IPERF_PORT"; } 2>/dev/null; then
    exec 3>&-
    return 0
  fi
  return 1
}

# True once the kernel has a route to the target (through a tunnel: the
# client namespace has none of its own). Read from /proc: no program runs.
IFS=. read -r o1 o2 o3 o4 <<<"$VARNEL_LAB_TARGET"
target_hex=$(printf '%02X%02X%02X%02X' "$o4" "$o3" "$o2" "$o1")
route_up() {
  local routes
  IFS= read -r -d '' routes </proc/net/route || true
  [[ $routes == *"$target_hex"* ]]
}

# A pause of about 2 ms without starting a program.
mkfifo "$work/idle"
exec 9<>"$work/idle"
pause() { read -r -t 0.002 -u 9 || true; }

# Prefixes every line read with the time it arrived (ms).
stamp_lines() {
  local line
  while IFS= read -r line; do
    stamp
    printf '%s %s\n' "$now" "$line"
  done
}

# Starts client $1 in the background; its output, line-buffered and time-stamped
# as it arrives, goes to $work/out. Output of every client is read the same way.
start_client() {
  : >"$work/out"
  case $1 in
    ours-openconnect) stdbuf -oL -eL "$probe" openconnect > >(stamp_lines >"$work/out") 2>&1 & ;;
    ours-openvpn) stdbuf -oL -eL "$probe" openvpn > >(stamp_lines >"$work/out") 2>&1 & ;;
    cli-openconnect)
      printf '%s\n' "$VARNEL_LAB_PASSWORD" | stdbuf -oL -eL openconnect --protocol=anyconnect \
        --user="$VARNEL_LAB_USER" --passwd-on-stdin --non-inter --servercert "$VARNEL_LAB_OCSERV_PIN" \
        "$VARNEL_LAB_OCSERV_URL" > >(stamp_lines >"$work/out") 2>&1 &
      ;;
    cli-openvpn)
      stdbuf -oL -eL openvpn --config "$work/client.ovpn" --auth-user-pass "$work/credentials" \
        > >(stamp_lines >"$work/out") 2>&1 &
      ;;
  esac
  client_pid=$!
}

# The line a client prints once connected (a regular expression).
marker() {
  case $1 in
    ours-*) echo '^connected [0-9]+$' ;;
    cli-openconnect) echo '^Configured as ' ;;
    cli-openvpn) echo 'Initialization Sequence Completed' ;;
  esac
}

# Sets marker_at to the arrival time of the first line matching $1, if any.
find_marker() {
  local ts text
  while read -r ts text; do
    if [[ $text =~ $1 ]]; then
      marker_at=$ts
      return 0
    fi
  done <"$work/out"
  return 1
}

stop_client() {
  kill -TERM "$client_pid" 2>/dev/null || true
  wait "$client_pid" 2>/dev/null || true
  client_pid=
  # The tunnel must be gone before the next client starts.
  local tries=0
  while target_reachable && [ $tries -lt 50 ]; do sleep 0.1; tries=$((tries + 1)); done
  return 0
}

# Mbit/s received in one iperf3 test; the server takes a moment between
# tests, so a refused test is tried again.
iperf_mbps() {
  local attempt result
  for attempt in 1 2 3 4 5; do
    result=$(iperf3 -c "$VARNEL_LAB_TARGET" -p "$VARNEL_LAB_IPERF_PORT" -t "$IPERF_TIME" -f m "$@" 2>/dev/null |
      awk '/ receiver$/ { print $7 }') || true
    if [ -n "$result" ]; then
      echo "$result"
      return 0
    fi
    echo "iperf3 attempt $attempt failed, retrying" >&2
    sleep 1
  done
  return 1
}

# One run of client $1: appends "marker_ms reach_ms [internal_ms] up down" to $work/$1.
run_client() {
  local client=$1 start reach_at='' internal=- pattern
  marker_at=
  pattern=$(marker "$client")
  stamp
  start=$now
  start_client "$client"
  while :; do
    [ -n "$marker_at" ] || find_marker "$pattern" || true
    if [ -z "$reach_at" ] && route_up; then stamp; reach_at=$now; fi
    [ -n "$marker_at" ] && [ -n "$reach_at" ] && break
    stamp
    if [ $((now - start)) -gt 60000 ] || ! kill -0 "$client_pid" 2>/dev/null; then
      echo "$client did not connect:" >&2
      tail -n 20 "$work/out" >&2
      exit 1
    fi
    pause
  done
  case $client in ours-*) internal=$(sed -n 's/^[0-9]* connected \([0-9]*\)$/\1/p' "$work/out") ;; esac
  local up down tries=0
  # The route can precede the tunnel's readiness by a moment.
  until target_reachable || [ $tries -ge 100 ]; do pause; tries=$((tries + 1)); done
  up=$(iperf_mbps)
  down=$(iperf_mbps -R)
  stop_client
  echo "$((marker_at - start)) $((reach_at - start)) $internal $up $down" >>"$work/$client"
}

# Start-up cost of a program alone: launch to exit of a run that only
# prints its version (our probe: its usage line). Appends ms to $work/startup-$1.
measure_startup() {
  local name=$1 begin
  shift
  stamp
  begin=$now
  "$@" >/dev/null 2>&1 || true
  stamp
  echo $((now - begin)) >>"$work/startup-$name"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
column_median() { awk -v c="$2" '{ print $c }' "$work/$1" | median; }

clients=(ours-openconnect cli-openconnect ours-openvpn cli-openvpn)
for run in $(seq "$RUNS"); do
  for client in "${clients[@]}"; do
    echo "run $run: $client" >&2
    run_client "$client"
  done
done

for run in $(seq 5); do
  measure_startup ours "$probe"
  measure_startup openconnect openconnect --version
  measure_startup openvpn openvpn --version
done

echo
echo "raw runs (connected ms, route ms, engine ms, up, down):"
for client in "${clients[@]}"; do
  echo "  $client: $(paste -sd';' "$work/$client")"
done

printf '\n%-18s %12s %12s %12s %12s %12s\n' client "connected ms" "route ms" "engine ms" "up Mbit/s" "down Mbit/s"
for client in "${clients[@]}"; do
  printf '%-18s %12s %12s %12s %12s %12s\n' "$client" "$(column_median "$client" 1)" "$(column_median "$client" 2)" \
    "$(column_median "$client" 3)" "$(column_median "$client" 4)" "$(column_median "$client" 5)"
done

startup() { median <"$work/startup-$1"; }
echo
echo "program start-up alone (median of 5): our probe $(startup ours) ms, openconnect $(startup openconnect) ms," \
  "openvpn $(startup openvpn) ms"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f%%", 100 * a / b }'; }
echo
for protocol in openconnect openvpn; do
  echo "$protocol, ours / command-line client (medians of $RUNS):"
  # Our OpenConnect session runs in the process that calls connect(), so the
  # command-line client's own start-up is left out of its figure; our OpenVPN
  # path starts the openvpn program just as the command line does.
  theirs=$(column_median cli-$protocol 1)
  [ "$protocol" = openvpn ] || theirs=$((theirs - $(startup $protocol)))
  echo "  connect time, call to connected (ours: connect() to Connected; theirs: launch to report" \
    "$([ "$protocol" = openvpn ] || echo "minus start-up")): $(ratio "$(column_median ours-$protocol 3)" \
    "$theirs")   (target <= 105%)"
  echo "  connect time from launch, to connected: $(ratio "$(column_median ours-$protocol 1)" \
    "$(column_median cli-$protocol 1)")  to route: $(ratio "$(column_median ours-$protocol 2)" \
    "$(column_median cli-$protocol 2)")"
  echo "  throughput up: $(ratio "$(column_median ours-$protocol 4)" "$(column_median cli-$protocol 4)")" \
    " down: $(ratio "$(column_median ours-$protocol 5)" "$(column_median cli-$protocol 5)")   (target >= 97%)"
done
