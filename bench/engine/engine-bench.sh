#!/usr/bin/env bash
# Engine benchmark in the VPN lab: our engine (through varnel-engine-probe)
# against Debian's openconnect and openvpn command-line clients on the same
# lab servers. Prints medians (times in ms, to 0.1 ms):
#   - connect time (CONNECT_RUNS runs each, default 21): from starting the
#     client to its "connected" report (our Connected; openconnect's
#     "Configured as ..."; openvpn's "Initialization Sequence Completed"),
#     and to the route to the lab's target through the tunnel;
#   - TCP throughput through the tunnel with iperf3 (RUNS runs each, default
#     5, of IPERF_TIME s, default 5), upload and download, and the CPU time
#     the client spends per GB moved (its process and children: for our
#     OpenVPN path the probe and the openvpn it starts).
# In the lab every party shares the machine's CPUs (iperf3 at both ends, the
# VPN server and the client), so throughput measures how the client fares
# in that contention as much as its own cost; CPU per GB is the client's own
# cost.
# Runs of our engine and of the command-line client alternate (A B B A ...)
# so that a drift of the machine's load falls on both alike.
#
# The command-line openconnect is compared with the same trust set-up as our
# engine: the system's certificate authorities are loaded, and the lab's
# self-signed certificate, which fails them, is accepted at its prompt (our
# engine pins it on first use). "cli-openconnect-pinned" is the client given
# the certificate's pin with --servercert instead, which also skips loading
# the system's authorities; its connect time is printed for comparison.
#
#   bench/engine/engine-bench.sh PATH/TO/varnel-engine-probe     (as root)
#
# It brings up its own lab through tools/lab/run-in-lab.sh and runs
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
  exec "$repo/tools/lab/run-in-lab.sh" "$here/engine-bench.sh" "$probe"
fi

RUNS=${RUNS:-5}
CONNECT_RUNS=${CONNECT_RUNS:-21}
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

# Sets now to the time in microseconds (no subshell): connects take some
# 15 ms, so whole milliseconds would be too coarse to compare.
stamp() { now=${EPOCHREALTIME/./}; }
# Prints microseconds $1 as milliseconds with one decimal.
ms() { printf '%d.%d' $(($1 / 1000)) $((($1 % 1000) / 100)); }

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

# Prefixes every line read with the time it arrived (µs).
stamp_lines() {
  local line
  while IFS= read -r line; do
    stamp
    printf '%s %s\n' "$now" "$line"
  done
}

# Starts client $1 in the background; the output that carries its
# "connected" report, time-stamped as it arrives, goes to $work/out (every
# client flushes each line it writes, so no stdbuf is put in between). The
# time-stamping shell competes for the CPUs with the client and the servers,
# so it reads only that output: the command-line clients report on the
# output they log to, our probe on its own standard output (its log, some 80
# lines for an OpenConnect connect, goes to $work/log).
start_client() {
  : >"$work/out"
  case $1 in
    ours-openconnect) "$probe" openconnect > >(stamp_lines >"$work/out") 2>"$work/log" & ;;
    ours-openvpn) "$probe" openvpn > >(stamp_lines >"$work/out") 2>"$work/log" & ;;
    cli-openconnect)
      # The password, then "yes" for the certificate prompt.
      printf '%s\nyes\n' "$VARNEL_LAB_PASSWORD" | openconnect --protocol=anyconnect \
        --user="$VARNEL_LAB_USER" --passwd-on-stdin \
        "$VARNEL_LAB_OCSERV_URL" > >(stamp_lines >"$work/out") 2>&1 &
      ;;
    cli-openconnect-pinned)
      printf '%s\n' "$VARNEL_LAB_PASSWORD" | openconnect --protocol=anyconnect \
        --user="$VARNEL_LAB_USER" --passwd-on-stdin --non-inter --servercert "$VARNEL_LAB_OCSERV_PIN" \
        "$VARNEL_LAB_OCSERV_URL" > >(stamp_lines >"$work/out") 2>&1 &
      ;;
    cli-openvpn)
      openvpn --config "$work/client.ovpn" --auth-user-pass "$work/credentials" \
        > >(stamp_lines >"$work/out") 2>&1 &
      ;;
  esac
  client_pid=$!
}

