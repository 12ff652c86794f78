#!/bin/sh
# Makes the certificates of the TLS tests in DIR with openssl:
#   ca.pem                       a test CA the client is told to trust
#   server.pem, server.key       for 127.0.0.1 and localhost, signed by ca.pem
#   otherhost.pem, otherhost.key for other.example only, signed by ca.pem
#   rogue.pem, rogue.key         for 127.0.0.1, signed by a CA nobody trusts
#   soon.pem, soon.key           for 127.0.0.1, signed by ca.pem, ends in 5 days
#   expired.pem, expired.key     for 127.0.0.1, signed by ca.pem, ended in 2020
# The others are valid for 30 days, beyond the server's expiry warning.
set -eu
dir=$1
mkdir -p "$dir"
cd "$dir"
ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"

ca() {  # name
  openssl req -x509 $ec -keyout "$1.key" -out "$1.pem" -days 30 -subj "/CN=OSPRINE test $1" 2>/dev/null
}
leaf() {  # name ca subjectAltName [days]
  openssl req -new $ec -keyout "$1.key" -out "$1.csr" -subj "/CN=$1" 2>/dev/null
  printf 'subjectAltName=%s\n' "$3" >"$1.ext"
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days "${4:-30}" \
    -extfile "$1.ext" -out "$1.pem" 2>/dev/null
  rm -f "$1.csr" "$1.ext"
}

ca ca
ca rogueca
leaf server ca "IP:127.0.0.1,DNS:localhost"
leaf otherhost ca "DNS:other.example"
leaf rogue rogueca "IP:127.0.0.1,DNS:localhost"
leaf soon ca "IP:127.0.0.1" 5

# A certificate whose time is over: only "openssl ca" sets past dates.
printf '%s\n' '[ca]' 'default_ca = test' '[test]' 'database = expired.db' 'new_certs_dir = .' \
  'serial = expired.srl' 'default_md = sha256' 'policy = anything' '[anything]' 'commonName = supplied' >expired.cnf
: >expired.db
echo 01 >expired.srl
openssl req -new $ec -keyout expired.key -out expired.csr -subj "/CN=expired" 2>/dev/null
openssl ca -batch -config expired.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem \
  -startdate 20200101000000Z -enddate 20200201000000Z -notext 2>/dev/null
rm -f expired.cnf expired.csr expired.db* expired.srl* 01.pem
