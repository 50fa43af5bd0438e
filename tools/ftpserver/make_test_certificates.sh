#!/bin/sh
# Makes the certificates of the TLS tests in the folder given, with openssl: a test CA
# (ca.pem), one server key (server.key) and certificates for it: server.pem for 127.0.0.1 and
# localhost, expired.pem (valid in January 2020 only), other-name.pem (for other.example), all
# signed by the test CA, and untrusted.pem, signed by a CA nobody trusts. Nothing is kept
# beyond that folder.
set -eu
cd "$1"
ec="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
openssl req -x509 $ec -keyout ca.key -out ca.pem -days 2 -subj "/CN=K9 test CA" 2>/dev/null
openssl req -x509 $ec -keyout stranger.key -out stranger.pem -days 2 -subj "/CN=Stranger CA" \
    2>/dev/null
openssl ecparam -name prime256v1 -genkey -noout -out server.key
openssl req -new -key server.key -out server.csr -subj "/CN=127.0.0.1"
printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >here.ext
printf 'subjectAltName=DNS:other.example\n' >other.ext
sign() { # out, extensions, CA name, then openssl ca's own options
    out=$1 ext=$2 ca=$3
    shift 3
    openssl ca -batch -config ca.cnf -cert "$ca.pem" -keyfile "$ca.key" -in server.csr \
        -out "$out" -extfile "$ext" -notext "$@" 2>/dev/null
}
cat >ca.cnf <<'CNF'
[ca]
default_ca = test_ca
[test_ca]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
CNF
: >index.txt
echo 1000 >serial
sign server.pem here.ext ca -days 2
sign expired.pem here.ext ca -startdate 20200101000000Z -enddate 20200131000000Z
sign other-name.pem other.ext ca -days 2
sign untrusted.pem here.ext stranger -days 2
