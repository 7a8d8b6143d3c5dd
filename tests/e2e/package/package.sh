#!/usr/bin/env bash
# The Debian package, end to end, on this machine: built with CPack, checked
# (lintian, systemd-analyze, no file capability), installed with apt-get, its
# service started as the unit starts it in a lab, its client used by a user
# made for the test through both protocols, purged; the check lines say what
# each step proves. Whatever happens the lab, package and user go and a
# development set-up is put back; a run killed outright is undone by the next.
#   package.sh BUILD_DIR
# Exit status 0 on success, 1 on a failure, 77 when it cannot run here.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../.." && pwd)
lab=$repo/tools/lab/lab.sh
build=$(cd "${1:?usage: package.sh BUILD_DIR}" && pwd)
# shellcheck source-path=SCRIPTDIR source=../../../tools/lab/checks.sh
. "$repo/tools/lab/checks.sh"

state_file=/tmp/varnelvpn-package-test.state
data_dir=/var/lib/VarnelVPN
unit=/lib/systemd/system/varnelvpn.service
socket=/run/varnelvpn/control

skip() { echo "SKIP: $*"; exit 77; }
"$lab" check || exit $?
for tool in cpack apt-get lintian systemd-analyze getcap setpriv useradd jq; do
  command -v "$tool" >/dev/null 2>&1 || skip "'$tool' is not installed (tools/install-deps.sh)"
done
[ -f "$build/CPackConfig.cmake" ] && [ -x "$build/tools/refbackend/varnel-refbackend" ] ||
  skip "no build in $build (tools/build.sh)"

installed() { dpkg-query -W -f='${Status}' varnelvpn 2>/dev/null | grep -q "ok installed"; }

# --- leaving the machine as it was -----------------------------------------

# Undoes what the state file says this test did; a killed run leaves the file
# for the next run. The lab goes first: it ends the service and the client.
restore() {
  [ -r "$state_file" ] || return 0
  local work user group_gid lab_env
  # shellcheck disable=SC1090
  . "$state_file"
  [ -z "$lab_env" ] || [ ! -e "$lab_env" ] || "$lab" down "$lab_env" >/dev/null 2>&1
  ! installed || DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq varnelvpn >/dev/null 2>&1 ||
    echo "could not purge varnelvpn" >&2
  ! getent passwd "$user" >/dev/null || userdel "$user" || echo "could not remove the user $user" >&2
  # man-db's formatted copies, made when systemd-analyze looked the unit's manual pages up.
  rm -f /var/cache/man/cat1/varnelvpn.1.gz /var/cache/man/cat8/varnelvpn-service.8.gz
  [ ! -d "$work/data-before" ] || [ -e "$data_dir" ] || mv "$work/data-before" "$data_dir"
  [ -z "$group_gid" ] || getent group varnelvpn >/dev/null || groupadd --system --gid "$group_gid" varnelvpn
  rm -rf "$work" "$state_file"
}

if [ -r "$state_file" ]; then
  owner=$(sed -n 's/^owner=//p' "$state_file")
  if [ -n "$owner" ] && kill -0 "$owner" 2>/dev/null; then skip "another package test runs (process $owner)"; fi
  echo "cleaning up after an earlier run"
  restore
fi
installed && skip "varnelvpn is installed on this machine; this test installs and purges its own"

work=$(mktemp -d /tmp/vvpkg.XXXXXX)
chmod 0755 "$work"
user=vvpkg$$
group_gid=$(getent group varnelvpn | cut -d: -f3)
lab_env=
save_state() {
  printf 'owner=%s\nwork=%s\nuser=%s\ngroup_gid=%s\nlab_env=%s\n' $$ "$work" "$user" "$group_gid" "$lab_env" >"$state_file"
}
save_state
watchdog=
trap '[ -z "$watchdog" ] || { pkill -P "$watchdog"; kill "$watchdog"; } 2>/dev/null; restore' EXIT
trap 'exit 143' TERM INT HUP
# Ends this script (and with it the trap's clean-up) before the test's time-out.
if [ -n "${VARNEL_LAB_COMMAND_TIMEOUT:-}" ]; then
  { sleep "$VARNEL_LAB_COMMAND_TIMEOUT" && kill -TERM $$; } </dev/null >/dev/null 2>&1 &
  watchdog=$!
