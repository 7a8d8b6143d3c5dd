# shellcheck shell=bash
# The lab as a laptop on a home network sees it, for the leak tests. Sourced
# by lab.sh; on when VARNEL_LAB_FULL_TUNNEL=1 is set before lab_up:
#  - both servers push the default route (ocserv "route = default", OpenVPN
#    "redirect-gateway def1") and a DNS server behind the tunnel (a dnsmasq on
#    the target that alone knows $LAB_TUNNEL_NAME);
#  - the client namespace has a default route over the link, IPv6 on it with
#    a default route, and a resolver file naming a resolver outside the
#    tunnel (a dnsmasq on the server side of the link that knows
#    $LAB_OUTSIDE_NAME);
#  - beyond the link, hosts that probes are sent to ("the internet"), on the
#    server's loopback, and one address where nothing answers at all;
#  - the server namespace counts every packet that arrives over the link and
#    is neither VPN traffic to an endpoint nor what the link needs (ARP, IPv6
#    neighbour and router discovery, DHCP): `lab.sh leaks`;
#  - the client namespace holds two tables of other programs, which must stay
#    byte-identical: a NAT table as container engines make, an inet filter
#    table as firewall managers make.
# Commands for the tests (also through the agent): leaks, client-state,
# link down|up, remove-device NAME.

# shellcheck disable=SC2034 # read by lab.sh
LAB_FULL_TUNNEL=${VARNEL_LAB_FULL_TUNNEL:-}
LAB_NET_HOST=10.213.30.1
LAB_NET_BOUND_HOST=10.213.30.2
LAB_NET_RESOLVER=10.213.30.53
LAB_NET_UNREACHABLE=10.213.30.99
LAB_NET_HOST6=fd13:213:30::1
LAB_LINK6_SERVER=fd13:213::1
LAB_LINK6_CLIENT=fd13:213::2
LAB_PROBE_TCP_PORT=7001
LAB_PROBE_UDP_PORT=7002
LAB_TUNNEL_NAME=inside.varnel.test
LAB_OUTSIDE_NAME=outside.varnel.test
# shellcheck disable=SC2034 # read by lab.sh
LAB_NETWORK_COMMANDS="leaks client-state link remove-device"

