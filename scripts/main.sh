#!/usr/bin/env bash
# The main job: installs what is needed, builds, and shows the command-line front end on a
# freshly issued test certificate of the Corvane test hierarchy.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" "$top/build" -DCORVANE_TESTS=OFF
cli="$top/build/corvanecode-cli"

demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
auth="$top/tests/fixtures/authority"
cat >"$demo/leaf.ext" <<'EXT'
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EXT
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$demo/leaf.key" 2>/dev/null
openssl req -new -utf8 -key "$demo/leaf.key" -subj "/C=CN/O=Demo Software Ltd/CN=Demo Software Ltd" \
  -out "$demo/leaf.csr"
openssl x509 -req -in "$demo/leaf.csr" -CA "$auth/issuing-b1.pem" -CAkey "$auth/issuing-b1.key" \
  -sha256 -days 365 -set_serial "0x$(openssl rand -hex 8)" -extfile "$demo/leaf.ext" \
  -out "$demo/leaf.pem" 2>/dev/null
cat "$auth/issuing-b1.pem" "$auth/root-b.pem" >"$demo/chain.pem"
export DEMO_PFX_PASSWORD="demo-$(openssl rand -hex 4)"
openssl pkcs12 -export -inkey "$demo/leaf.key" -in "$demo/leaf.pem" -certfile "$demo/chain.pem" \
  -passout env:DEMO_PFX_PASSWORD -out "$demo/demo.pfx"

echo "== corvanecode-cli cert-info on a test certificate issued by the Corvane test hierarchy"
CORVANECODE_PROGRAM_DIR="$demo" "$cli" cert-info --pfx "$demo/demo.pfx" --password-env DEMO_PFX_PASSWORD
echo "== the same file with a wrong password"
CORVANECODE_PROGRAM_DIR="$demo" "$cli" cert-info --pfx "$demo/demo.pfx" --password wrong || echo "(exit status $?)"
