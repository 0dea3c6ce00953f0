#!/usr/bin/env bash
# Makes the certificates of the HTTPS tests (already committed; run again only to renew them):
# an authority that only the test processes trust, a certificate of it for the test build's
# hosts, one of it for another name, and one for the right names from an authority nobody trusts.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
days=36500
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
authority() { # name subject
    key "$1.key"
    openssl req -x509 -new -key "$1.key" -sha256 -days $days -subj "/CN=$2" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -out "$1.pem"
}
leaf() { # name authority names...
    local name=$1 ca=$2
    shift 2
    local san
    san=$(printf 'DNS:%s,' "$@")
    key "$name.key"
    openssl req -new -key "$name.key" -subj "/CN=$1" -out "$name.csr"
    openssl x509 -req -in "$name.csr" -CA "$ca.pem" -CAkey "$ca.key" -CAcreateserial -sha256 \
        -days $days -out "$name.pem" -extfile <(printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "${san%,}")
    rm -f "$name.csr" "$ca.srl"
}
authority ca "Vestrahal test authority"
authority stranger "An authority nobody trusts"
leaf server ca vestrahal.test www.vestrahal.test
leaf wrongname ca autre.test www.autre.test
leaf untrusted stranger vestrahal.test www.vestrahal.test
rm -f ca.key stranger.key stranger.pem
