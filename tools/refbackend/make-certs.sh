#!/usr/bin/env bash
# Makes the TLS material for the reference backend in DIR (created if needed):
#   ca.crt                           test CA that clients trust (VARNELVPN_CA_FILE)
#   server.crt, server.key           server certificate from that CA, for 127.0.0.1, localhost and
#                                    the IP addresses given after DIR
#   rogue-ca.crt                     a second CA that nobody trusts
#   rogue-server.crt, rogue-server.key  the same names, signed by the second CA (--rogue)
# The CA keys are deleted after signing; nothing here is ever committed.
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 DIR [IP-ADDRESS...]" >&2
  exit 2
fi
dir="$1"
shift
names="IP:127.0.0.1, DNS:localhost"
for address in "$@"; do
  names="$names, IP:$address"
done
mkdir -p "$dir"
umask 077
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

days=30
ext="$work/server.ext"
cat >"$ext" <<EXT
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $names
EXT

# make_ca NAME SUBJECT: a self-signed CA certificate; its key stays in the scratch directory.
make_ca() {
  openssl req -x509 -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 \
    -keyout "$work/$1.key" -out "$dir/$1.crt" -days "$days" -subj "$2" \
    -addext "basicConstraints = critical, CA:TRUE" -addext "keyUsage = critical, keyCertSign, cRLSign" \
    2>/dev/null
}

# make_server CA PREFIX: a server key and certificate signed by CA.
make_server() {
  openssl req -new -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 \
    -keyout "$dir/$2.key" -out "$work/$2.csr" -subj "/O=VarnelVPN reference backend/CN=127.0.0.1" 2>/dev/null
  openssl x509 -req -in "$work/$2.csr" -CA "$dir/$1.crt" -CAkey "$work/$1.key" -CAcreateserial \
    -CAserial "$work/$1.srl" -out "$dir/$2.crt" -days "$days" -extfile "$ext" 2>/dev/null
}

make_ca ca "/O=VarnelVPN/CN=VarnelVPN Test CA"
make_server ca server
make_ca rogue-ca "/O=Nobody/CN=Unknown Test CA"
make_server rogue-ca rogue-server

chmod 644 "$dir"/*.crt
openssl verify -CAfile "$dir/ca.crt" "$dir/server.crt" >/dev/null
echo "certificates written to $dir"