fi
started=$(date +%s)

# A development set-up's folder and group step aside, so that the purge is
# checked against a machine without anything of ours.
[ ! -e "$data_dir" ] || mv "$data_dir" "$work/data-before"
[ -z "$group_gid" ] || groupdel varnelvpn
# What the purge must give back: the lab's host state (links, addresses,
# routes, nftables, resolver), users and groups, and every file of our name
# (man-db's cache of formatted pages aside, see restore).
machine() {
  "$lab" host-state
  cut -d: -f1 /etc/passwd /etc/group
  find /etc /lib /opt /run /usr /var -xdev -path /var/cache/man -prune -o -iname '*varnelvpn*' -print 2>/dev/null | sort
}
before=$(machine)

# --- build, lintian, install ------------------------------------------------

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1; then
  not_ok "cpack builds the package"
  tail -n 30 "$work/cpack.log"
  exit 1
fi
deb=$(ls "$work"/package/varnelvpn_*_amd64.deb)
ok "cpack builds $(basename "$deb") ($(($(date +%s) - started)) s)"
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1
check "lintian reports no error or warning" test $? -eq 0
grep -v '^running with root' "$work/lintian.log" | sed 's/^/    /'

if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt.log" 2>&1; then
  not_ok "apt-get install ./$(basename "$deb")"
  cat "$work/apt.log"
  exit 1
fi
ok "apt-get install ./$(basename "$deb")"
dpkg -L varnelvpn >"$work/files"

check "no file capability (getcap prints nothing) or set-id bit on any file of the package" \
  sh -c "xargs -d '\n' getcap <'$work/files' | grep -q . && exit 1; xargs -d '\n' stat -c %A <'$work/files' | grep -q '[sS]' && exit 1; exit 0"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
check "the unit's ExecStart ($exec_start) is the package's service" \
  sh -c "[ -x '$exec_start' ] && grep -qx '$exec_start' '$work/files'"
verify=$(systemd-analyze verify "$unit" 2>&1)
check "systemd-analyze verify $unit says nothing${verify:+: $verify}" test $? -eq 0 -a -z "$verify"
check "the post-installation script enabled the unit" test -L /etc/systemd/system/multi-user.target.wants/varnelvpn.service
enabled=$(ls -lR /etc/systemd/system /var/lib/systemd/deb-systemd-helper-enabled 2>/dev/null)
check "a second run of the post-installation script changes nothing" \
  sh -c "/var/lib/dpkg/info/varnelvpn.postinst configure 3.0.4 && [ \"\$(ls -lR /etc/systemd/system /var/lib/systemd/deb-systemd-helper-enabled 2>/dev/null)\" = '$enabled' ]"

# --- the lab, the service, the backend, the user ----------------------------

lab_env=$(VARNEL_LAB_SERVICE='' VARNEL_LAB_OWNER=$$ "$lab" up 2>"$work/lab.log") || { cat "$work/lab.log"; exit 1; }
save_state
# shellcheck disable=SC1090
. "$lab_env"
ns=$VARNEL_LAB_NS_CLIENT
in_client() { ip netns exec "$ns" "$@"; }

# As systemd would start it, less the file-system confinement: the unit's
# capability bounding set and no new privileges, the defaults for the rest.
bounding=$(sed -n 's/^CapabilityBoundingSet=//p' "$unit" | tr 'A-Z ' 'a-z,' | sed 's/cap_/+/g')
ip netns exec "$ns" setpriv --bounding-set="-all,$bounding" --no-new-privs "$exec_start" </dev/null >"$work/service.log" 2>&1 &
service=$!
check "the service listens on $socket, bounding set $bounding" poll 100 test -S "$socket"

useradd --system --no-create-home --home-dir "$work/home" --gid nogroup --shell /usr/sbin/nologin "$user"
uid=$(id -u "$user")
install -d -m 0700 -o "$user" -g nogroup "$work/home" "$work/home/.config" "$work/home/.config/Morvanta" "$work/runtime"

