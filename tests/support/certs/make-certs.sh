#!/usr/bin/env bash
# Writes the test bench's certificates into this folder. The outputs are kept in the
# repository, so this only runs when a certificate must change; the bench embeds them.
#   bench-ca.pem          the authority the tests trust (written as "cacert.pem" for them)
#   other-ca.pem          an authority nobody trusts
#   server-good.pem       bench CA, names localhost, 127.0.0.1 and ::1, valid 2000 to 2099
#   server-wrong-host.pem bench CA, names only mail.example.invalid
#   server-expired.pem    bench CA, right names, valid only during the year 2000
#   server-untrusted.pem  other CA, right names
#   server-self-signed.pem  its own issuer, right names
# Each server file holds the certificate followed by its private key (EC P-256: small and fast).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

right_names="DNS:localhost,IP:127.0.0.1,IP:::1"

new_key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }

make_authority() { # name subject
  new_key "$1.key"
  openssl req -new -key "$1.key" -subj "$2" -out "$1.csr"
  printf '%s\n' "basicConstraints=critical,CA:TRUE" "keyUsage=critical,keyCertSign,cRLSign" \
    "subjectKeyIdentifier=hash" >"$1.ext"
  sign "$1" "$1" "$valid_from" "$valid_until" -selfsign
}

server_extensions() { # names
  cat <<EXT
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=$1
EXT
}

# `openssl ca` is the one 3.0 command that accepts explicit validity dates; fixed dates keep
# the checked-in files valid whatever the clock of the machine that made them said.
sign() { # name authority startdate enddate [-selfsign]
  rm -rf db && mkdir db && : >db/index.txt && echo 1000 >db/serial
  cat >ca.cnf <<CNF
[ca]
default_ca = bench
[bench]
dir = db
database = db/index.txt
serial = db/serial
new_certs_dir = db
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = supplied
CNF
  local issuer=(-cert "$2.crt")
  [ "${5:-}" = -selfsign ] && issuer=(-selfsign)
  openssl ca -batch -notext -config ca.cnf "${issuer[@]}" -keyfile "$2.key" -in "$1.csr" \
    -extfile "$1.ext" -startdate "$3" -enddate "$4" -out "$1.crt" 2>/dev/null
}

sign_server() { # name authority names startdate enddate [-selfsign]
  new_key "$1.key"
  openssl req -new -key "$1.key" -subj "/CN=$(echo "$3" | sed 's/^DNS://; s/,.*//')" -out "$1.csr"
  server_extensions "$3" >"$1.ext"
  sign "$1" "$2" "$4" "$5" ${6:-}
  cat "$1.crt" "$1.key" >"$1.pem"
}

valid_from=20000101000000Z
valid_until=20991231235959Z

make_authority bench-ca "/CN=pellwick test bench CA"
cp bench-ca.crt bench-ca.pem
make_authority other-ca "/CN=untrusted test CA"
cp other-ca.crt other-ca.pem
sign_server server-good bench-ca "$right_names" "$valid_from" "$valid_until"
sign_server server-wrong-host bench-ca "DNS:mail.example.invalid" "$valid_from" "$valid_until"
sign_server server-expired bench-ca "$right_names" 20000101000000Z 20001231235959Z
sign_server server-untrusted other-ca "$right_names" "$valid_from" "$valid_until"
sign_server server-self-signed server-self-signed "$right_names" "$valid_from" "$valid_until" -selfsign

cp bench-ca.pem other-ca.pem server-*.pem "$here/"
echo "certificates written to $here"
