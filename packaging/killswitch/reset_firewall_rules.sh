#!/bin/sh
# VarnelVPN kill switch: lift the block of block_outbound_except_vpn.sh by
# deleting its table "inet varnelvpn_killswitch". No other rule is touched.
# Running it without a block in place changes nothing and succeeds: the
# table is created and deleted in one transaction.
#
# Exit status 0 when no block is left; non-zero, with the reason on standard
# error, when nft is missing or may not change the rules.
# VARNELVPN_NFT names another nft program (default: nft from PATH).

PATH=$PATH:/usr/sbin:/sbin
NFT=${VARNELVPN_NFT:-nft}
TABLE=varnelvpn_killswitch
me=reset_firewall_rules.sh

if ! command -v "$NFT" >/dev/null 2>&1; then
  echo "$me: nft (nftables) is not installed" >&2
  exit 127
fi

ruleset="table inet $TABLE
delete table inet $TABLE"

if ! output=$(printf '%s\n' "$ruleset" | "$NFT" -f - 2>&1); then
  echo "$me: nft could not remove the block (not permitted? it needs root): $output" >&2
  exit 1
fi
exit 0
