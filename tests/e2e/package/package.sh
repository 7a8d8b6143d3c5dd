#!/usr/bin/env bash
# The Debian package, end to end, on this machine:
#  - builds the package with CPack from BUILD_DIR, checks it with lintian
#    (no errors) and installs it with apt-get;
#  - checks the installed files: the executable with its capability and no
#    set-id bit, desktop entry, icons, kill-switch scripts, group, copyright;
#    a second run of the post-installation script changes nothing;
#  - as an unprivileged user made for the test, starts /usr/bin/varnelvpn in
#    the lab's client namespace (offscreen) with a profile that logs in to the
#    reference backend and connects by itself: OpenConnect, then OpenVPN;
#    each tunnel carries traffic, the kill switch blocks when the client ends
#    and the next start lifts it, and the capability is held only where the
#    client passes it (the session thread, OpenVPN);
#  - the same user cannot make it run anything of their choice with the
#    capability: the client runs with hostile variables (VARNELVPN_OPENVPN,
#    VARNELVPN_DATA_DIR, VARNELVPN_NFT, QT_PLUGIN_PATH, a PATH with a fake
#    nft and ip) throughout, and the backend serves OpenVPN configurations
#    that try plugin, up, status, log-append and a line break smuggled into
#    the server address: nothing of it runs and no file appears;
#  - apt-get purge leaves no file, group or nftables table of the package.
# Whatever happens, the package is purged, the test user removed, the lab
# torn down, and a kill-switch folder and group that a development set-up
# (tools/install-deps.sh) had made are put back. A run killed outright is
# cleaned up by the next one.
#
#   package.sh BUILD_DIR
# Exit status 0 on success, 1 on a failure, 77 when it cannot run here.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../../.." && pwd)
lab=$repo/tools/lab/lab.sh
build=$(cd "${1:?usage: package.sh BUILD_DIR}" && pwd)
# shellcheck source-path=SCRIPTDIR source=../lab/checks.sh
. "$repo/tools/lab/checks.sh"

state_file=/tmp/varnelvpn-package-test.state
data_dir=/var/lib/VarnelVPN
table="inet varnelvpn_killswitch"

skip() { echo "SKIP: $*"; exit 77; }
"$lab" check || exit $?
for tool in cpack apt-get dpkg-deb lintian getcap setpriv useradd userdel jq cc; do
  command -v "$tool" >/dev/null 2>&1 || skip "'$tool' is not installed (tools/install-deps.sh)"
done
[ -f "$build/CPackConfig.cmake" ] && [ -x "$build/tools/refbackend/varnel-refbackend" ] ||
  skip "no build in $build (tools/build.sh)"

installed() { dpkg-query -W -f='${Status}' varnelvpn 2>/dev/null | grep -q "ok installed"; }

# --- leaving the machine as it was -----------------------------------------