# Called by lab_up once the servers are configured, before they start.
lab_full_tunnel_setup() {
  local srv=$LAB_NS_SERVER cli=$LAB_NS_CLIENT
  command -v dnsmasq >/dev/null 2>&1 || lab_skip "'dnsmasq' is not installed (tools/install-deps.sh)"
  sed -i "s|^route = .*|route = default\ndns = $LAB_TARGET|" "$LAB_DIR/ocserv/ocserv.conf"
  sed -i "s|^push \"route .*|push \"redirect-gateway def1\"\npush \"dhcp-option DNS $LAB_TARGET\"|" \
    "$LAB_DIR/openvpn/server.conf"
  {
    echo "addr add $LAB_NET_HOST/32 dev lo"
    echo "addr add $LAB_NET_BOUND_HOST/32 dev lo"
    echo "addr add $LAB_NET_RESOLVER/32 dev lo"
    echo "addr add $LAB_NET_HOST6/128 dev lo"
    echo "addr add $LAB_LINK6_SERVER/64 dev $LAB_VETH_SERVER nodad"
  } | ip -n "$srv" -batch -
  # Addresses stay while the link is down, as on a laptop whose cable is out.
  ip netns exec "$cli" sysctl -qw "net.ipv6.conf.$LAB_VETH_CLIENT.keep_addr_on_down=1"
  ip -n "$cli" addr add "$LAB_LINK6_CLIENT/64" dev "$LAB_VETH_CLIENT" nodad
  lab_link_routes
  printf '# VarnelVPN lab %s: the local network'"'"'s resolver, outside any tunnel\nnameserver %s\nsearch lab.varnel.test\noptions timeout:1 attempts:2\n' \
    "$LAB_NAME" "$LAB_NET_RESOLVER" >"/etc/netns/$cli/resolv.conf"
  lab_addresses_settled
  lab_dns_start tunnel "$LAB_TARGET" "$LAB_TUNNEL_NAME" "$LAB_TARGET"
  lab_dns_start outside "$LAB_NET_RESOLVER" "$LAB_OUTSIDE_NAME" "$LAB_NET_HOST"
  ip netns exec "$srv" nft -f - <<EOF
table inet varnel_lab_leaks {
  counter leak_tcp {}
  counter leak_udp {}
  counter leak_icmp {}
  counter leak_dns {}
  counter leak_ipv6 {}
  counter leak_bound {}
  counter leak_other {}
  chain count {
    type filter hook prerouting priority raw; policy accept;
    iifname != "$LAB_VETH_SERVER" accept
    icmpv6 type { nd-router-solicit, nd-router-advert, nd-neighbor-solicit, nd-neighbor-advert, mld-listener-report, mld2-listener-report, mld-listener-done } accept comment "what the link needs"
    udp dport { 67, 547 } accept comment "DHCP"
    ip daddr { $LAB_SERVER_ADDR, $LAB_NET_UNREACHABLE } meta l4proto { tcp, udp } th dport { $LAB_OCSERV_PORT, $LAB_OPENVPN_PORT, 4440-4449 } accept comment "VPN traffic to an endpoint"
    ip daddr { $LAB_SERVER_ADDR, $LAB_NET_UNREACHABLE } meta l4proto icmp accept comment "errors about the VPN traffic, the client's round trip to its server"
    meta l4proto { tcp, udp } th dport 53 counter name "leak_dns" accept
    meta nfproto ipv6 counter name "leak_ipv6" accept
    ip daddr $LAB_NET_BOUND_HOST counter name "leak_bound" accept
    tcp dport $LAB_PROBE_TCP_PORT counter name "leak_tcp" accept
    udp dport $LAB_PROBE_UDP_PORT counter name "leak_udp" accept
    icmp type echo-request counter name "leak_icmp" accept
    counter name "leak_other"
  }
}
EOF
  # No counters in them: what other programs' tables hold must not change.
  ip netns exec "$cli" nft -f - <<EOF
table ip vvlab_containers {
  chain prerouting {
    type nat hook prerouting priority dstnat; policy accept;
    iifname "vvlabbr0" tcp dport 8080 dnat to 172.31.0.2:80
  }
  chain postrouting {
    type nat hook postrouting priority srcnat; policy accept;
    ip saddr 172.31.0.0/16 oifname "$LAB_VETH_CLIENT" masquerade
  }
}
table inet vvlab_firewall {
  chain input {
    type filter hook input priority filter; policy accept;
    ct state invalid drop
    iifname "lo" accept
    tcp dport 22 accept
  }
  chain forward {
    type filter hook forward priority filter; policy accept;
    ct state established,related accept
  }
}
EOF
}

# Link-local addresses settled (duplicate address detection takes a second
# or two after the link comes up): a tunnel's end is compared with this.
lab_addresses_settled() {
  local tenths=50
  while [ -n "$(ip -n "$LAB_NS_CLIENT" -6 addr show tentative)" ] && [ $((tenths -= 1)) -gt 0 ]; do
    sleep 0.1
  done
}

# The default routes a DHCP client and router advertisements give the link.
lab_link_routes() {
  ip -n "$LAB_NS_CLIENT" route replace default via "$LAB_SERVER_ADDR" dev "$LAB_VETH_CLIENT"
  ip -n "$LAB_NS_CLIENT" -6 route replace default via "$LAB_LINK6_SERVER" dev "$LAB_VETH_CLIENT"
}

# A dnsmasq in the server namespace on address $2 that knows name $3 as $4
# and nothing else; its log of queries is $LAB_DIR/dns-$1.log.
lab_dns_start() {
  local pid tenths=100
  mkdir -p "$LAB_DIR/run"
  ip netns exec "$LAB_NS_SERVER" dnsmasq --keep-in-foreground --conf-file=/dev/null --no-resolv --no-hosts \
    --no-poll --bind-interfaces --listen-address="$2" --user=nobody --group=nogroup \
    --pid-file="$LAB_DIR/run/dns-$1.pid" --log-queries --log-facility=- --address="/$3/$4" \
    </dev/null >>"$LAB_DIR/dns-$1.log" 2>&1 &
  pid=$!
  disown "$pid"
  until [ -n "$(ip netns exec "$LAB_NS_SERVER" ss -Hnlu "src $2:53" 2>/dev/null)" ]; do
    lab_alive "$pid" || { cat "$LAB_DIR/dns-$1.log" >&2; lab_die "dnsmasq on $2 exited"; }
    [ $tenths -le 0 ] && lab_die "dnsmasq on $2 does not listen after 10 s"
    tenths=$((tenths - 1))
    sleep 0.1
  done
}

