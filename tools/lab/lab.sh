#!/usr/bin/env bash
# VPN lab for the end-to-end tests: a server and a client network namespace
# joined by a veth pair, with a real ocserv (AnyConnect) and a real OpenVPN
# server in the server namespace and an iperf3 server on a target address
# that the client namespace can reach only through a tunnel.
#
# Nothing here touches the host's routes, addresses, DNS or firewall: all
# addresses, routes and nftables rules live inside the two namespaces, and
# /etc/netns/<client namespace>/resolv.conf keeps the host's resolver file
# out of reach of any DNS push.
#
# Usage:
#   lab.sh check                 exit 77 with the reason when no lab can run here
#   lab.sh up                    build a lab owned by the calling process and
#                                print the path of its environment file
#   lab.sh down [ENVFILE]        tear a lab down (default: $VARNEL_LAB_ENV)
#   lab.sh kill SERVER [SIGNAL]  stop ocserv, openvpn or iperf3 of the lab in
#                                $VARNEL_LAB_ENV (default signal TERM); returns
#                                once every process of that server is gone
#   lab.sh start SERVER          start it again (same keys and credentials)
#   lab.sh pid SERVER            print the current process id of that server
#   lab.sh exec COMMAND...       run a command in the client namespace of the
#                                lab in $VARNEL_LAB_ENV, as run-in-lab.sh does
#   lab.sh service start|stop [SIGNAL]
#                                start the VarnelVPN service of the lab (the
#                                program in VARNEL_LAB_SERVICE), or stop it
#   lab.sh blocking              exit 0 while the kill switch blocks the client
#                                namespace
#   lab.sh extra-ocserv start PORT DEVICE NETWORK [GROUP,...]
#   lab.sh extra-ocserv stop PORT
#                                a further ocserv beside the lab's own, on
#                                another port with a fresh key of its own on
#                                every start (and authentication groups);
#                                its log is $LAB_DIR/extra-PORT/ocserv.log
#   lab.sh agent                 serve the commands above to a test that runs
#                                as the lab user (see lab_agent)
#   lab.sh leaks | client-state | link down|up | remove-device NAME
#                                the full-tunnel mode's commands (fulltunnel.sh)
#   lab.sh cleanup-stale         remove what dead labs of this project left
#   lab.sh host-state            print what no lab may change on the host
#   lab.sh leftovers ID          print what is left of lab ID (nothing when gone)
#
# A lab is owned by one process (its id is that process id). When the owner
# is gone the lab counts as stale and the next `up` or `cleanup-stale`
# removes it. run-in-lab.sh sources this file and owns the lab itself.

set -euo pipefail

LAB_PREFIX=vvlab
LAB_STATE_BASE=/tmp
LAB_SCRIPT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")
LAB_REPO=$(cd "$(dirname "$LAB_SCRIPT")/../.." && pwd)

# A /30 between the namespaces, a target only the server holds, one address
# pool per server. These addresses exist only inside the lab's namespaces.
LAB_SERVER_ADDR=10.213.0.1
LAB_CLIENT_ADDR=10.213.0.2
LAB_LINK_PREFIX=30
LAB_TARGET=10.213.9.1
LAB_OCSERV_NETWORK=10.213.4.0
LAB_OPENVPN_NETWORK=10.213.5.0
LAB_OCSERV_PORT=443
LAB_OPENVPN_PORT=1194
LAB_IPERF_PORT=5201

# The good password holds a blank, a double quote and a backslash so that
# every quoting layer between the client and the servers gets exercised.
LAB_USER=varnel-lab
LAB_PASSWORD='Lab pass "7\x'
LAB_BAD_PASSWORD='wrong-password'
# A second account whose password is not Latin-1: clients must send UTF-8.
LAB_UTF8_USER=varnel-utf8
LAB_UTF8_PASSWORD='pässwörd€'

LAB_SERVERS="ocserv openvpn iperf3"

# The users the client runs as in the lab: plain numbers, no accounts
# (nothing the client starts looks its user up). The second stands for
# another user of the same machine.
LAB_UID=64321
LAB_OTHER_UID=64322
# The VarnelVPN service to run in the client namespace (root), when set.
LAB_SERVICE_BIN=${VARNEL_LAB_SERVICE:-}

# Set by a script that sources this file before lab_up (the demo does):
#  LAB_EXTRA_ACCOUNTS   more "user:password" accounts that both servers accept
#  LAB_SERVER_ALIASES   more addresses of the server (outside the lab's own
#                       10.213.0-9 networks), their /24 networks routed from
#                       the client namespace over the link; both servers
#                       listen on them
LAB_EXTRA_ACCOUNTS=(${LAB_EXTRA_ACCOUNTS[@]+"${LAB_EXTRA_ACCOUNTS[@]}"})
LAB_SERVER_ALIASES=(${LAB_SERVER_ALIASES[@]+"${LAB_SERVER_ALIASES[@]}"})
LAB_CREATED=
# shellcheck source-path=SCRIPTDIR source=fulltunnel.sh
. "$(dirname "$LAB_SCRIPT")/fulltunnel.sh"

lab_say() { echo "lab: $*" >&2; }
lab_die() { lab_say "$*"; exit 1; }

# Sets the names and paths of lab $1.
lab_names() {
  LAB_ID=$1
  LAB_NAME=$LAB_PREFIX$LAB_ID
  LAB_NS_SERVER=$LAB_NAME-srv
  LAB_NS_CLIENT=$LAB_NAME-cli
  LAB_VETH_SERVER=vvl${LAB_ID}s
  LAB_VETH_CLIENT=vvl${LAB_ID}c
  LAB_DIR=$LAB_STATE_BASE/$LAB_NAME
}