# Everything below undoes what the state file says this test did; a run that
# was killed leaves the file for the next run.
restore() {
  [ -r "$state_file" ] || return 0
  local owner work user group_gid had_data
  # shellcheck disable=SC1090
  . "$state_file"
  if installed; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq varnelvpn >/dev/null 2>&1 ||
      echo "could not purge varnelvpn" >&2
  fi
  [ -z "${lab_env:-}" ] || [ ! -e "$lab_env" ] || "$lab" down "$lab_env" >/dev/null 2>&1
  if [ -n "${user:-}" ] && getent passwd "$user" >/dev/null; then
    userdel "$user" 2>/dev/null || echo "could not remove the user $user" >&2
  fi
  if [ -n "${group_gid:-}" ] && ! getent group varnelvpn >/dev/null; then
    groupadd --system --gid "$group_gid" varnelvpn
  fi
  if [ "${had_data:-}" = 1 ] && [ -d "$work/data-before" ] && [ ! -e "$data_dir" ]; then
    cp -a "$work/data-before" "$data_dir"
  fi
  [ -z "${work:-}" ] || rm -rf "$work"
  rm -f "$state_file"
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
had_data=0
if [ -d "$data_dir" ]; then
  had_data=1
  cp -a "$data_dir" "$work/data-before"
fi
lab_env=
save_state() {
  printf 'owner=%s\nwork=%s\nuser=%s\ngroup_gid=%s\nhad_data=%s\nlab_env=%s\n' \
    $$ "$work" "$user" "$group_gid" "$had_data" "$lab_env" >"$state_file"
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

# --- build, lintian, install ------------------------------------------------

mkdir "$work/package"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1; then
  not_ok "cpack builds the package"
  cat "$work/cpack.log"
  exit 1
fi
deb=$(ls "$work"/package/varnelvpn_*_amd64.deb 2>/dev/null | head -n 1)
check "cpack builds varnelvpn_<version>_amd64.deb ($(($(date +%s) - started)) s)" test -f "$deb"
[ -f "$deb" ] || exit 1

lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1
lintian_status=$?
if [ $lintian_status -eq 0 ]; then ok "lintian reports no errors"; else not_ok "lintian reports no errors"; fi
echo "    lintian: $(grep -c '^E:' "$work/lintian.log") errors, $(grep -c '^W:' "$work/lintian.log") warnings"
sed 's/^/    /' "$work/lintian.log"

check "the package depends on openvpn, vpnc-scripts and computed libraries" \
  sh -c "dpkg-deb -f '$deb' Depends | grep -q 'openvpn' && dpkg-deb -f '$deb' Depends | grep -q 'vpnc-scripts' && dpkg-deb -f '$deb' Depends | grep -q 'libqt5widgets5'"

if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >"$work/apt.log" 2>&1; then
  not_ok "apt-get install ./$(basename "$deb")"
  cat "$work/apt.log"
  exit 1
fi
ok "apt-get install ./$(basename "$deb")"
dpkg -L varnelvpn >"$work/files"

check "the executable holds cap_net_admin, permitted only" sh -c "getcap /usr/bin/varnelvpn | grep -q 'cap_net_admin=p$'"
refute "the executable has no set-id bit" sh -c 'test -u /usr/bin/varnelvpn || test -g /usr/bin/varnelvpn'
check "the desktop entry handles varnelvpn: links" grep -qx 'MimeType=x-scheme-handler/varnelvpn;' /usr/share/applications/varnelvpn.desktop
missing_icons=
for size in 16x16 22x22 24x24 32x32 48x48 64x64 128x128 256x256 512x512; do
  [ -f "/usr/share/icons/hicolor/$size/apps/varnelvpn.png" ] || missing_icons="$missing_icons $size"
done
check "icons in every size and as SVG${missing_icons:+ (missing:$missing_icons)}" \
  sh -c "[ -z '$missing_icons' ] && grep -q '<svg' /usr/share/icons/hicolor/scalable/apps/varnelvpn.svg"
check "kill-switch scripts in $data_dir, root's and not writable by others" \
  sh -c "[ \"\$(stat -c '%U %a' $data_dir/block_outbound_except_vpn.sh $data_dir/reset_firewall_rules.sh | sort -u)\" = 'root 755' ]"
check "the group varnelvpn exists" getent group varnelvpn
check "the copyright file names the font licence" grep -q 'License: OFL-1.1' /usr/share/doc/varnelvpn/copyright
snapshot() { getcap /usr/bin/varnelvpn; getent group varnelvpn; stat -c '%n %U %a' "$data_dir"/*; cat "$data_dir/service.txt"; }
first_state=$(snapshot)
check "the post-installation script runs a second time" /var/lib/dpkg/info/varnelvpn.postinst configure
check "  ... and changes nothing" test "$first_state" = "$(snapshot)"

# --- the lab, the backend, the user -----------------------------------------

lab_env=$(VARNEL_LAB_OWNER=$$ "$lab" up 2>"$work/lab.log") || { cat "$work/lab.log"; exit 1; }
save_state
# shellcheck disable=SC1090
. "$lab_env"
export VARNEL_LAB_ENV=$lab_env
ns=$VARNEL_LAB_NS_CLIENT
in_client() { ip netns exec "$ns" "$@"; }

useradd --system --no-create-home --home-dir "$work/home" --gid nogroup --shell /usr/sbin/nologin "$user"
uid=$(id -u "$user")
install -d -m 0700 -o "$user" -g nogroup "$work/home" "$work/home/.config" "$work/home/.config/Morvanta" "$work/runtime"

"$repo/tools/refbackend/make-certs.sh" "$work/certs" "$VARNEL_LAB_SERVER_ADDR" >/dev/null
chmod 0755 "$work/certs" && chmod 0644 "$work/certs/ca.crt"

# Files the hostile parts would make if anything ran them.
evil=$work/evil
marks=$work/marks
mkdir -p "$evil/plugins" "$marks"
chmod 0777 "$marks"
cc -shared -fPIC -x c -o "$evil/plugin.so" - 2>"$work/cc.log" <<EOF || { cat "$work/cc.log"; exit 1; }
#include <stdio.h>
__attribute__((constructor)) static void mark(void) { fclose(fopen("$marks/plugin", "w")); }
EOF
for program in openvpn nft ip up block_outbound_except_vpn.sh reset_firewall_rules.sh; do
  printf '#!/bin/sh\ngrep CapEff /proc/self/status >"%s/%s"\n' "$marks" "$program" >"$evil/$program"
  chmod 0755 "$evil/$program"
done

# The lab's accounts and servers in the reference backend's data: an
# OpenConnect and an OpenVPN server on the lab's server, then OpenVPN servers
# whose configuration (or address) tries to run or write something.
template=$(cat "$VARNEL_LAB_OPENVPN_TEMPLATE")
hostile=$(jq -n --arg t "$template" --arg evil "$evil" --arg marks "$marks" --arg srv "$VARNEL_LAB_SERVER_ADDR" '[
  {id: 9101, name: "plugin", config: ($t + "\nplugin \($evil)/plugin.so\n")},
  {id: 9102, name: "up", config: ($t + "\nscript-security 2\nup \($evil)/up\n")},
  {id: 9103, name: "status", config: ($t + "\nstatus \($marks)/status\n")},
  {id: 9104, name: "log-append", config: ($t + "\nlog-append \($marks)/log-append\n")},
  {id: 9105, name: "line break in the address", ip: "\($srv)\nscript-security 2\nup \($evil)/up\n#"}
]')
jq --arg user "$VARNEL_LAB_USER" --arg password "$VARNEL_LAB_PASSWORD" --arg t "$template" \
  --arg srv "$VARNEL_LAB_SERVER_ADDR" --argjson hostile "$hostile" '
  first(.accounts[] | select(.username == "demo")) as $account
  | first(.servers[] | select(.type == 2 and .connection_type == 1)) as $oc
  | first(.servers[] | select(.type == 1)) as $ov
  | .accounts = [$account + {username: $user, password: $password, max_devices: 0}]
  | .openvpn_config_template = ($t | split("\n"))
  | .servers = [$oc + {ip_id: 9001, ip: $srv, ssl_ip: $srv, premium: false},
                $ov + {ip_id: 9002, ip: $srv, ssl_ip: $srv, premium: false}]
      + [$hostile[] | $ov + {ip_id: .id, ip: (.ip // $srv), ssl_ip: $srv, premium: false}
                        + (if .config then {config: (.config | @base64)} else {} end)]' \
  "$repo/tools/refbackend/demo-data.json" >"$work/data.json"
ip netns exec "$VARNEL_LAB_NS_SERVER" "$build/tools/refbackend/varnel-refbackend" --host "$VARNEL_LAB_SERVER_ADDR" \
  --cert-dir "$work/certs" --data "$work/data.json" </dev/null >"$work/backend.log" 2>&1 &
poll 100 grep -q '^listening on ' "$work/backend.log" || { cat "$work/backend.log"; exit 1; }
api=$(sed -n 's/^listening on //p' "$work/backend.log")
logins() { in_client curl -s --cacert "$work/certs/ca.crt" "$api/_control/counts" | jq '."/api/login.php" // 0'; }
logged_in_since() { [ "$(logins)" -gt "$1" ]; }

# --- the client, as the user ------------------------------------------------

# settings SERVER_ID KILL_SWITCH: logs in by itself and connects to the
# server; the client's other settings (the backend's endpoints) stay.
settings() {
  local file=$work/home/.config/Morvanta/VarnelVPN.conf
  {
    echo "[General]"
    echo "ServerHash=\"$(scramble "$VARNEL_LAB_USER")\""
    echo "ConnectionHash=\"$(scramble "$VARNEL_LAB_PASSWORD")\""
    echo "AutoLogin=true"
    echo "AutoConncet=true"
    echo "ActiveServer=$1"
    echo "KillSwitch=$2"
    [ ! -e "$file" ] || grep -Ev '^(\[General\]|ServerHash|ConnectionHash|AutoLogin|AutoConncet|ActiveServer|KillSwitch)=?' "$file"
  } >"$work/settings.new"
  install -m 0600 -o "$user" -g nogroup "$work/settings.new" "$file"
}

client=
# Starts the installed client as the user, with every hostile variable set.
start_client() {
  "$lab" exec setpriv --reuid="$uid" --regid=nogroup --clear-groups --inh-caps=-all \
    env -i HOME="$work/home" USER="$user" LOGNAME="$user" XDG_RUNTIME_DIR="$work/runtime" \
    QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 \
    VARNELVPN_API_BASE="$api" VARNELVPN_CA_FILE="$work/certs/ca.crt" VARNELVPN_WEB_BASE="$api" \
    VARNELVPN_PING_TARGET="$VARNEL_LAB_TARGET" \
    VARNELVPN_DOWNLOAD_PROBE="$api/speedtest/download" VARNELVPN_UPLOAD_PROBE="$api/speedtest/upload" \
    VARNELVPN_OPENVPN="$evil/openvpn" VARNELVPN_DATA_DIR="$evil" VARNELVPN_NFT="$evil/nft" \
    QT_PLUGIN_PATH="$evil/plugins" PATH="$evil:/usr/bin:/bin" \
    sh -c 'cd "$HOME" && exec /usr/bin/varnelvpn' >>"$work/client.log" 2>&1 &
  client=$!
}
alive() { [ -r "/proc/$1/status" ] && ! grep -q '^State:[[:space:]]*[ZX]' "/proc/$1/status"; }
gone() { ! alive "$1"; }
stop_client() {
  kill -TERM "$client" 2>/dev/null
  poll 150 gone "$client" || kill -KILL "$client" 2>/dev/null
  wait "$client" 2>/dev/null
  client=
}
children() { ps --ppid "$client" -o pid= 2>/dev/null | tr -d " "; }
# status FIELD PID [TASK]
status_of() { sed -n "s/^$1:[[:space:]]*//p" "/proc/$2/task/${3:-$2}/status" 2>/dev/null; }
through_tunnel() { in_client ip route get "$VARNEL_LAB_TARGET" | grep -q ' dev tun' && in_client ping -c 1 -W 1 "$VARNEL_LAB_TARGET"; }
blocked() { in_client nft list table $table >/dev/null 2>&1 && ! in_client ping -c 1 -W 1 "$VARNEL_LAB_SERVER_ADDR"; }
marks_left() { ls "$marks"; }
# The end of the client's console output, long lines cut.
client_log() { tail -n 25 "$work/client.log" | cut -c1-200 | sed 's/^/    /'; }

# Hostile configurations first, while nothing blocks the way to the backend.
for id in $(jq '.[].id' <<<"$hostile"); do
  name=$(jq -r --argjson id "$id" '.[] | select(.id == $id) | .name' <<<"$hostile")
  rm -f "$work/home/.local/state/VarnelVPN/bundile"
  settings "$id" false
  count=$(logins)
  start_client
  seen=
  if poll 200 logged_in_since "$count"; then
    # OpenVPN would be running within a fraction of a second of the login.
    for _ in $(seq 50); do
      [ -n "$(children)" ] && seen=$(children | head -n 1) && break
      sleep 0.1
    done
    check "hostile configuration ($name): no OpenVPN started, nothing written${seen:+ (process $seen)}" \
      eval "[ -z '$seen' ] && [ -z \"\$(marks_left)\" ] && alive $client"
  else
    not_ok "hostile configuration ($name): the client logged in"
  fi
  stop_client
done

# connect_run NAME SERVER_ID WHAT: the client, with the kill switch on, logs in
# and connects by itself; true when the target answers through the tunnel.
connect_run() {
  settings "$2" true
  start_client
  if poll 400 through_tunnel; then
    ok "$1: $3, the target answers through the tunnel"
    refute "$1: no kill-switch block while connected" in_client nft list table $table
    return 0
  fi
  not_ok "$1: $3, the target answers through the tunnel"
  client_log
  return 1
}
# end_run NAME: the client's end (as at a session's end) leaves the block on.
end_run() {
  stop_client
  check "$1: the client's end blocks all traffic outside a tunnel (kill switch)" blocked
}

rm -f "$work/home/.local/state/VarnelVPN/bundile"
if connect_run OpenConnect 9001 "the user's client logged in and connected"; then
  main_eff=$(status_of CapEff "$client")
  main_prm=$(status_of CapPrm "$client")
  session_threads=$(for task in /proc/"$client"/task/*; do status_of CapEff "$client" "${task##*/}"; done | grep -c 1000)
  check "OpenConnect: the window's thread holds nothing (CapEff $main_eff, CapPrm $main_prm), one thread CAP_NET_ADMIN" \
    test "$main_eff:$main_prm:$session_threads" = "0000000000000000:0000000000001000:1"
  check "OpenConnect: the client runs as the user" test "$(status_of Uid "$client" | cut -f2)" = "$uid"
fi
end_run OpenConnect
refute "OpenConnect: the tunnel script's route to the server went with the tunnel" \
  sh -c "ip -n $ns route show $VARNEL_LAB_SERVER_ADDR | grep -q ."

# The next start lifts the block before it connects (logged in from the cache).
if connect_run OpenVPN 9002 "the user's client lifted the block and connected"; then
  openvpn=$(children | head -n 1)
  check "OpenVPN: only the started OpenVPN holds CAP_NET_ADMIN (CapEff $(status_of CapEff "$openvpn"))" \
    test "$(status_of CapEff "$openvpn"):$(status_of CapEff "$client")" = "0000000000001000:0000000000000000"
  check "OpenVPN: it is /usr/sbin/openvpn, run as the user" \
    test "$(readlink "/proc/$openvpn/exe"):$(status_of Uid "$openvpn" | cut -f2)" = "/usr/sbin/openvpn:$uid"
  check "OpenVPN: its environment holds none of the caller's hostile variables" \
    sh -c "tr '\\0' '\\n' </proc/$openvpn/environ | grep -qx 'PATH=/usr/sbin:/usr/bin:/sbin:/bin' && ! tr '\\0' '\\n' </proc/$openvpn/environ | grep -q 'QT_PLUGIN_PATH\\|VARNELVPN_OPENVPN\\|VARNELVPN_NFT\\|VARNELVPN_DATA_DIR\\|$evil'"
fi
end_run OpenVPN
check "nothing of the caller's programs, plugins or configuration ran" test -z "$(marks_left)"
[ -z "$(marks_left)" ] || head -n 3 "$marks"/* | sed 's/^/    /'

check "the package's desktop entry handles the scheme; the client wrote no entry of its own" \
  sh -c "[ ! -e '$work/home/.local/share/applications/varnelvpn-url.desktop' ] \
    && grep -qx 'x-scheme-handler/varnelvpn=varnelvpn.desktop;' '$work/home/.config/mimeapps.list'"

# The tunnel script as the client runs it (the user, CAP_NET_ADMIN ambient,
# /run/vpnc not writable), for a server that takes the default route: the
# package's hooks keep the script's state in the user's runtime folder, so
# the disconnect gives the default route back.
vpnc_script() {
  "$lab" exec setpriv --reuid="$uid" --regid=nogroup --clear-groups --inh-caps=+net_admin --ambient-caps=+net_admin \
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin XDG_RUNTIME_DIR="$work/runtime" reason="$1" TUNDEV=vvhook0 \
    INTERNAL_IP4_ADDRESS=10.213.77.2 VPNGATEWAY="$VARNEL_LAB_SERVER_ADDR" VPNPID=4242 \
    /usr/share/vpnc-scripts/vpnc-script >>"$work/vpnc.log" 2>&1
}
in_client ip route add default via "$VARNEL_LAB_SERVER_ADDR"
in_client ip tuntap add dev vvhook0 mode tun user "$uid"
vpnc_script connect
check "tunnel script as the user: the full tunnel takes the default route" \
  sh -c "ip -n $ns route show default | grep -q 'dev vvhook0'"
vpnc_script disconnect
check "tunnel script as the user: the disconnect gives the default route back" \
  sh -c "ip -n $ns route show default | grep -q 'via $VARNEL_LAB_SERVER_ADDR'"

"$lab" down "$lab_env" >/dev/null 2>&1
lab_env=
save_state

# --- purge --------------------------------------------------------------------

# A block left on the machine itself must go with the package: an empty
# table stands for one (a real block here would cut the machine off).
nft add table $table
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq varnelvpn >"$work/purge.log" 2>&1
refute "apt-get purge: the package is gone" installed
left=$(while read -r f; do [ -d "$f" ] || [ ! -e "$f" ] || echo "$f"; done <"$work/files")
check "apt-get purge: none of its files is left${left:+ (left: $left)}" test -z "$left"
refute "apt-get purge: $data_dir is gone" test -e "$data_dir"
refute "apt-get purge: the group varnelvpn is gone" getent group varnelvpn
refute "apt-get purge: the kill-switch table is gone" nft list table $table

echo "package test: $failures failure(s) in $(($(date +%s) - started)) s"
[ $failures -eq 0 ]
