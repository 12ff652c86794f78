#!/bin/sh
# Makes the certificates of the TLS tests in DIR with openssl:
#   ca.pem                       a test CA the client is told to trust
#   server.pem, server.key       for 127.0.0.1 and localhost, signed by ca.pem
#   otherhost.pem, otherhost.key for other.example only, signed by ca.pem
#   rogue.pem, rogue.key         for 127.0.0.1, signed by a CA nobody trusts
set -eu
dir=$1
mkdir -p "$dir"
cd "$dir"
ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"

ca() {  # name
  openssl req -x509 $ec -keyout "$1.key" -out "$1.pem" -days 2 -subj "/CN=OSPRINE test $1" 2>/dev/null
}
leaf() {  # name ca subjectAltName
  openssl req -new $ec -keyout "$1.key" -out "$1.csr" -subj "/CN=$1" 2>/dev/null
  printf 'subjectAltName=%s\n' "$3" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  rm -f "$1.csr" "$1.ext"
}

ca ca
ca rogueca
leaf server ca "IP:127.0.0.1,DNS:localhost"
leaf otherhost ca "DNS:other.example"
leaf rogue rogueca "IP:127.0.0.1,DNS:localhost"
