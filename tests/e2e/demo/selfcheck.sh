#!/usr/bin/env bash
# The demo of tools/run.sh without a window: with a settings file that logs
# in and connects by itself, through an OpenConnect and an OpenVPN server of
# the demo list, as the lab user without capability; then ended by SIGTERM to
# the client, a closed terminal (SIGHUP) and Ctrl-C while it comes up, each
# leaving nothing of its lab and the host as before.
#   selfcheck.sh BUILD_DIR
# Exit status 0 on success, 1 on a failure, 77 when no demo can run here.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../.." && pwd)
lab=$repo/tools/lab/lab.sh
build=$(cd "${1:?usage: selfcheck.sh BUILD_DIR}" && pwd)
data=$repo/tools/refbackend/demo-data.json
# shellcheck source-path=SCRIPTDIR source=../lab/checks.sh
. "$repo/tools/lab/checks.sh"

"$lab" check || exit $?
command -v jq >/dev/null || { echo "SKIP: jq is not installed (tools/install-deps.sh)"; exit 77; }
work=$(mktemp -d)
demo_pid=
trap '[ -z "$demo_pid" ] || kill -TERM "$demo_pid" 2>/dev/null; wait; "$lab" cleanup-stale; rm -rf "$work"' EXIT
trap 'exit 143' TERM INT HUP

# profile SERVER_ID: settings that log in as demo and connect to that server.
profile() {
  printf '[General]\nServerHash="%s"\nConnectionHash="%s"\nAutoLogin=true\nAutoConncet=true\nActiveServer=%s\n' \
    "$(scramble demo)" "$(scramble demo123)" "$1"
}

# The demo's address of a server of the demo data (the demo moves 127.0.X.N to 10.213.1X.N).
lab_address() {
  jq -r --argjson id "$1" '.servers[] | select(.ip_id == $id) | .ip | split(":")[0] | split(".")
    | "10.213.\((.[2] | tonumber) + 10).\(.[3])"' "$data"
}

# Starts the demo in a process group of its own with profile $1, as a terminal
# runs a command: with SIGINT handled (a background job of a script ignores it).
start_demo() {
  profile "$1" >"$work/settings.conf"
  QT_QPA_PLATFORM=offscreen BUILD_DIR=$build env --default-signal=INT setsid "$repo/tools/demo/demo.sh" \
    --settings "$work/settings.conf" >"$work/demo.log" 2>&1 &
  demo_pid=$!
}

in_client() { ip netns exec "vvlab$demo_pid-cli" "$@"; }
through_tunnel() { in_client ip route get 10.213.9.1 | grep -q ' dev vvpn' && in_client ping -c 1 -W 1 10.213.9.1; }

# Counts, in the server namespace, what arrives for address $1.
count_arrivals() {
  ip netns exec "vvlab$demo_pid-srv" nft "add table inet demo_check; add chain inet demo_check input \
    { type filter hook input priority -10; policy accept; }; add rule inet demo_check input ip daddr $1 counter"
}
arrivals() {
  ip netns exec "vvlab$demo_pid-srv" nft list table inet demo_check | sed -n 's/.*counter packets \([0-9]*\).*/\1/p'
}

demo_log() { sed 's/^/    /' "$work/demo.log"; }
# The demo has exited (a child not yet waited for is a zombie).
demo_ended() { local state; state=$(ps -o stat= -p "$demo_pid" 2>/dev/null); [ -z "$state" ] || [[ $state == Z* ]]; }

# finish WHAT: waits for the demo to end; checks its status and that nothing of it is left.
finish() {
  local what=$1 expected=$2 rc=0 before_run=$3
  # A demo that does not end would hold the test until its time-out and say
  # nothing: after a minute, show where it stands and end it.
  if ! poll 600 demo_ended; then
    not_ok "$what: the demo still runs after 60 s"
    ps -o pid,pgid,stat,etime,args --forest -g "$demo_pid" | sed 's/^/    /'
    demo_log
    kill -KILL -- "-$demo_pid" 2>/dev/null
    "$lab" cleanup-stale
  fi
  wait "$demo_pid" || rc=$?
  if [ "$rc" -eq "$expected" ]; then ok "$what ends the demo (status $rc)"; else not_ok "$what ends the demo (status $rc, not $expected)"; demo_log; fi
  check "nothing of the demo's lab is left" test -z "$("$lab" leftovers "$demo_pid")"
  local changed
  changed=$(diff <(echo "$before_run") <("$lab" host-state))
  check "host routes, addresses, links, nftables rules and resolver file unchanged${changed:+:
$changed}" test -z "$changed"
  demo_pid=
}

# connect_run NAME SERVER_ID POOL: one demo that connects to the server; the
# tunnel address comes from POOL (ocserv's or OpenVPN's).
connect_run() {
  local name=$1 id=$2 pool=$3 address
  address=$(lab_address "$id")
  start_demo "$id"
  if poll 300 through_tunnel; then
    ok "$name: logged in and connected by itself, the target answers through the tunnel"
  else
    not_ok "$name: logged in and connected by itself, the target answers through the tunnel"
    demo_log
    return 1
  fi
  local client uid
  client=$(cat "/tmp/vvlab$demo_pid/run/client.pid")
  uid=$(sed -n 's/^export VARNEL_LAB_UID=//p' "/tmp/vvlab$demo_pid/lab.env")
  check "$name: the client runs as the lab user ($uid) with no capability" \
    test "$(sed -n 's/^Uid:\t\([0-9]*\).*/\1/p; s/^CapEff:\t//p' "/proc/$client/status" | tr '\n' ' ')" = "$uid 0000000000000000 "
  check "$name: the tunnel's address comes from the server's pool $pool" \
    sh -c "ip -n vvlab$demo_pid-cli -o -4 addr show | grep -q ' inet ${pool%.0/24}\.'"
  count_arrivals "$address"
  in_client ping -c 3 -i 0.2 -W 1 10.213.9.1 >/dev/null
  check "$name: the tunnel runs through the chosen server $address" test "$(arrivals)" -gt 0
}

"$lab" cleanup-stale
started=$(date +%s)
before=$("$lab" host-state)
openconnect_id=$(jq '[.servers[] | select(.type == 2 and .connection_type == 1)][3].ip_id' "$data")
openvpn_id=$(jq '[.servers[] | select(.type == 1)][5].ip_id' "$data")

connect_run OpenConnect "$openconnect_id" 10.213.4.0/24
kill -TERM "$(cat "/tmp/vvlab$demo_pid/run/client.pid")"
finish "SIGTERM to the client" 0 "$before"

connect_run OpenVPN "$openvpn_id" 10.213.5.0/24
kill -TERM "$(cat "/tmp/vvlab$demo_pid/run/client.pid")"
finish "SIGTERM to the client" 0 "$before"

connect_run "OpenConnect again" "$openconnect_id" 10.213.4.0/24
kill -HUP -- "-$demo_pid"
finish "a closed terminal (SIGHUP)" 129 "$before"

start_demo "$openvpn_id"
poll 300 test -e "/tmp/vvlab$demo_pid/lab.env"
kill -INT -- "-$demo_pid"
finish "Ctrl-C while it comes up" 130 "$before"

echo "demo self-check: $failures failure(s) in $(($(date +%s) - started)) s"
[ $failures -eq 0 ]
