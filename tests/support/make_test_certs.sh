#!/usr/bin/env bash
# Makes the certificates of the TLS tests in DIR, once: a test CA and, signed
# by it for the loopback server, "localhost" (valid now), "wrong_host" (valid,
# for wrong.example only) and "expired" (localhost, ended in 2021); and
# "self_signed" (localhost, signed by itself). Every server certificate uses
# the one key server.key. Does nothing when DIR already holds them.
#   make_test_certs.sh DIR
set -euo pipefail
dir=$1
[ -f "$dir/complete" ] && exit 0
rm -rf "$dir"
mkdir -p "$dir/ca"
cd "$dir"
quiet() { "$@" >/dev/null 2>&1 || { echo "make_test_certs: failed: $*" >&2; exit 1; }; }

quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 3650 \
  -subj "/CN=Kestrin Test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign"
quiet openssl genrsa -out server.key 2048
touch ca/index.txt
echo 1000 >ca/serial
cat >ca.cnf <<'CNF'
[ca]
default_ca = test_ca
[test_ca]
dir = ca
database = ca/index.txt
serial = ca/serial
new_certs_dir = ca
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[any]
commonName = supplied
[server]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $ENV::SAN
CNF

# server NAME CN SAN START END
server() {
  quiet openssl req -new -key server.key -subj "/CN=$2" -out "$1.csr"
  SAN=$3 quiet openssl ca -batch -config ca.cnf -extensions server -cert ca.pem -keyfile ca.key \
    -startdate "$4" -enddate "$5" -in "$1.csr" -out "$1.pem"
  rm -f "$1.csr"
}
now=$(date -u +%Y%m%d%H%M%SZ -d '1 day ago')
later=$(date -u +%Y%m%d%H%M%SZ -d '3650 days')
server localhost localhost "DNS:localhost,IP:127.0.0.1" "$now" "$later"
server wrong_host wrong.example "DNS:wrong.example" "$now" "$later"
server expired localhost "DNS:localhost,IP:127.0.0.1" 20200101000000Z 20210101000000Z
quiet openssl req -x509 -key server.key -out self_signed.pem -days 3650 -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost,IP:127.0.0.1"
touch complete
