#!/usr/bin/env bash
# Proves the VPN lab with Debian's command-line clients:
#  - from the client namespace the target is reachable only through a tunnel;
#  - openconnect gets in with the good password (and reaches the target and
#    the iperf3 server) and is refused with a wrong one;
#  - openvpn, configured from the lab's client template, gets in and is
#    refused with a wrong password;
#  - `lab.sh kill` and `lab.sh start` stop and restart a server;
#  - a command's exit status comes back through run-in-lab.sh;
#  - a lab whose owner was killed is removed by the next run;
#  - afterwards nothing of any of these labs is left, and the host's routes,
#    addresses, links, nftables rules and resolver file are as before.
# Exit status 0 on success, 1 on a failure, 77 when no lab can run here.

set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
lab=$here/lab.sh
run=$here/run-in-lab.sh
# shellcheck source-path=SCRIPTDIR source=checks.sh
. "$here/checks.sh"

alive() {
  local state
  state=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

# ---------------------------------------------------------------------------
# Inside the client namespace, with the lab's variables in the environment.

tunnel_route() { ip route get "$VARNEL_LAB_TARGET" 2>/dev/null | grep -q ' dev tun'; }
target_answers() { ping -c 2 -i 0.2 -W 2 "$VARNEL_LAB_TARGET"; }
no_default_route() { [ -z "$(ip route show default)" ]; }

openconnect_args() {
  openconnect_args=(--protocol=anyconnect --user="$VARNEL_LAB_USER" --passwd-on-stdin --non-inter
    --servercert "$VARNEL_LAB_OCSERV_PIN" --script /usr/share/vpnc-scripts/vpnc-script "$VARNEL_LAB_OCSERV_URL")
}

# Fills the template's placeholders as the client does and writes the credentials file.
openvpn_files() {
  sed -e "s/remoteIP/$VARNEL_LAB_OPENVPN_HOST/" -e "s/remotePort/$VARNEL_LAB_OPENVPN_PORT/" \
    "$VARNEL_LAB_OPENVPN_TEMPLATE" >"$tmp/client.ovpn"
  printf '%s\n%s\n' "$VARNEL_LAB_USER" "$1" >"$tmp/auth"
}

# Ends a client started here and waits for it.
end_client() { kill -TERM "$1" 2>/dev/null; wait "$1" 2>/dev/null; }

# Connects with openvpn and the good password, pings the target, disconnects.
openvpn_session() {
  local what=$1 log=$tmp/openvpn-$2.log
  openvpn_files "$VARNEL_LAB_PASSWORD"
  openvpn --config "$tmp/client.ovpn" --auth-user-pass "$tmp/auth" >"$log" 2>&1 &
  local ov=$!
  clients+=("$ov")
  if poll 150 grep -q 'Initialization Sequence Completed' "$log"; then
    ok "openvpn connects with the good password ($what)"
    check "the target answers through the OpenVPN tunnel ($what)" target_answers
    refute "OpenVPN pushes no default route and no DNS ($what)" grep -Eq 'PUSH_REPLY.*(redirect-gateway|dhcp-option)' "$log"
  else
    not_ok "openvpn connects with the good password ($what)"
    sed 's/^/    /' "$log"
  fi
  end_client "$ov"
  refute "the OpenVPN tunnel is gone once openvpn ends ($what)" tunnel_route
}

inner() {
  tmp=$(mktemp -d)
  clients=()
  trap 'kill -KILL "${clients[@]}" 2>/dev/null; rm -rf "$tmp"' EXIT
  chmod 0700 "$tmp"
  local resolv_before
  resolv_before=$(cat /etc/resolv.conf)

  check "runs in the client namespace" test "$(ip netns identify $$)" = "$VARNEL_LAB_NS_CLIENT"
  check "the raw link carries traffic" ping -c 1 -W 2 "$VARNEL_LAB_SERVER_ADDR"
  check "the client namespace has no default route" no_default_route
  refute "the target is unreachable without a tunnel" ping -c 1 -W 1 "$VARNEL_LAB_TARGET"
  ip route add "$VARNEL_LAB_TARGET/32" via "$VARNEL_LAB_SERVER_ADDR"
  refute "the target ignores packets routed over the raw link" ping -c 1 -W 1 "$VARNEL_LAB_TARGET"
  ip route del "$VARNEL_LAB_TARGET/32" via "$VARNEL_LAB_SERVER_ADDR"

  # ocserv, good password.
  openconnect_args
  openconnect "${openconnect_args[@]}" <<<"$VARNEL_LAB_PASSWORD" >"$tmp/openconnect.log" 2>&1 &
  local oc=$!
  clients+=("$oc")
  if poll 150 tunnel_route; then
    ok "openconnect sets up a tunnel route to the target"
    check "the target answers through the ocserv tunnel" target_answers
    check "iperf3 runs through the ocserv tunnel" timeout 15 iperf3 -c "$VARNEL_LAB_TARGET" -p "$VARNEL_LAB_IPERF_PORT" -n 1M
    check "ocserv pushes no default route" no_default_route
  else
    not_ok "openconnect sets up a tunnel route to the target"
    sed 's/^/    /' "$tmp/openconnect.log"
  fi
  end_client "$oc"
  refute "the ocserv tunnel is gone once openconnect ends" tunnel_route

  # ocserv, wrong password.
  local rc=0
  timeout 20 openconnect "${openconnect_args[@]}" <<<"$VARNEL_LAB_BAD_PASSWORD" >"$tmp/openconnect-bad.log" 2>&1 || rc=$?
  check "ocserv refuses a wrong password" test "$rc" -ne 0 -a "$rc" -ne 124
  check "openconnect reports the failed login" grep -q 'Login failed' "$tmp/openconnect-bad.log"

  # OpenVPN, good password, from the client template.
  check "the client template has the address placeholders" grep -qx 'remote remoteIP remotePort' "$VARNEL_LAB_OPENVPN_TEMPLATE"
  check "the base64 template decodes to the template file" \
    cmp -s "$VARNEL_LAB_OPENVPN_TEMPLATE" <(printf '%s' "$VARNEL_LAB_OPENVPN_TEMPLATE_B64" | base64 -d)
  openvpn_session "first server" first

  # OpenVPN, wrong password: the client exits on its own.
  openvpn_files "$VARNEL_LAB_BAD_PASSWORD"
  rc=0
  timeout 20 openvpn --config "$tmp/client.ovpn" --auth-user-pass "$tmp/auth" >"$tmp/openvpn-bad.log" 2>&1 || rc=$?
  check "openvpn gives up by itself after a wrong password" test "$rc" -ne 124
  check "the OpenVPN server refuses a wrong password" grep -q 'AUTH_FAILED' "$tmp/openvpn-bad.log"
  refute "no OpenVPN tunnel comes up with a wrong password" grep -q 'Initialization Sequence Completed' "$tmp/openvpn-bad.log"

  check "the namespace's resolver file stayed as it was" test "$resolv_before" = "$(cat /etc/resolv.conf)"

  # A server crash and restart, as the engine tests do mid-session.
  local old_openvpn
  old_openvpn=$("$VARNEL_LAB_SCRIPT" pid openvpn)
  check "lab.sh kill openvpn KILL succeeds" "$VARNEL_LAB_SCRIPT" kill openvpn KILL
  refute "the killed OpenVPN server is gone" alive "$old_openvpn"
  check "lab.sh start openvpn succeeds" "$VARNEL_LAB_SCRIPT" start openvpn
  check "the restarted OpenVPN server is a new process" test "$("$VARNEL_LAB_SCRIPT" pid openvpn)" != "$old_openvpn"
  openvpn_session "restarted server" second

  # Everything the lab and this test started, for the outer check after teardown.
  {
    echo "$old_openvpn" "${clients[@]}"
    ip netns pids "$VARNEL_LAB_NS_SERVER"
  } | tr ' ' '\n' >>"$VARNEL_LAB_SELFTEST_PIDS"
  echo "$VARNEL_LAB_ID" >>"$VARNEL_LAB_SELFTEST_IDS"

  [ $failures -eq 0 ]
}

# ---------------------------------------------------------------------------
# On the host.

snapshot() { "$lab" host-state; }

host_dirs() {
  local d states=()
  for d in /etc/netns /run/vpnc; do
    if [ -e "$d" ]; then states+=("$d present"); else states+=("$d absent"); fi
  done
  echo "${states[*]}"
}

lab_leftovers() { "$lab" leftovers "$1"; }

outer() {
  "$lab" check || exit $?
  local started
  started=$(date +%s)
  work=$(mktemp -d)
  runs=()
  # On any exit: stop a run still going (its own trap tears its lab down),
  # then sweep labs whose owner is gone.
  trap 'kill -TERM "${runs[@]}" 2>/dev/null; wait; "$lab" cleanup-stale; rm -rf "$work"' EXIT
  trap 'exit 143' TERM INT HUP
  export VARNEL_LAB_SELFTEST_PIDS=$work/pids VARNEL_LAB_SELFTEST_IDS=$work/ids
  : >"$VARNEL_LAB_SELFTEST_PIDS"
  : >"$VARNEL_LAB_SELFTEST_IDS"

  # What an earlier, killed self-test left goes first, so that it does not
  # count as a change of the host.
  "$lab" cleanup-stale
  local before dirs_before
  before=$(snapshot)
  dirs_before=$(host_dirs)

  # A run that dies without its teardown leaves a stale lab behind.
  "$run" sleep 60 &
  local crashed=$!
  runs+=("$crashed")
  if poll 200 test -e "/tmp/vvlab$crashed/lab.env"; then
    ok "a lab comes up"
  else
    not_ok "a lab comes up"
  fi
  ip netns pids "vvlab$crashed-srv" >>"$VARNEL_LAB_SELFTEST_PIDS" 2>/dev/null
  ip netns pids "vvlab$crashed-cli" >>"$VARNEL_LAB_SELFTEST_PIDS" 2>/dev/null
  kill -KILL "$crashed"
  wait "$crashed" 2>/dev/null
  check "the killed run left its lab behind" test -n "$(lab_leftovers "$crashed")"

  # The checks inside the lab; the stale lab goes when this one comes up.
  "$run" "$0" inner &
  local main=$! rc=0
  runs+=("$main")
  wait "$main" || rc=$?
  check "the checks inside the lab pass" test "$rc" -eq 0
  check "the next run removed the stale lab" test -z "$(lab_leftovers "$crashed")"

  # A failing command: its status comes back and the lab still goes.
  # shellcheck disable=SC2016 # expanded inside the lab
  "$run" sh -c 'echo "$VARNEL_LAB_ID" >>"$VARNEL_LAB_SELFTEST_IDS"; exit 3' &
  local failing=$!
  runs+=("$failing")
  rc=0
  wait "$failing" || rc=$?
  check "run-in-lab.sh returns the command's exit status" test "$rc" -eq 3

  check "each run had a lab of its own id" test "$(tr '\n' ' ' <"$VARNEL_LAB_SELFTEST_IDS")" = "$main $failing "
  local id leftovers pid survivors=
  for id in "$crashed" "$main" "$failing"; do
    leftovers=$(lab_leftovers "$id")
    check "nothing of lab vvlab$id is left" test -z "$leftovers"
    [ -z "$leftovers" ] || echo "    ${leftovers//$'\n'/$'\n    '}"
  done
  while read -r pid; do
    alive "$pid" && survivors="$survivors $pid"
  done < <(sort -u "$VARNEL_LAB_SELFTEST_PIDS")
  check "no server or client process survives ($(sort -u "$VARNEL_LAB_SELFTEST_PIDS" | wc -l) recorded)" test -z "$survivors"
  [ -z "$survivors" ] || ps -o pid,stat,comm -p "${survivors# }" | sed 's/^/    /'

  local after
  after=$(snapshot)
  if [ "$before" = "$after" ]; then
    ok "host routes, addresses, links, nftables rules and resolver file unchanged"
  else
    not_ok "host routes, addresses, links, nftables rules and resolver file unchanged"
    diff <(echo "$before") <(echo "$after") | sed 's/^/    /'
  fi
  # Another lab running at the same time may hold these directories.
  if ! ip netns list | grep -Eq '^vvlab[0-9]+-'; then
    check "/etc/netns and /run/vpnc are as before ($dirs_before)" test "$(host_dirs)" = "$dirs_before"
  fi

  echo "lab self-test: $failures failure(s) in $(( $(date +%s) - started )) s"
  [ $failures -eq 0 ]
}

if [ "${1:-}" = inner ]; then
  inner
else
  outer
fi
