#!/usr/bin/env bash
# Certificates for the portal over TLS, made afresh by each test that needs
# them, into a build folder (never committed):
#
#   test-certs.sh FOLDER
#
#   ca.der             "Quorvel Test CA", which the test trusts in its prefix
#   server.key         the key of the three server certificates below
#   localhost.pem      for localhost, issued by that CA
#   other-host.pem     for portal.invalid, issued by that CA
#   stranger.pem       for localhost, issued by a CA nobody trusts
#
# Valid for two days: long enough for any run, short enough to be worthless.
# The authorities sign with RSA: Wine 8 rejects an ECDSA certificate
# signature whose r or s is shorter than 32 bytes (about 1 in 128) as
# signed by an unknown authority, where an RSA signature has one length.
# The server key is P-256, which takes milliseconds to make.
set -euo pipefail

[[ $# -eq 1 ]] || { sed -n '2,11p' "$0" >&2; exit 2; }
mkdir -p "$1"
cd "$1"

# A certificate authority: its key and its self-signed certificate.
authority() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 \
        -subj "/CN=$2" -keyout "$1.key" -out "$1.pem" 2>/dev/null
}

# A server certificate for the DNS name $2 from authority $3, as $1.pem.
server() {
    openssl req -new -key server.key -subj "/CN=$2" -out "$1.csr"
    printf 'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\n%s\n%s\n' \
        'extendedKeyUsage=serverAuth' "subjectAltName=DNS:$2" >"$1.ext"
    openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -set_serial "0x$(openssl rand -hex 8)" \
        -days 2 -extfile "$1.ext" -out "$1.pem" 2>/dev/null
    rm -f "$1.csr" "$1.ext"
}

authority ca "Quorvel Test CA"
authority stranger-ca "Quorvel Stranger CA"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out server.key
server localhost localhost ca
server other-host portal.invalid ca
server stranger localhost stranger-ca
openssl x509 -in ca.pem -outform der -out ca.der
rm -f ca.key stranger-ca.key