# --- processes --------------------------------------------------------------

# True while process $1 exists and is not a zombie.
lab_alive() {
  local state
  [ -r "/proc/$1/stat" ] || return 1
  state=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1) || return 1
  [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

lab_start_time() {
  sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20
}

# Waits until none of the given processes is alive; false after $1 tenths of a second.
lab_wait_gone() {
  local tenths=$1 pid alive
  shift
  while :; do
    alive=0
    for pid in "$@"; do
      if lab_alive "$pid"; then alive=1; break; fi
    done
    [ $alive -eq 0 ] && return 0
    [ "$tenths" -le 0 ] && return 1
    tenths=$((tenths - 1))
    sleep 0.1
  done
}

# Ends the given processes: TERM, then KILL for those still alive after $1 tenths of a second.
lab_end_pids() {
  local grace=$1
  shift
  [ $# -gt 0 ] || return 0
  kill -TERM "$@" 2>/dev/null || true
  lab_wait_gone "$grace" "$@" && return 0
  kill -KILL "$@" 2>/dev/null || true
  lab_wait_gone 20 "$@" || lab_say "processes still alive: $*"
}

# This shell and its ancestors: never ended by a teardown run from inside a lab.
lab_own_chain() {
  local p=$BASHPID
  while [ -n "$p" ] && [ "$p" -gt 1 ]; do
    echo "$p"
    p=$(ps -o ppid= -p "$p" 2>/dev/null | tr -d ' ')
  done
}

lab_ns_exists() { [ -e "/run/netns/$1" ]; }

# What a lab must never change on the host, for a before/after comparison.
lab_host_state() {
  ip route show table all
  ip -6 route show table all
  ip addr | grep -v '_lft'
  ip -o link | cut -d' ' -f2
  nft list ruleset
  cat /etc/resolv.conf
}

# Everything that lab $1 may leave behind; empty when it is gone.
lab_leftovers() {
  local id=$1
  ip netns list | grep -E "^$LAB_PREFIX$id-" || true
  ip -o link | grep -E "vvl${id}[sc]" || true
  ls -d "$LAB_STATE_BASE/$LAB_PREFIX$id" "/etc/netns/$LAB_PREFIX$id-"* 2>/dev/null || true
}

# Process ids of everything that lives in the given namespaces (all of it
# was started for the lab), leaving out this shell and its ancestors.
lab_ns_pids() {
  local ns own pid
  own=" $(lab_own_chain | tr '\n' ' ') "
  for ns in "$@"; do
    lab_ns_exists "$ns" || continue
    for pid in $(ip netns pids "$ns" 2>/dev/null); do
      case $own in *" $pid "*) ;; *) echo "$pid" ;; esac
    done
  done
}

# --- checks -----------------------------------------------------------------

lab_skip() { echo "lab: SKIP: $*" >&2; exit 77; }

lab_check() {
  local tool probe
  [ "$(id -u)" -eq 0 ] || lab_skip "needs root (network namespaces, tun devices)"
  for tool in ip nft openssl ocserv ocpasswd openvpn iperf3 ss ping timeout; do
    command -v "$tool" >/dev/null 2>&1 || lab_skip "'$tool' is not installed (tools/install-deps.sh)"
  done
  [ -c /dev/net/tun ] || lab_skip "/dev/net/tun is missing"
  probe=$LAB_PREFIX$$-probe
  ip netns add "$probe" 2>/dev/null || lab_skip "network namespaces are unavailable here"
  ip netns del "$probe" 2>/dev/null || true
}

# --- stale labs -------------------------------------------------------------

# True while the owner of lab $1 runs (same process, same start time).
lab_owner_alive() {
  local id=$1 recorded
  lab_alive "$id" || return 1
  if [ -r "$LAB_STATE_BASE/$LAB_PREFIX$id/owner" ]; then
    recorded=$(cut -d' ' -f2 "$LAB_STATE_BASE/$LAB_PREFIX$id/owner")
    [ "$recorded" = "$(lab_start_time "$id")" ] || return 1
  fi
  return 0
}

lab_known_ids() {
  {
    ip netns list 2>/dev/null | cut -d' ' -f1
    ls -1 "$LAB_STATE_BASE" 2>/dev/null
    ls -1 /etc/netns 2>/dev/null
  } | sed -n "s/^$LAB_PREFIX\([0-9][0-9]*\)\(-srv\|-cli\|-probe\)\{0,1\}\$/\1/p" | sort -u
}

lab_cleanup_stale() {
  local id
  for id in $(lab_known_ids); do
    lab_owner_alive "$id" && continue
    lab_say "removing stale lab $LAB_PREFIX$id"
    lab_teardown "$id"
  done
  lab_release_host_dir /etc/netns
  lab_release_host_dir /run/vpnc
}

# --- teardown ---------------------------------------------------------------

lab_teardown() {
  lab_names "$1"
  local ns
  # The namespaces go away: nobody needs a graceful goodbye, so a second is plenty.
  # shellcheck disable=SC2046
  lab_end_pids 10 $(lab_ns_pids "$LAB_NS_CLIENT" "$LAB_NS_SERVER")
  for ns in "$LAB_NS_CLIENT" "$LAB_NS_SERVER" "$LAB_NAME-probe"; do
    if lab_ns_exists "$ns"; then
      ip netns del "$ns" 2>/dev/null || lab_say "could not delete namespace $ns"
    fi
    rm -rf "/etc/netns/$ns"
  done
  rm -rf "$LAB_DIR"
  lab_release_host_dir /etc/netns
  lab_release_host_dir /run/vpnc
}

