#!/usr/bin/env bash
# Installs the Debian packages needed to build, run and test the client.
# Idempotent: only packages that are missing are installed.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake pkg-config git
  qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
  libopenconnect-dev libgnutls28-dev
  # the service: the kill switch's scripts and the leak guards go to nftables through its library
  libnftables-dev
  libcpp-httplib-dev libssl-dev openssl
  # build-time resources: flags, country codes, animated spinner
  iso-flags-png-320x240 iso-codes imagemagick
  # run time (ca-certificates: the system trust store for the verified TLS to the backend;
  # qtwayland5: the window as a native Wayland client)
  ca-certificates openvpn vpnc-scripts iputils-ping nftables iproute2 qtwayland5
  # tests (dbus-daemon: a private system bus for the service's network test; dnsmasq-base: the DNS
  # servers of the lab's full-tunnel mode)
  ocserv iperf3 xvfb xauth trayer x11-utils dbus-daemon dnsmasq-base
  # the Wayland test's compositor (headless)
  weston
  # tools/run-each-test-function.sh reads ctest's test list (JSON)
  jq
  # reference clients for the lab benchmarks and lab checks
  openconnect
  # the Debian package: its checker and the unit's (systemd-analyze, which looks
  # the unit's manual pages up with man)
  lintian systemd man-db
  # fuzz harnesses (fuzz/run.sh, and a short run among the tests): clang with libFuzzer and the sanitizers
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
else
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi

# The kill-switch scripts go into the service's data directory (root-owned:
# the service loads them as root). Up to date already: nothing to do.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
data_dir=/var/lib/VarnelVPN
if ! cmp -s "$here/packaging/killswitch/block_outbound_except_vpn.nft" "$data_dir/block_outbound_except_vpn.nft" \
  || ! cmp -s "$here/packaging/killswitch/reset_firewall_rules.nft" "$data_dir/reset_firewall_rules.nft"; then
  $SUDO "$here/packaging/killswitch/install.sh" "$data_dir"
fi
