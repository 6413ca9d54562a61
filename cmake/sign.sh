#!/bin/sh
# Signs a Windows program in place with Authenticode (SHA-256):
#   sign.sh [-t TIMESTAMP_URL] CERT KEY FILE
# CERT is PEM with the signing certificate first and its intermediates after
# it, KEY the PEM private key. The build calls it after linking quorvel.exe
# and quorvel-check.exe and after makensis; makensis calls it on the
# uninstaller it is about to pack (!uninstfinalize), whose temporary name
# has no .exe, which osslsigncode does not mind.
set -eu

timestamp=
if [ "${1:-}" = -t ]; then
    timestamp=$2
    shift 2
fi
if [ $# -ne 3 ]; then
    echo "usage: sign.sh [-t TIMESTAMP_URL] CERT KEY FILE" >&2
    exit 2
fi
cert=$1 key=$2 file=$3

# osslsigncode will not write over its input.
signed="$file.signed"
trap 'rm -f "$signed"' EXIT
if [ -n "$timestamp" ]; then
    set -- -ts "$timestamp"
else
    set --
fi
if ! out=$(osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n Quorvel "$@" \
    -in "$file" -out "$signed" 2>&1); then
    echo "sign.sh: signing $file failed:" >&2
    echo "$out" >&2
    exit 1
fi
chmod --reference="$file" "$signed"
mv -f "$signed" "$file"