# Host directories the lab needs (/etc/netns for the resolver files, /run/vpnc
# as the mount point of each lab's private vpnc-script state) are created only
# when missing, marked, and removed again by the last lab to go.
LAB_HOST_MARK=.varnel-lab-created

lab_claim_host_dir() {
  if mkdir -m 0755 "$1" 2>/dev/null; then
    : >"$1/$LAB_HOST_MARK"
  fi
}

lab_release_host_dir() {
  [ -e "$1/$LAB_HOST_MARK" ] || return 0
  ip netns list 2>/dev/null | grep -q "^${LAB_PREFIX}[0-9]*-" && return 0
  rm -f "$1/$LAB_HOST_MARK"
  rmdir "$1" 2>/dev/null || true
}

# --- key material -----------------------------------------------------------

lab_make_pki() {
  local pki=$LAB_DIR/pki
  mkdir -m 0700 "$pki"
  cat >"$pki/openssl.cnf" <<EOF
[req]
distinguished_name = dn
prompt = no
[dn]
CN = VarnelVPN lab
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyAgreement
extendedKeyUsage = serverAuth
subjectAltName = IP:$LAB_SERVER_ADDR
subjectKeyIdentifier = hash
EOF
  local key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
  # Self-signed certificate for ocserv: the client pins its key.
  openssl req -x509 -config "$pki/openssl.cnf" -extensions server_ext "${key[@]}" -days 2 \
    -subj "/CN=$LAB_SERVER_ADDR" -keyout "$pki/ocserv.key" -out "$pki/ocserv.crt" 2>/dev/null
  # A CA and a server certificate for OpenVPN: the client verifies the chain.
  openssl req -x509 -config "$pki/openssl.cnf" -extensions ca_ext "${key[@]}" -days 2 \
    -subj "/CN=VarnelVPN lab CA" -keyout "$pki/ca.key" -out "$pki/ca.crt" 2>/dev/null
  openssl req -new -config "$pki/openssl.cnf" "${key[@]}" \
    -subj "/CN=$LAB_SERVER_ADDR" -keyout "$pki/openvpn.key" -out "$pki/openvpn.csr" 2>/dev/null
  openssl x509 -req -in "$pki/openvpn.csr" -CA "$pki/ca.crt" -CAkey "$pki/ca.key" -set_serial 2 -days 2 \
    -extfile "$pki/openssl.cnf" -extensions server_ext -out "$pki/openvpn.crt" 2>/dev/null
  LAB_OCSERV_PIN=pin-sha256:$(openssl x509 -in "$pki/ocserv.crt" -pubkey -noout |
    openssl pkey -pubin -outform der | openssl dgst -sha256 -binary | openssl base64 -A)
}

# --- servers ----------------------------------------------------------------