# The line a client prints once connected (a regular expression).
marker() {
  case $1 in
    ours-*) echo '^connected [0-9.]+$' ;;
    cli-openconnect*) echo '^Configured as ' ;;
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
  # The tunnel must be gone before the next client starts. Its route is
  # watched, not the target: a connection to iperf3's port that a closing
  # tunnel cuts off would leave the single-client iperf3 server waiting.
  local tries=0
  while route_up && [ $tries -lt 50 ]; do sleep 0.1; tries=$((tries + 1)); done
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

# Starts client $1 and waits until it has reported the connection and the
# route to the target exists. Sets start, marker_at and reach_at (µs).
connect_client() {
  local client=$1 pattern
  marker_at=
  reach_at=
  pattern=$(marker "$client")
  stamp
  start=$now
  start_client "$client"
  while :; do
    [ -n "$marker_at" ] || find_marker "$pattern" || true
    if [ -z "$reach_at" ] && route_up; then stamp; reach_at=$now; fi
    [ -n "$marker_at" ] && [ -n "$reach_at" ] && break
    stamp
    if [ $((now - start)) -gt 60000000 ] || ! kill -0 "$client_pid" 2>/dev/null; then
      echo "$client did not connect:" >&2
      tail -n 20 "$work/out" >&2
      case $client in ours-*) tail -n 20 "$work/log" >&2 ;; esac
      exit 1
    fi
    pause
  done
}

# One connect of client $1: appends "marker_ms route_ms engine_ms" to
# $work/connect-$1 (engine_ms "-" for a command-line client).
connect_run() {
  local client=$1 internal=-
  connect_client "$client"
  case $client in ours-*) internal=$(sed -n 's/^[0-9]* connected \([0-9.]*\)$/\1/p' "$work/out") ;; esac
  stop_client
  echo "$(ms $((marker_at - start))) $(ms $((reach_at - start))) $internal" >>"$work/connect-$client"
}

# CPU time (clock ticks) used so far by the client process and its children.
client_ticks() {
  local pid total=0 fields
  for pid in "$client_pid" $(pgrep -P "$client_pid"); do
    # Fields 14 and 15 (user, system), counted after the command name.
    fields=$(sed 's/^.*) //' "/proc/$pid/stat" 2>/dev/null) || continue
    set -- $fields
    total=$((total + ${12} + ${13}))
  done
  echo "$total"
}

# Milliseconds of CPU per GB moved: ticks $1 for $2 Mbit/s over IPERF_TIME s.
cpu_per_gb() {
  awk -v t="$1" -v hz="$(getconf CLK_TCK)" -v r="$2" -v s="$IPERF_TIME" \
    'BEGIN { printf "%.0f", (t * 1000 / hz) / (r * s / 8000) }'
}

