#!/bin/sh
# Installs the kill-switch scripts into the service's data directory (the
# first argument, else VARNELVPN_DATA_DIR, else /var/lib/VarnelVPN). Run as
# root; idempotent.
#
# The folder and the scripts are root's and only root may change them:
# varnelvpn-service loads them into the firewall and refuses them otherwise.
# They stay executable so that an administrator may run them by hand
# (reset_firewall_rules.nft lifts a block). "service.txt" and the kill
# switch's holders are written by the service alone.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
dir=${1:-${VARNELVPN_DATA_DIR:-/var/lib/VarnelVPN}}

install -d -o root -g root -m 0755 "$dir"
for script in block_outbound_except_vpn.nft reset_firewall_rules.nft; do
  install -o root -g root -m 0755 "$here/$script" "$dir/$script"
done
# What earlier versions left: shell scripts the client ran itself, and a
# state file every user could write (the service rewrites it at its start).
rm -f "$dir/block_outbound_except_vpn.sh" "$dir/reset_firewall_rules.sh"
if [ -f "$dir/service.txt" ] && [ ! -L "$dir/service.txt" ]; then
  chown root:root "$dir/service.txt"
  chmod 0644 "$dir/service.txt"
fi
echo "install-killswitch: scripts in $dir"