lab_configure_ocserv() {
  local d=$LAB_DIR/ocserv
  # Workers run as nobody: the directory must be traversable, the password file readable.
  mkdir -m 0711 "$d"
  printf '%s\n' "$LAB_PASSWORD" | ocpasswd -c "$d/passwd" "$LAB_USER"
  printf '%s\n' "$LAB_UTF8_PASSWORD" | ocpasswd -c "$d/passwd" "$LAB_UTF8_USER"
  local account
  for account in ${LAB_EXTRA_ACCOUNTS[@]+"${LAB_EXTRA_ACCOUNTS[@]}"}; do
    printf '%s\n' "${account#*:}" | ocpasswd -c "$d/passwd" "${account%%:*}"
  done
  chmod 0644 "$d/passwd"
  # With more addresses than one it listens on all of them.
  local listen="listen-host = $LAB_SERVER_ADDR"
  [ ${#LAB_SERVER_ALIASES[@]} -eq 0 ] || listen="# listen-host: every address"
  cat >"$d/ocserv.conf" <<EOF
auth = "plain[passwd=$d/passwd]"
$listen
tcp-port = $LAB_OCSERV_PORT
udp-port = $LAB_OCSERV_PORT
run-as-user = nobody
run-as-group = nogroup
socket-file = $d/ocserv.sock
occtl-socket-file = $d/occtl.sock
pid-file = $d/ocserv.pid
server-cert = $LAB_DIR/pki/ocserv.crt
server-key = $LAB_DIR/pki/ocserv.key
isolate-workers = true
max-clients = 16
max-same-clients = 0
rate-limit-ms = 0
max-ban-score = 0
keepalive = 32400
dpd = 10
mobile-dpd = 10
switch-to-tcp-timeout = 25
try-mtu-discovery = false
tls-priorities = "NORMAL:%SERVER_PRECEDENCE:%COMPAT:-VERS-SSL3.0:-VERS-TLS1.0:-VERS-TLS1.1"
auth-timeout = 240
cookie-timeout = 300
deny-roaming = false
rekey-time = 172800
rekey-method = ssl
use-occtl = true
log-level = 1
device = vvoc
predictable-ips = true
ipv4-network = $LAB_OCSERV_NETWORK
ipv4-netmask = 255.255.255.0
route = $LAB_TARGET/255.255.255.255
ping-leases = false
cisco-client-compat = true
dtls-legacy = true
EOF
}

lab_configure_openvpn() {
  local d=$LAB_DIR/openvpn
  mkdir -m 0700 "$d" "$d/tmp"
  # OpenVPN hands the verifier a file with the user name and the password on two lines.
  printf '%s\n%s\n' "$LAB_USER" "$LAB_PASSWORD" >"$d/credentials"
  printf '%s\n%s\n' "$LAB_UTF8_USER" "$LAB_UTF8_PASSWORD" >"$d/credentials-utf8"
  local account n=0
  for account in ${LAB_EXTRA_ACCOUNTS[@]+"${LAB_EXTRA_ACCOUNTS[@]}"}; do
    n=$((n + 1))
    printf '%s\n%s\n' "${account%%:*}" "${account#*:}" >"$d/credentials-extra$n"
  done
  cat >"$d/verify.sh" <<'EOF'
#!/bin/sh
here=$(dirname "$0")
for known in "$here"/credentials*; do
  cmp -s "$1" "$known" && exit 0
done
exit 1
EOF
  chmod 0700 "$d/verify.sh"
  # With more addresses than one, every answer leaves from the address its
  # request came to.
  local listen="local $LAB_SERVER_ADDR"
  [ ${#LAB_SERVER_ALIASES[@]} -eq 0 ] || listen=multihome
  cat >"$d/server.conf" <<EOF
dev tun
proto udp
$listen
port $LAB_OPENVPN_PORT
topology subnet
server $LAB_OPENVPN_NETWORK 255.255.255.0
push "route $LAB_TARGET 255.255.255.255"
keepalive 2 10
explicit-exit-notify 1
ca $LAB_DIR/pki/ca.crt
cert $LAB_DIR/pki/openvpn.crt
key $LAB_DIR/pki/openvpn.key
dh none
verify-client-cert none
username-as-common-name
duplicate-cn
script-security 2
auth-user-pass-verify $d/verify.sh via-file
tmp-dir $d/tmp
verb 3
EOF
  # What the client receives from the backend: the placeholders are filled in
  # with the server's address and port by the client itself.
  {
    echo "client"
    echo "dev tun"
    echo "proto udp"
    echo "remote remoteIP remotePort"
    echo "nobind"
    echo "remote-cert-tls server"
    echo "auth-user-pass"
    echo "verb 3"
    echo "<ca>"
    cat "$LAB_DIR/pki/ca.crt"
    echo "</ca>"
  } >"$LAB_DIR/client-template.ovpn"
}

# Starts server $1 in the server namespace as a child of this shell.
lab_start() {
  local server=$1 pid
  mkdir -p "$LAB_DIR/run"
  # Readiness is read from the log: a restart begins a fresh one.
  [ ! -e "$LAB_DIR/$server.log" ] || mv "$LAB_DIR/$server.log" "$LAB_DIR/$server.log.old"
  case $server in
    ocserv)
      ip netns exec "$LAB_NS_SERVER" ocserv -f -c "$LAB_DIR/ocserv/ocserv.conf" \
        </dev/null >>"$LAB_DIR/ocserv.log" 2>&1 &
      ;;
    openvpn)
      ip netns exec "$LAB_NS_SERVER" openvpn --cd "$LAB_DIR/openvpn" --config server.conf \
        </dev/null >>"$LAB_DIR/openvpn.log" 2>&1 &
      ;;
    iperf3)
      ip netns exec "$LAB_NS_SERVER" iperf3 -s -B "$LAB_TARGET" -p "$LAB_IPERF_PORT" \
        </dev/null >>"$LAB_DIR/iperf3.log" 2>&1 &
      ;;
  esac
  pid=$!
  # Out of the job table: no "Killed" notices from this shell at teardown.
  disown "$pid"
  echo "$pid" >"$LAB_DIR/run/$server.pid"
}

lab_known_server() {
  case " $LAB_SERVERS " in
    *" $1 "*) ;;
    *) lab_die "unknown server '$1' (one of: $LAB_SERVERS)" ;;
  esac
}

lab_pid() { cat "$LAB_DIR/run/$1.pid" 2>/dev/null || true; }

lab_listening() {
  [ -n "$(ip netns exec "$LAB_NS_SERVER" ss -Hn "$1" "sport = :$2" 2>/dev/null)" ]
}

lab_ready() {
  case $1 in
    ocserv) lab_listening -lt "$LAB_OCSERV_PORT" ;;
    openvpn) grep -q 'Initialization Sequence Completed' "$LAB_DIR/openvpn.log" 2>/dev/null ;;
    iperf3) lab_listening -lt "$LAB_IPERF_PORT" ;;
  esac
}

# Waits until every named server serves; dies with its log when one exits.
lab_wait_ready() {
  local tenths=150 server pending
  while :; do
    pending=
    for server in "$@"; do
      lab_alive "$(lab_pid "$server")" || { tail -n 20 "$LAB_DIR/$server.log" >&2; lab_die "$server exited"; }
      lab_ready "$server" || pending="$pending $server"
    done
    [ -z "$pending" ] && return 0
    [ $tenths -le 0 ] && lab_die "not ready after 15 s:$pending"
    tenths=$((tenths - 1))
    sleep 0.1
  done
}

