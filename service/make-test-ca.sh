#!/bin/sh
# Creates, in the given directory, a throw-away certificate authority (ca.pem, ca.key), a server certificate it
# signs (server.pem, server.key) and a self-signed certificate nobody trusts (untrusted.pem, untrusted.key), for
# the stand-in service on loopback. Everything is valid for two days.
#
# usage: make-test-ca.sh DIR [HOST...]
#   The certificates name velmora.fr, salon.velmora.fr, *.velmora.fr, localhost and 127.0.0.1, plus every HOST.
#
# Running it again is cheap: files that are still valid for at least a day and name the same hosts are kept,
# so a CA that a test has already trusted stays the same.
set -eu
# The wildcard host name must not expand against files.
set -f

if [ $# -lt 1 ]; then
    echo "usage: $0 DIR [HOST...]" >&2
    exit 2
fi
dir=$1
shift
mkdir -p "$dir"
umask 077

names="velmora.fr salon.velmora.fr *.velmora.fr localhost"
for host in "$@"; do
    names="$names $host"
done
san=""
for name in $names; do
    san="${san:+$san,}DNS:$name"
done
san="$san,IP:127.0.0.1"

log="$dir/.openssl.log"
run() {
    if ! "$@" >"$log" 2>&1; then
        cat "$log" >&2
        exit 1
    fi
}

# Whether a certificate exists and stays valid for another day.
fresh() {
    [ -s "$1" ] && [ -s "$2" ] && openssl x509 -in "$1" -noout -checkend 86400 >/dev/null 2>&1
}

new_key() {
    run openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out "$1"
}

renewed_ca=no
if ! fresh "$dir/ca.pem" "$dir/ca.key"; then
    new_key "$dir/ca.key"
    run openssl req -x509 -new -key "$dir/ca.key" -out "$dir/ca.pem" -days 2 -sha256 \
        -subj "/O=Velmora tests/CN=Velmora Test CA" \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign"
    renewed_ca=yes
fi

if [ "$renewed_ca" = yes ] || ! fresh "$dir/server.pem" "$dir/server.key" ||
    [ "$(cat "$dir/server.names" 2>/dev/null)" != "$san" ] ||
    ! openssl verify -CAfile "$dir/ca.pem" "$dir/server.pem" >/dev/null 2>&1; then
    ext="$dir/.server.ext"
    printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
        "extendedKeyUsage=serverAuth" "subjectAltName=$san" >"$ext"
    new_key "$dir/server.key"
    run openssl req -new -key "$dir/server.key" -out "$dir/.server.csr" -subj "/O=Velmora tests/CN=velmora.fr"
    run openssl x509 -req -in "$dir/.server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
        -set_serial "0x$(openssl rand -hex 8)" -days 2 -sha256 -extfile "$ext" -out "$dir/server.pem"
    printf '%s' "$san" >"$dir/server.names"
    rm -f "$dir/.server.csr" "$ext"
fi

if ! fresh "$dir/untrusted.pem" "$dir/untrusted.key" ||
    [ "$(cat "$dir/untrusted.names" 2>/dev/null)" != "$san" ]; then
    new_key "$dir/untrusted.key"
    run openssl req -x509 -new -key "$dir/untrusted.key" -out "$dir/untrusted.pem" -days 2 -sha256 \
        -subj "/O=Velmora tests/CN=velmora.fr" \
        -addext "basicConstraints=critical,CA:FALSE" \
        -addext "subjectAltName=$san"
    printf '%s' "$san" >"$dir/untrusted.names"
fi

rm -f "$log"
# The certificates are public; only the keys stay private.
chmod 644 "$dir/ca.pem" "$dir/server.pem" "$dir/untrusted.pem"