"$repo/tools/refbackend/make-certs.sh" "$work/certs" "$VARNEL_LAB_SERVER_ADDR" >/dev/null
chmod 0755 "$work/certs" && chmod 0644 "$work/certs/ca.crt"
# The lab's account, an OpenConnect (9001) and an OpenVPN (9002) server on the lab's server.
jq --arg user "$VARNEL_LAB_USER" --arg password "$VARNEL_LAB_PASSWORD" --arg srv "$VARNEL_LAB_SERVER_ADDR" \
  --rawfile t "$VARNEL_LAB_OPENVPN_TEMPLATE" '
  first(.accounts[] | select(.username == "demo")) as $account
  | .accounts = [$account + {username: $user, password: $password, max_devices: 0}]
  | .openvpn_config_template = ($t | rtrimstr("\n") | split("\n"))
  | .servers = [first(.servers[] | select(.type == 2 and .connection_type == 1)) + {ip_id: 9001},
                first(.servers[] | select(.type == 1)) + {ip_id: 9002}]
  | .servers[] += {ip: $srv, ssl_ip: $srv, premium: false}' \
  "$repo/tools/refbackend/demo-data.json" >"$work/data.json"
ip netns exec "$VARNEL_LAB_NS_SERVER" "$build/tools/refbackend/varnel-refbackend" --host "$VARNEL_LAB_SERVER_ADDR" \
  --cert-dir "$work/certs" --data "$work/data.json" </dev/null >"$work/backend.log" 2>&1 &
poll 100 grep -q '^listening on ' "$work/backend.log" || { cat "$work/backend.log"; exit 1; }
api=$(sed -n 's/^listening on //p' "$work/backend.log")
# The client pings its server once a tunnel is up (the round trip it shows).
# Unanswered, that ping lives for its 2 s time-out: long enough to be seen.
ip netns exec "$VARNEL_LAB_NS_SERVER" nft "add table inet vvpkg; add chain inet vvpkg input \
  { type filter hook input priority -5; policy accept; }; add rule inet vvpkg input \
  iifname $VARNEL_LAB_VETH_SERVER ip daddr $VARNEL_LAB_SERVER_ADDR icmp type echo-request drop"

# --- the installed client, as the user ----------------------------------------

