#!/bin/sh
# Installs the kill-switch scripts into the client's data directory
# (the first argument, else VARNELVPN_DATA_DIR, else /var/lib/VarnelVPN) and
# creates the tunnel group that the block lets through (see
# block_outbound_except_vpn.sh; VARNELVPN_TUNNEL_GROUP, a number is used as
# it is). Run as root; idempotent.
#
# The directory and the scripts belong to the installing user (root) and only
# they may change them, because root runs the scripts. The state file
# "service.txt" is the one thing the client writes there, so it is created
# writable by everyone.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
dir=${1:-${VARNELVPN_DATA_DIR:-/var/lib/VarnelVPN}}
group=${VARNELVPN_TUNNEL_GROUP:-varnelvpn}
PATH=$PATH:/usr/sbin:/sbin

case $group in
  *[!0-9]* | '')
    if ! getent group "$group" >/dev/null; then
      groupadd --system "$group"
      echo "install-killswitch: created the group $group"
    fi
    ;;
esac

install -d -m 0755 "$dir"
for script in block_outbound_except_vpn.sh reset_firewall_rules.sh; do
  install -m 0755 "$here/$script" "$dir/$script"
done
if [ ! -e "$dir/service.txt" ]; then
  printf 'KillSwith:OFF' >"$dir/service.txt"
fi
chmod 0666 "$dir/service.txt"
echo "install-killswitch: scripts in $dir"