# One throughput run of client $1: appends "up down up_cpu down_cpu" (Mbit/s,
# CPU ms per GB) to $work/rate-$1.
rate_run() {
  local client=$1 up down tries=0 t0 t1 t2
  connect_client "$client"
  # The route can precede the tunnel's readiness by a moment.
  until target_reachable || [ $tries -ge 100 ]; do pause; tries=$((tries + 1)); done
  t0=$(client_ticks)
  up=$(iperf_mbps)
  t1=$(client_ticks)
  down=$(iperf_mbps -R)
  t2=$(client_ticks)
  stop_client
  echo "$up $down $(cpu_per_gb $((t1 - t0)) "$up") $(cpu_per_gb $((t2 - t1)) "$down")" >>"$work/rate-$client"
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
  echo "$(ms $((now - begin)))" >>"$work/startup-$name"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
column_median() { awk -v c="$2" '{ print $c }' "$work/$1" | median; }

# The clients of one run in A B B A order: ours first in odd runs.
in_order() {
  local run=$1
  shift
  if [ $((run % 2)) -eq 1 ]; then echo "$@"; else echo "$@" | awk '{ for (i = NF; i > 0; i--) printf "%s ", $i }'; fi
}

for run in $(seq "$CONNECT_RUNS"); do
  echo "connect run $run" >&2
  for protocol in openconnect openvpn; do
    extra=
    [ "$protocol" = openconnect ] && extra=cli-openconnect-pinned
    for client in $(in_order "$run" ours-$protocol cli-$protocol $extra); do connect_run "$client"; done
  done
done

for run in $(seq "$RUNS"); do
  echo "throughput run $run" >&2
  for protocol in openconnect openvpn; do
    for client in $(in_order "$run" ours-$protocol cli-$protocol); do rate_run "$client"; done
  done
done

for run in $(seq 5); do
  measure_startup ours "$probe"
  measure_startup openconnect openconnect --version
  measure_startup openvpn openvpn --version
done

clients=(ours-openconnect cli-openconnect cli-openconnect-pinned ours-openvpn cli-openvpn)
echo
echo "raw connect runs (connected ms, route ms, engine ms):"
for client in "${clients[@]}"; do
  echo "  $client: $(paste -sd';' "$work/connect-$client")"
done
echo "raw throughput runs (up, down Mbit/s, up, down CPU ms per GB):"
for client in "${clients[@]}"; do
  [ -f "$work/rate-$client" ] && echo "  $client: $(paste -sd';' "$work/rate-$client")"
done

printf '\n%-24s %10s %10s %10s %10s %10s %12s %12s\n' client "connected" "route" "engine" "up" "down" \
  "up CPU" "down CPU"
printf '%-24s %10s %10s %10s %10s %10s %12s %12s\n' "" ms ms ms Mbit/s Mbit/s "ms/GB" "ms/GB"
for client in "${clients[@]}"; do
  rates=(- - - -)
  if [ -f "$work/rate-$client" ]; then
    for c in 1 2 3 4; do rates[c - 1]=$(column_median "rate-$client" $c); done
  fi
  printf '%-24s %10s %10s %10s %10s %10s %12s %12s\n' "$client" "$(column_median "connect-$client" 1)" \
    "$(column_median "connect-$client" 2)" "$(column_median "connect-$client" 3)" "${rates[@]}"
done

startup() { median <"$work/startup-$1"; }
echo
echo "program start-up alone (median of 5): our probe $(startup ours) ms, openconnect $(startup openconnect) ms," \
  "openvpn $(startup openvpn) ms"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f%%", 100 * a / b }'; }
# Connect time from the call to the report. Our OpenConnect session runs in
# the process that calls connect(), so a command-line openconnect's own
# start-up is left out of its figure; our OpenVPN path starts the openvpn
# program just as the command line does.
call_ratio() {
  local ours=$1 theirs=$2
  theirs=$(column_median "connect-$theirs" 1)
  case $2 in cli-openconnect*) theirs=$(awk -v a="$theirs" -v b="$(startup openconnect)" 'BEGIN { print a - b }') ;; esac
  ratio "$(column_median "connect-$ours" 3)" "$theirs"
}
echo
for protocol in openconnect openvpn; do
  echo "$protocol, ours / command-line client (medians of $CONNECT_RUNS connects, $RUNS throughput runs):"
  echo "  connect time, call to connected: $(call_ratio ours-$protocol cli-$protocol)   (target <= 105%)"
  echo "  connect time from launch, to connected: $(ratio "$(column_median connect-ours-$protocol 1)" \
    "$(column_median connect-cli-$protocol 1)")  to route: $(ratio "$(column_median connect-ours-$protocol 2)" \
    "$(column_median connect-cli-$protocol 2)")"
  echo "  throughput up: $(ratio "$(column_median rate-ours-$protocol 1)" "$(column_median rate-cli-$protocol 1)")" \
    " down: $(ratio "$(column_median rate-ours-$protocol 2)" "$(column_median rate-cli-$protocol 2)")   (target >= 97%)"
  echo "  CPU per GB up: $(ratio "$(column_median rate-ours-$protocol 3)" "$(column_median rate-cli-$protocol 3)")" \
    " down: $(ratio "$(column_median rate-ours-$protocol 4)" "$(column_median rate-cli-$protocol 4)")   (lower is better)"
done
echo "openconnect, ours / command-line client given the pin (no system authorities loaded):"
echo "  connect time, call to connected: $(call_ratio ours-openconnect cli-openconnect-pinned)"
