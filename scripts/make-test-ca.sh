#!/usr/bin/env bash
# Makes a throw-away certificate authority and a code-signing certificate
# issued by it, for trying the build's signing and for the tests; never for
# a release, which is signed with the publisher's own certificate (README).
#
#   make-test-ca.sh FOLDER
#
# FOLDER gets ca.pem (the authority's certificate: verify against it),
# signer.pfx (the code-signing certificate, its key and the authority's
# certificate, PKCS#12), signer.pem (the certificate alone) and password
# (signer.pfx's password). The authority's key is not kept, so nothing else
# can be issued in its name. A folder that already holds a set valid for
# another day is left as it is: a new certificate would make the build sign
# everything again.
set -euo pipefail
dir=${1:?usage: make-test-ca.sh FOLDER}
if [ -f "$dir/ca.pem" ] && [ -f "$dir/signer.pfx" ] && [ -f "$dir/password" ] &&
  openssl x509 -checkend 86400 -noout -in "$dir/signer.pem" >/dev/null 2>&1; then
  exit 0
fi

umask 077
new=$dir.new
rm -rf "$new"
mkdir -p "$new"
days=90
# P-256 keys: made at once, where RSA keys take a second or two.
key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
openssl req -x509 "${key[@]}" -days $days -keyout "$new/ca.key" -out "$new/ca.pem" \
  -subj "/CN=Kestor throw-away test authority" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2>/dev/null
openssl req "${key[@]}" -keyout "$new/signer.key" -out "$new/signer.csr" \
  -subj "/CN=Kestor test signer" 2>/dev/null
openssl x509 -req -in "$new/signer.csr" -CA "$new/ca.pem" -CAkey "$new/ca.key" -days $days \
  -set_serial "0x$(openssl rand -hex 8)" -out "$new/signer.pem" \
  -extfile <(printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
    extendedKeyUsage=codeSigning) 2>/dev/null
openssl rand -hex 16 >"$new/password"
openssl pkcs12 -export -inkey "$new/signer.key" -in "$new/signer.pem" -certfile "$new/ca.pem" \
  -passout "file:$new/password" -out "$new/signer.pfx"
rm "$new/ca.key" "$new/signer.key" "$new/signer.csr"
rm -rf "$dir"
mv "$new" "$dir"
echo "make-test-ca: a throw-away authority and signing certificate in $dir"