# Stops server $1 with signal $2 and waits until all its processes are gone
# (ocserv's workers too, whatever the signal did to the main process).
lab_kill() {
  local server=$1 signal=${2:-TERM} pid pids=() p
  pid=$(lab_pid "$server")
  [ -n "$pid" ] || lab_die "no $server in lab $LAB_NAME"
  if lab_alive "$pid"; then
    kill -s "$signal" "$pid"
    lab_wait_gone 50 "$pid" || lab_end_pids 0 "$pid"
  fi
  for p in $(ip netns pids "$LAB_NS_SERVER" 2>/dev/null); do
    case $(cat "/proc/$p/comm" 2>/dev/null) in "$server"*) pids+=("$p") ;; esac
  done
  [ ${#pids[@]} -eq 0 ] || kill -KILL "${pids[@]}" 2>/dev/null || true
  [ ${#pids[@]} -eq 0 ] || lab_wait_gone 30 "${pids[@]}" || lab_die "$server processes survive: ${pids[*]}"
}

lab_restart() {
  lab_alive "$(lab_pid "$1")" && lab_die "$1 is running"
  lab_start "$1"
  lab_wait_ready "$1"
}

# --- the VarnelVPN service -------------------------------------------------

# Starts the service in the client namespace, as the package's unit would,
# with its socket, data directory (the kill-switch scripts of this tree) and
# settings in the lab; returns once it listens.
lab_service_start() {
  local d=$LAB_DIR/svc tenths=150 pid
  [ -n "$LAB_SERVICE_BIN" ] || lab_die "no service program (VARNEL_LAB_SERVICE)"
  [ -d "$d" ] || {
    mkdir -m 0755 "$d"
    "$LAB_REPO/packaging/killswitch/install.sh" "$d/data" >/dev/null
    : >"$d/service.conf"
  }
  [ -e "$LAB_DIR/run/service.pid" ] && lab_alive "$(cat "$LAB_DIR/run/service.pid")" && lab_die "the service runs"
  rm -f "$d/control"
  ip netns exec "$LAB_NS_CLIENT" "$LAB_SERVICE_BIN" --socket "$d/control" --data-dir "$d/data" \
    --config "$d/service.conf" </dev/null >>"$LAB_DIR/service.log" 2>&1 &
  pid=$!
  disown "$pid"
  echo "$pid" >"$LAB_DIR/run/service.pid"
  until [ -S "$d/control" ]; do
    lab_alive "$pid" || { tail -n 20 "$LAB_DIR/service.log" >&2; lab_die "the service exited"; }
    [ $tenths -le 0 ] && lab_die "the service does not listen after 15 s"
    tenths=$((tenths - 1))
    sleep 0.1
  done
}

lab_service_stop() {
  local pid
  pid=$(cat "$LAB_DIR/run/service.pid" 2>/dev/null) || return 0
  lab_alive "$pid" || return 0
  kill -s "${1:-TERM}" "$pid"
  lab_wait_gone 100 "$pid" || lab_end_pids 0 "$pid"
}

lab_blocking() {
  ip netns exec "$LAB_NS_CLIENT" nft list table inet varnelvpn_killswitch >/dev/null 2>&1
}

# --- further ocserv instances ------------------------------------------------

# Starts ocserv on port $1 (device prefix $2, address pool $3, groups $4
# comma-separated) with a new self-signed key; returns once it listens.
lab_extra_ocserv_start() {
  local port=$1 device=$2 network=$3 groups=${4:-} d=$LAB_DIR/extra-$1 tenths=150 pid group
  [[ $port =~ ^[0-9]+$ && $device =~ ^[a-z]+$ && $network =~ ^[0-9.]+$ && $groups =~ ^[a-z,]*$ ]] ||
    lab_die "usage: lab.sh extra-ocserv start PORT DEVICE NETWORK [GROUP,...]"
  lab_extra_ocserv_stop "$port"
  # Workers run as nobody: the directory must be traversable, the password file readable.
  mkdir -p -m 0711 "$d"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
    -subj "/CN=$LAB_SERVER_ADDR" -addext "subjectAltName=IP:$LAB_SERVER_ADDR" \
    -keyout "$d/key.pem" -out "$d/cert.pem" 2>/dev/null
  rm -f "$d/passwd"
  printf '%s\n' "$LAB_PASSWORD" | ocpasswd -c "$d/passwd" ${groups:+-g "$groups"} "$LAB_USER"
  printf '%s\n' "$LAB_UTF8_PASSWORD" | ocpasswd -c "$d/passwd" ${groups:+-g "$groups"} "$LAB_UTF8_USER"
  chmod 0644 "$d/passwd"
  {
    cat <<EOF
auth = "plain[passwd=$d/passwd]"
listen-host = $LAB_SERVER_ADDR
tcp-port = $port
udp-port = $port
run-as-user = nobody
run-as-group = nogroup
socket-file = $d/ocserv.sock
occtl-socket-file = $d/occtl.sock
pid-file = $d/ocserv.pid
server-cert = $d/cert.pem
server-key = $d/key.pem
max-clients = 16
max-same-clients = 0
rate-limit-ms = 0
max-ban-score = 0
keepalive = 32400
dpd = 10
try-mtu-discovery = false
auth-timeout = 240
cookie-timeout = 300
use-occtl = false
log-level = 1
device = $device
predictable-ips = true
ipv4-network = $network
ipv4-netmask = 255.255.255.0
route = $LAB_TARGET/255.255.255.255
cisco-client-compat = true
dtls-legacy = true
EOF
    for group in ${groups//,/ }; do
      echo "select-group = $group"
    done
    [ -z "$groups" ] || echo "auto-select-group = false"
  } >"$d/ocserv.conf"
  # Readable by the test, which counts the logins in it.
  : >>"$d/ocserv.log"
  chmod 0644 "$d/ocserv.log"
  # A process group of its own: stopped, nothing of it (the security module,
  # workers) lingers on the port for the next start.
  ip netns exec "$LAB_NS_SERVER" setsid ocserv -f -c "$d/ocserv.conf" </dev/null >>"$d/ocserv.log" 2>&1 &
  pid=$!
  disown "$pid"
  echo "$pid" >"$d/server.pid"
  until [ -n "$(ip netns exec "$LAB_NS_SERVER" ss -Hn -lt "sport = :$port" 2>/dev/null)" ]; do
    lab_alive "$pid" || { tail -n 20 "$d/ocserv.log" >&2; lab_die "ocserv on port $port exited"; }
    [ $tenths -le 0 ] && lab_die "ocserv on port $port does not listen after 15 s"
    tenths=$((tenths - 1))
    sleep 0.1
  done
}

lab_extra_ocserv_stop() {
  local pid members
  pid=$(cat "$LAB_DIR/extra-$1/server.pid" 2>/dev/null) || return 0
  kill -TERM -- "-$pid" 2>/dev/null || true
  # shellcheck disable=SC2046 # one word per process
  lab_wait_gone 30 $(pgrep -g "$pid") || kill -KILL -- "-$pid" 2>/dev/null || true
  members=$(pgrep -g "$pid" || true)
  # shellcheck disable=SC2086
  [ -z "$members" ] || lab_wait_gone 30 $members || lab_die "ocserv on port $1 survives: $members"
  rm -f "$LAB_DIR/extra-$1/server.pid"
}

# --- agent ------------------------------------------------------------------

# A test that runs as the lab user cannot stop servers or look at the
# firewall itself. It writes "ID COMMAND ARGS..." (ID a number of its own)
# into $LAB_DIR/agent/requests; the agent (root, started by run-in-lab.sh)
# runs `lab.sh COMMAND ARGS` for the commands below only, and leaves the exit
# status and the output in $LAB_DIR/agent/ID.
LAB_AGENT_COMMANDS="kill start pid service blocking extra-ocserv $LAB_NETWORK_COMMANDS"

lab_agent() {
  local dir=$LAB_DIR/agent id cmd rest rc out
  mkdir -m 0755 "$dir"
  mkfifo -m 0622 "$dir/requests"
  # Held open for writing too, so that a reader never sees the end of file.
  exec 8<>"$dir/requests"
  while read -r id cmd rest <&8; do
    [[ $id =~ ^[0-9]+$ ]] || continue
    rc=0
    case " $LAB_AGENT_COMMANDS " in
      *" $cmd "*)
        # shellcheck disable=SC2086 # the arguments are words
        out=$("$LAB_SCRIPT" "$cmd" $rest 2>&1) || rc=$?
        ;;
      *) rc=2; out="not a command for the agent: $cmd" ;;
    esac
    printf '%s\n%s\n' "$rc" "$out" >"$dir/$id.part"
    mv "$dir/$id.part" "$dir/$id"
  done
}

# --- client side ------------------------------------------------------------

# The command line that runs a command in the client namespace. vpnc-script
# keeps its state in /run/vpnc; `ip netns exec` gives the command a mount
# namespace of its own, in which the lab's directory is bound over it, so
# nothing a tunnel script writes lands on the host.
lab_exec_argv() {
  # shellcheck disable=SC2016 # expanded by the inner shell
  LAB_EXEC=(ip netns exec "$LAB_NS_CLIENT" /bin/sh -c 'mount --bind "$0" /run/vpnc && exec "$@"' "$LAB_DIR/vpnc")
}

# The same, as the lab user $1 (default LAB_UID) with a home and runtime
# folder of its own and no capability, with the service's socket.
lab_exec_user_argv() {
  local uid=${1:-$LAB_UID} home=$LAB_DIR/home-${1:-$LAB_UID}
  if [ ! -d "$home" ]; then
    install -d -m 0700 -o "$uid" -g "$uid" "$home" "$home/runtime"
  fi
  lab_exec_argv
  LAB_EXEC+=(setpriv --reuid="$uid" --regid="$uid" --clear-groups --inh-caps=-all
    env HOME="$home" XDG_RUNTIME_DIR="$home/runtime" USER=varnel-lab-user LOGNAME=varnel-lab-user
    VARNELVPN_SERVICE_SOCKET="$LAB_DIR/svc/control")
}

# --- bring-up ---------------------------------------------------------------

# shellcheck disable=SC2094 # VARNEL_LAB_ENV names the file, nothing reads it here
lab_write_env() {
  local env=$LAB_DIR/lab.env
  {
    lab_env_line VARNEL_LAB_ID "$LAB_ID"
    lab_env_line VARNEL_LAB_DIR "$LAB_DIR"
    lab_env_line VARNEL_LAB_ENV "$env"
    lab_env_line VARNEL_LAB_SCRIPT "$LAB_SCRIPT"
    lab_env_line VARNEL_LAB_UID "$LAB_UID"
    lab_env_line VARNEL_LAB_OTHER_UID "$LAB_OTHER_UID"
    lab_env_line VARNEL_LAB_SERVICE "$LAB_SERVICE_BIN"
    lab_env_line VARNEL_LAB_SERVICE_SOCKET "$LAB_DIR/svc/control"
    lab_env_line VARNEL_LAB_SERVICE_DATA "$LAB_DIR/svc/data"
    lab_env_line VARNEL_LAB_NS_SERVER "$LAB_NS_SERVER"
    lab_env_line VARNEL_LAB_NS_CLIENT "$LAB_NS_CLIENT"
    lab_env_line VARNEL_LAB_VETH_SERVER "$LAB_VETH_SERVER"
    lab_env_line VARNEL_LAB_VETH_CLIENT "$LAB_VETH_CLIENT"
    lab_env_line VARNEL_LAB_SERVER_ADDR "$LAB_SERVER_ADDR"
    lab_env_line VARNEL_LAB_CLIENT_ADDR "$LAB_CLIENT_ADDR"
    lab_env_line VARNEL_LAB_TARGET "$LAB_TARGET"
    lab_env_line VARNEL_LAB_IPERF_PORT "$LAB_IPERF_PORT"
    lab_env_line VARNEL_LAB_USER "$LAB_USER"
    lab_env_line VARNEL_LAB_PASSWORD "$LAB_PASSWORD"
    lab_env_line VARNEL_LAB_BAD_PASSWORD "$LAB_BAD_PASSWORD"
    lab_env_line VARNEL_LAB_UTF8_USER "$LAB_UTF8_USER"
    lab_env_line VARNEL_LAB_UTF8_PASSWORD "$LAB_UTF8_PASSWORD"
    lab_env_line VARNEL_LAB_OCSERV_GATEWAY "$LAB_SERVER_ADDR"
    lab_env_line VARNEL_LAB_OCSERV_PORT "$LAB_OCSERV_PORT"
    lab_env_line VARNEL_LAB_OCSERV_URL "https://$LAB_SERVER_ADDR:$LAB_OCSERV_PORT/"
    lab_env_line VARNEL_LAB_OCSERV_PIN "$LAB_OCSERV_PIN"
    lab_env_line VARNEL_LAB_OCSERV_CERT "$LAB_DIR/pki/ocserv.crt"
    lab_env_line VARNEL_LAB_OCSERV_NETWORK "$LAB_OCSERV_NETWORK/24"
    lab_env_line VARNEL_LAB_OPENVPN_HOST "$LAB_SERVER_ADDR"
    lab_env_line VARNEL_LAB_OPENVPN_PORT "$LAB_OPENVPN_PORT"
    lab_env_line VARNEL_LAB_OPENVPN_PROTO udp
    lab_env_line VARNEL_LAB_OPENVPN_ADDRESS "$LAB_SERVER_ADDR:$LAB_OPENVPN_PORT"
    lab_env_line VARNEL_LAB_OPENVPN_NETWORK "$LAB_OPENVPN_NETWORK/24"
    lab_env_line VARNEL_LAB_OPENVPN_CA "$LAB_DIR/pki/ca.crt"
    lab_env_line VARNEL_LAB_OPENVPN_TEMPLATE "$LAB_DIR/client-template.ovpn"
    lab_env_line VARNEL_LAB_OPENVPN_TEMPLATE_B64 "$(openssl base64 -A <"$LAB_DIR/client-template.ovpn")"
    [ -z "$LAB_FULL_TUNNEL" ] || lab_full_tunnel_env
    local server
    for server in $LAB_SERVERS; do
      lab_env_line "VARNEL_LAB_${server^^}_PID" "$(lab_pid "$server")"
      lab_env_line "VARNEL_LAB_${server^^}_LOG" "$LAB_DIR/$server.log"
    done
  } >"$env"
  LAB_ENV=$env
}

lab_env_line() { printf 'export %s=%q\n' "$1" "$2"; }

lab_network() {
  ip netns add "$LAB_NS_SERVER" || lab_skip "cannot create network namespaces"
  ip netns add "$LAB_NS_CLIENT"
  # Private resolver files: `ip netns exec` binds them over /etc/resolv.conf,
  # so a DNS push inside the lab can never reach the host's file.
  local ns
  for ns in "$LAB_NS_SERVER" "$LAB_NS_CLIENT"; do
    mkdir -p "/etc/netns/$ns"
    printf '# VarnelVPN lab %s: no resolver\nnameserver 127.0.0.1\n' "$LAB_NAME" >"/etc/netns/$ns/resolv.conf"
    ip -n "$ns" link set lo up
  done
  # ping runs without its file capability under the client: ICMP sockets for
  # every group, as systemd sets them up on a desktop.
  ip netns exec "$LAB_NS_CLIENT" sysctl -qw net.ipv4.ping_group_range="0 2147483647"
  # Both ends are born inside their namespaces: the host never sees them.
  ip link add "$LAB_VETH_SERVER" netns "$LAB_NS_SERVER" type veth peer name "$LAB_VETH_CLIENT" netns "$LAB_NS_CLIENT"
  ip -n "$LAB_NS_SERVER" addr add "$LAB_SERVER_ADDR/$LAB_LINK_PREFIX" dev "$LAB_VETH_SERVER"
  ip -n "$LAB_NS_CLIENT" addr add "$LAB_CLIENT_ADDR/$LAB_LINK_PREFIX" dev "$LAB_VETH_CLIENT"
  ip -n "$LAB_NS_SERVER" link set "$LAB_VETH_SERVER" up
  ip -n "$LAB_NS_CLIENT" link set "$LAB_VETH_CLIENT" up
  ip -n "$LAB_NS_SERVER" addr add "$LAB_TARGET/32" dev lo
  local alias
  for alias in ${LAB_SERVER_ALIASES[@]+"${LAB_SERVER_ALIASES[@]}"}; do
    echo "addr add $alias/32 dev lo"
  done | ip -n "$LAB_NS_SERVER" -batch -
  # Whole /24 networks: vpnc-script adds a host route to its gateway and
  # deletes that host route again at the end of the session.
  for alias in ${LAB_SERVER_ALIASES[@]+"${LAB_SERVER_ALIASES[@]}"}; do
    echo "${alias%.*}.0/24"
  done | sort -u | while read -r network; do
    echo "route add $network via $LAB_SERVER_ADDR"
  done | ip -n "$LAB_NS_CLIENT" -batch -
  # The target answers only what comes out of a tunnel, even if a client
  # routes it over the raw link.
  ip netns exec "$LAB_NS_SERVER" nft -f - <<EOF
table inet varnel_lab {
  chain input {
    type filter hook input priority 0; policy accept;
    iifname "$LAB_VETH_SERVER" ip daddr $LAB_TARGET drop
  }
}
EOF
}

# Builds lab owned by process $1; leaves its environment file in LAB_ENV and
# exports its variables into this shell.
lab_up() {
  local owner=$1 server
  [[ $owner =~ ^[0-9]+$ ]] || lab_die "owner must be a process id"
  lab_check
  lab_cleanup_stale
  lab_names "$owner"
  if [ -e "$LAB_DIR" ] || lab_ns_exists "$LAB_NS_SERVER" || lab_ns_exists "$LAB_NS_CLIENT"; then
    lab_die "process $owner already owns lab $LAB_NAME"
  fi
  mkdir -m 0711 "$LAB_DIR"
  LAB_CREATED=$LAB_ID
  echo "$owner $(lab_start_time "$owner")" >"$LAB_DIR/owner"
  lab_claim_host_dir /etc/netns
  lab_claim_host_dir /run/vpnc
  mkdir -m 0755 "$LAB_DIR/vpnc"
  lab_network
  lab_make_pki
  lab_configure_ocserv
  lab_configure_openvpn
  [ -z "$LAB_FULL_TUNNEL" ] || lab_full_tunnel_setup
  for server in $LAB_SERVERS; do
    lab_start "$server"
  done
  # shellcheck disable=SC2086
  lab_wait_ready $LAB_SERVERS
  lab_write_env
  if [ -n "$LAB_SERVICE_BIN" ]; then
    lab_service_start
  fi
  set -a
  # shellcheck disable=SC1090
  . "$LAB_ENV"
  set +a
  lab_say "up: $LAB_NAME ($LAB_ENV)"
}

# Loads the lab described by environment file $1 (default $VARNEL_LAB_ENV).
lab_load() {
  local env=${1:-${VARNEL_LAB_ENV:-}}
  [ -n "$env" ] || lab_die "no lab: give an environment file or set VARNEL_LAB_ENV"
  [ -r "$env" ] || lab_die "cannot read $env"
  # shellcheck disable=SC1090
  . "$env"
  lab_names "$VARNEL_LAB_ID"
  LAB_SERVICE_BIN=${VARNEL_LAB_SERVICE:-}
}

lab_main() {
  local cmd=${1:-}
  shift || true
  case $cmd in
    check) lab_check ;;
    up)
      trap '[ -z "$LAB_CREATED" ] || lab_teardown "$LAB_CREATED"' EXIT
      lab_up "${VARNEL_LAB_OWNER:-$PPID}"
      trap - EXIT
      echo "$LAB_ENV"
      ;;
    down) lab_load "${1:-}"; lab_teardown "$LAB_ID" ;;
    kill)
      [[ $# -ge 1 && $# -le 2 ]] || lab_die "usage: lab.sh kill SERVER [SIGNAL]"
      lab_known_server "$1"
      lab_load
      lab_kill "$@"
      ;;
    start) [ $# -eq 1 ] || lab_die "usage: lab.sh start SERVER"; lab_known_server "$1"; lab_load; lab_restart "$1" ;;
    pid) [ $# -eq 1 ] || lab_die "usage: lab.sh pid SERVER"; lab_known_server "$1"; lab_load; lab_pid "$1" ;;
    exec)
      [ $# -ge 1 ] || lab_die "usage: lab.sh exec COMMAND [ARGS...]"
      lab_load
      lab_exec_argv
      exec "${LAB_EXEC[@]}" "$@"
      ;;
    service)
      lab_load
      case ${1:-} in
        start) lab_service_start ;;
        stop) lab_service_stop "${2:-TERM}" ;;
        *) lab_die "usage: lab.sh service start|stop [SIGNAL]" ;;
      esac
      ;;
    blocking) lab_load; lab_blocking ;;
    extra-ocserv)
      lab_load
      case ${1:-} in
        start) shift; lab_extra_ocserv_start "$@" ;;
        stop) lab_extra_ocserv_stop "${2:?usage: lab.sh extra-ocserv stop PORT}" ;;
        *) lab_die "usage: lab.sh extra-ocserv start|stop PORT ..." ;;
      esac
      ;;
    agent) lab_load; lab_agent ;;
    leaks | client-state | link | remove-device) lab_network_main "$cmd" "$@" ;;
    cleanup-stale) lab_cleanup_stale ;;
    host-state) lab_host_state ;;
    leftovers) [ $# -eq 1 ] || lab_die "usage: lab.sh leftovers ID"; lab_leftovers "$1" ;;
    *) sed -n '/^# Usage:/,/^$/s/^# \{0,1\}//p' "$LAB_SCRIPT" >&2; exit 2 ;;
  esac
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  lab_main "$@"
fi