# settings SERVER_ID KILL_SWITCH: log in by themselves and connect to the server.
settings() {
  printf '[General]\nServerHash="%s"\nConnectionHash="%s"\nAutoLogin=true\nAutoConncet=true\nActiveServer=%s\nKillSwitch=%s\n' \
    "$(scramble "$VARNEL_LAB_USER")" "$(scramble "$VARNEL_LAB_PASSWORD")" "$1" "$2" >"$work/settings.conf"
  install -m 0600 -o "$user" -g nogroup "$work/settings.conf" "$work/home/.config/Morvanta/VarnelVPN.conf"
}
# Name and capability sets of every thread of the user's processes (the
# client and all it starts), every 20 ms while $work/sampling exists. What
# lives shorter (the tunnel script, mostly) was started by a thread seen here
# without capability, from files without one (checked above): the kernel
# gives it none either.
sample() {
  local pid task key value line
  while [ -e "$work/sampling" ]; do
    for pid in $(pgrep -u "$uid"); do
      for task in /proc/"$pid"/task/*; do
        line=
        while read -r key value; do
          case $key in Name: | CapPrm: | CapEff: | CapAmb:) line+="$key $value " ;; esac
        done 2>/dev/null <"$task/status"
        # A thread that changed or ended while being read leaves part of a line.
        [[ $line != Name:*CapPrm:*CapEff:*CapAmb:* ]] || echo "$line"
      done
    done
    sleep 0.02
  done
}
gone() { [ ! -r "/proc/$1/status" ] || grep -q '^State:[[:space:]]*Z' "/proc/$1/status"; }
# has_all WORDS LIST: every word of WORDS is one of LIST.
has_all() { local w; for w in $1; do [[ " $2 " == *" $w "* ]] || return 1; done; }
device() { ip -n "$ns" -o link show | grep -o 'vvpn[0-9]*' | head -n 1; }
through_tunnel() { in_client ip route get "$VARNEL_LAB_TARGET" | grep -q ' dev vvpn' && in_client ping -c 1 -W 1 "$VARNEL_LAB_TARGET"; }

# run NAME SERVER_ID KILL_SWITCH PROGRAMS: the client connects by itself; the
# tunnel carries traffic; PROGRAMS must be among the user's processes seen.
run() {
  local name=$1 caps=$work/caps-$1 client sampler seen held
  settings "$2" "$3"
  : >"$work/sampling"
  sample >"$caps" &
  sampler=$!
  ip netns exec "$ns" setpriv --reuid="$uid" --regid=nogroup --clear-groups --inh-caps=-all \
    env -i -C "$work/home" HOME="$work/home" USER="$user" LOGNAME="$user" XDG_RUNTIME_DIR="$work/runtime" \
    QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 VARNELVPN_API_BASE="$api" VARNELVPN_CA_FILE="$work/certs/ca.crt" \
    VARNELVPN_WEB_BASE="$api" VARNELVPN_PING_TARGET="$VARNEL_LAB_TARGET" \
    VARNELVPN_DOWNLOAD_PROBE="$api/speedtest/download" VARNELVPN_UPLOAD_PROBE="$api/speedtest/upload" \
    /usr/bin/varnelvpn >"$work/client-$name.log" 2>&1 &
  client=$!
  if poll 400 through_tunnel; then
    ok "$name: the user's client logged in and connected, the target answers through the tunnel"
    check "$name: the service made the device $(device) for the user" \
      sh -c "ip -n $ns -d link show $(device) | grep -Eq 'tun .* user ($user|$uid) '"
    # The first byte counts (after up to 10 s) start the client's ping.
    poll 150 grep -q '^Name: ping ' "$caps"
  else
    not_ok "$name: the user's client logged in and connected, the target answers through the tunnel"
    tail -n 20 "$work/client-$name.log" | cut -c1-200 | sed 's/^/    /'
  fi
  kill -TERM "$client"
  poll 100 gone "$client" || kill -KILL "$client"
  wait "$client"
  rm "$work/sampling"
  wait "$sampler"
  seen=$(sed 's/^Name: \([^ ]*\) .*/\1/' "$caps" | sort -u | tr '\n' ' ')
  held=$(grep -v 'CapPrm: 0000000000000000 CapEff: 0000000000000000 CapAmb: 0000000000000000 $' "$caps" | sort -u)
  check "$name: no capability (CapPrm, CapEff, CapAmb 0) in any thread of the user's processes: $seen${held:+
$held}" test -z "$held"
  check "$name: among them $4" has_all "$4" "$seen"
  check "$name: the client's end removed the tunnel device" poll 20 sh -c "! ip -n $ns link show | grep -q vvpn"
}

run OpenConnect 9001 false "varnelvpn ping"
run OpenVPN 9002 true "varnelvpn openvpn ping"
check "OpenVPN: with the kill switch on, the client's end left the block in place" \
  poll 20 in_client nft list table inet varnelvpn_killswitch
check "service.txt is the service's: root's, 0644, \"KillSwith:ON\"" \
  test "$(stat -c '%U %a' "$data_dir/service.txt"):$(cat "$data_dir/service.txt")" = "root 644:KillSwith:ON"

kill -TERM "$service"
wait "$service"
check "the service stops on SIGTERM with status 0" test $? -eq 0
"$lab" down "$lab_env" >/dev/null 2>&1
lab_env=
save_state

# --- purge --------------------------------------------------------------------

# A block left on the machine itself must go with the package: an empty table
# stands for one (a real block here would cut the machine off).
nft add table inet varnelvpn_killswitch
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq varnelvpn >"$work/purge.log" 2>&1
userdel "$user"
refute "apt-get purge: the package is gone" installed
left=$(diff <(echo "$before") <(machine))
check "apt-get purge: no file, user, group, link, route, nftables table or resolver change is left${left:+:
$left}" test -z "$left"

[ $failures -eq 0 ] || tail -n 20 "$work/service.log" | sed 's/^/    service: /'
echo "package test: $failures failure(s) in $(($(date +%s) - started)) s"
[ $failures -eq 0 ]