lab_full_tunnel_env() {
  lab_env_line VARNEL_LAB_FULL_TUNNEL 1
  lab_env_line VARNEL_LAB_NET_HOST "$LAB_NET_HOST"
  lab_env_line VARNEL_LAB_NET_BOUND_HOST "$LAB_NET_BOUND_HOST"
  lab_env_line VARNEL_LAB_NET_RESOLVER "$LAB_NET_RESOLVER"
  lab_env_line VARNEL_LAB_NET_UNREACHABLE "$LAB_NET_UNREACHABLE"
  lab_env_line VARNEL_LAB_NET_HOST6 "$LAB_NET_HOST6"
  lab_env_line VARNEL_LAB_PROBE_TCP_PORT "$LAB_PROBE_TCP_PORT"
  lab_env_line VARNEL_LAB_PROBE_UDP_PORT "$LAB_PROBE_UDP_PORT"
  lab_env_line VARNEL_LAB_TUNNEL_NAME "$LAB_TUNNEL_NAME"
  lab_env_line VARNEL_LAB_OUTSIDE_NAME "$LAB_OUTSIDE_NAME"
  lab_env_line VARNEL_LAB_RESOLV_CONF "/etc/netns/$LAB_NS_CLIENT/resolv.conf"
}

# Packets counted since the lab came up, one "kind count" a line.
lab_leaks() {
  ip netns exec "$LAB_NS_SERVER" nft list counters table inet varnel_lab_leaks |
    awk '$1 == "counter" { name = substr($2, 6) } $1 == "packets" { print name, $2 }'
}

# What a tunnel may change in the client namespace and must give back: routes,
# addresses, the firewall, the resolver file and the service's records; last
# the kill switch's block, its counters left out, when it holds.
lab_client_state() {
  local ns=$LAB_NS_CLIENT f
  lab_addresses_settled
  echo "== routes"
  ip -n "$ns" -4 route show table all
  ip -n "$ns" -6 route show table all
  echo "== addresses"
  ip -n "$ns" addr | grep -v '_lft'
  echo "== firewall"
  ip netns exec "$ns" nft list ruleset | awk '/^table inet varnelvpn_killswitch /{skip=1} !skip{print} /^}/{skip=0}'
  echo "== resolver"
  cat "/etc/netns/$ns/resolv.conf"
  echo "== service records"
  for f in "$LAB_DIR"/svc/data/*; do
    [ -e "$f" ] || continue
    case ${f##*/} in service.txt | killswitch.holders | *.nft) ;; *) md5sum "$f" ;; esac
  done
  echo "== block"
  { ip netns exec "$ns" nft list table inet varnelvpn_killswitch 2>/dev/null || true; } |
    sed 's/counter packets [0-9]* bytes [0-9]*/counter/'
}

lab_link() {
  case ${1:-} in
    down) ip -n "$LAB_NS_CLIENT" link set "$LAB_VETH_CLIENT" down ;;
    up)
      ip -n "$LAB_NS_CLIENT" link set "$LAB_VETH_CLIENT" up
      [ -z "${VARNEL_LAB_FULL_TUNNEL:-}" ] || lab_link_routes
      ;;
    *) lab_die "usage: lab.sh link down|up" ;;
  esac
}

lab_network_main() {
  local cmd=$1
  shift
  lab_load
  case $cmd in
    leaks) lab_leaks ;;
    client-state) lab_client_state ;;
    link) lab_link "$@" ;;
    remove-device)
      [[ ${1:-} =~ ^vvpn[0-9]{1,2}$ ]] || lab_die "usage: lab.sh remove-device vvpnN"
      ip -n "$LAB_NS_CLIENT" link delete "$1"
      ;;
  esac
}
