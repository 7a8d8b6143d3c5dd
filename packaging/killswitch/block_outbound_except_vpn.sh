#!/bin/sh
# VarnelVPN kill switch: drop every packet that would leave this machine
# outside a VPN tunnel. Installed into the client's data directory and run
# by the client (as root) when the kill switch is on and no tunnel is up.
#
# All rules live in the table "inet varnelvpn_killswitch" (IPv4 and IPv6);
# reset_firewall_rules.sh deletes exactly that table, so every other rule of
# the machine stays as it was. The table is replaced in one transaction, so
# running this twice leaves one copy of it.
#
# What may still leave:
#  - loopback;
#  - anything routed into a tunnel device (tun*, tap*: the names the kernel
#    gives the devices of OpenVPN and of the OpenConnect library when no name
#    is asked for). Replies on connections that the tunnel carries go out
#    through the tunnel too, so they pass by the same rule;
#  - the tunnel's own traffic to the VPN server. It leaves over the physical
#    link, so it is recognised by its owner instead: packets of sockets
#    created by a process whose effective group is the tunnel group
#    ("varnelvpn", or VARNELVPN_TUNNEL_GROUP as a name or number). Run the
#    client (and so the OpenVPN program it starts) with that group; nothing
#    else does, so no other program's traffic slips through, whatever its
#    port or address. Without the group no tunnel can be set up while
#    blocked, and the block stays as tight as before.
# Routed traffic (containers, virtual machines) gets the same treatment.
# Everything else is dropped and counted (nft list table inet varnelvpn_killswitch).
#
# Exit status 0 when the block is in place; non-zero, with the reason on
# standard error, when nft is missing or may not change the rules.
# VARNELVPN_NFT names another nft program (default: nft from PATH).

PATH=$PATH:/usr/sbin:/sbin
NFT=${VARNELVPN_NFT:-nft}
TABLE=varnelvpn_killswitch
GROUP=${VARNELVPN_TUNNEL_GROUP:-varnelvpn}
me=block_outbound_except_vpn.sh

if ! command -v "$NFT" >/dev/null 2>&1; then
  echo "$me: nft (nftables) is not installed" >&2
  exit 127
fi

case $GROUP in
  *[!0-9]* | '') gid=$(getent group "$GROUP" | cut -d: -f3) ;;
  *) gid=$GROUP ;;
esac
tunnel_rule=
if [ -n "$gid" ]; then
  tunnel_rule="meta skgid $gid accept comment \"tunnel programs\""
else
  echo "$me: warning: no group '$GROUP': no tunnel can be set up while traffic is blocked" >&2
fi

# The first two lines make sure the table exists, so that the delete never
# fails; the whole file is one transaction.
ruleset="table inet $TABLE
delete table inet $TABLE
table inet $TABLE {
  chain output {
    type filter hook output priority filter; policy accept;
    oifname \"lo\" accept
    oifname \"tun*\" accept
    oifname \"tap*\" accept
    $tunnel_rule
    counter drop comment \"outside the tunnel\"
  }
  chain forward {
    type filter hook forward priority filter; policy accept;
    oifname \"tun*\" accept
    oifname \"tap*\" accept
    counter drop comment \"outside the tunnel\"
  }
}"

if ! output=$(printf '%s\n' "$ruleset" | "$NFT" -f - 2>&1); then
  echo "$me: nft could not install the block (not permitted? it needs root): $output" >&2
  exit 1
fi
exit 0
