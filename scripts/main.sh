#!/usr/bin/env bash
# The main job: installs what is needed, builds, and signs sample Windows files (images, an
# installer package, a cabinet and a catalog made on the spot) with a freshly issued
# certificate of the Corvane test hierarchy, timestamped by the bundled test timestamp server
# and checked by the bundled file-reputation service, both on 127.0.0.1, then verifies them
# (with our verifier and osslsigncode).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$top/build" corvanecode corvane_gui_screenshots corvanecode-cli corvane-test-tsa corvane-test-services corvane_test_images \
  corvane_test_packages
cli="$top/build/corvanecode-cli"
images="$top/build/tests/fixtures/images"

demo=$(mktemp -d)
tsa_pid=""
services_pid=""
cleanup() {
  [ -n "$tsa_pid" ] && kill "$tsa_pid" 2>/dev/null || true
  [ -n "$services_pid" ] && kill "$services_pid" 2>/dev/null || true
  rm -rf "$demo"
}
trap cleanup EXIT
auth="$top/tests/fixtures/authority"

echo "== a code-signing certificate issued by the Corvane test hierarchy"
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
export CORVANECODE_PROGRAM_DIR="$demo"
"$cli" cert-info --pfx "$demo/demo.pfx" --password-env DEMO_PFX_PASSWORD

echo "== the test timestamp server on 127.0.0.1"
"$top/build/tests/corvane-test-tsa" --port 0 --write-root "$demo/tsa-root.pem" >"$demo/tsa.out" &
tsa_pid=$!
for _ in $(seq 50); do grep -q listening "$demo/tsa.out" 2>/dev/null && break; sleep 0.1; done
host=$(sed -n 's/^listening on //p' "$demo/tsa.out")
echo "listening on $host"

echo "== the test file-reputation service on 127.0.0.1 (it calls suspect.exe malicious)"
cp "$images/console-x86.exe" "$demo/suspect.exe"
mkdir "$demo/services"
"$top/build/tests/corvane-test-services" --dir "$demo/services" \
  --answer "$(md5sum "$demo/suspect.exe" | cut -d' ' -f1)=70" >"$demo/services.out" &
services_pid=$!
for _ in $(seq 50); do grep -q '^ca ' "$demo/services.out" 2>/dev/null && break; sleep 0.1; done
export CORVANECODE_SCAN_HOST=$(sed -n 's/^scan //p' "$demo/services.out")
echo "listening on $CORVANECODE_SCAN_HOST"

echo "== corvanecode-cli sign: an executable, a library, a driver (kernel mode is automatic),"
echo "   an installer package, and a file the reputation service refuses"
cp "$images/console-x64.exe" "$demo/hello.exe"
cp "$images/library-x86.dll" "$demo/library.dll"
cp "$images/driver-x64.sys" "$demo/driver.sys"
cp "$top/build/tests/fixtures/packages/sample.msi" "$demo/setup.msi"
"$cli" sign --pfx "$demo/demo.pfx" --password-env DEMO_PFX_PASSWORD --timestamp-host "$host" \
  "$demo/hello.exe" "$demo/library.dll" "$demo/driver.sys" "$demo/setup.msi" "$demo/suspect.exe" ||
  echo "(suspect.exe was refused and left as it was; the others are signed)"

echo "== corvanecode-cli sign --append: a second signature nested beside the first (RFC 3161 timestamp)"
"$cli" sign --pfx "$demo/demo.pfx" --password-env DEMO_PFX_PASSWORD --timestamp-host "$host" \
  --append --rfc3161 "$demo/hello.exe"

echo "== corvanecode-cli cab --sign and cat --sign: a cabinet and a driver catalog, made and signed"
printf '[Version]\r\nSignature="$WINDOWS NT$"\r\n' >"$demo/driver.inf"
"$cli" cab --out "$demo/bundle.cab" --sign --pfx "$demo/demo.pfx" --password-env DEMO_PFX_PASSWORD \
  --timestamp-host "$host" "$demo/hello.exe" "$demo/library.dll"
"$cli" cat --out "$demo/driver.cat" --sign --pfx "$demo/demo.pfx" --password-env DEMO_PFX_PASSWORD \
  --timestamp-host "$host" "$demo/driver.sys" "$demo/driver.inf"
grep CatalogFile "$demo/driver.inf"

cat "$auth/root-a.pem" "$auth/root-b.pem" "$demo/tsa-root.pem" >"$demo/trust.pem"
echo "== corvanecode-cli verify"
"$cli" verify --trust "$demo/trust.pem" "$demo/hello.exe" "$demo/library.dll" "$demo/driver.sys" \
  "$demo/setup.msi" "$demo/bundle.cab" "$demo/driver.cat"

echo "== osslsigncode verify (an independent verifier)"
for f in hello.exe library.dll driver.sys setup.msi bundle.cab driver.cat; do
  if osslsigncode verify -CAfile "$demo/trust.pem" -TSA-CAfile "$demo/tsa-root.pem" -in "$demo/$f" >"$demo/v.log" 2>&1; then
    echo "$f: verified ($(grep -m1 'Number of verified signatures' "$demo/v.log" | tr -d '\r'))"
  else
    cat "$demo/v.log"
    exit 1
  fi
done
if osslsigncode verify -CAfile "$demo/trust.pem" -TSA-CAfile "$demo/tsa-root.pem" \
  -catalog "$demo/driver.cat" -in "$demo/driver.sys" >"$demo/v.log" 2>&1; then
  echo "driver.sys: listed in the signed driver.cat"
else
  cat "$demo/v.log"
  exit 1
fi

echo "== the desktop window, corvanecode"
mkdir -m 700 "$demo/gui" "$demo/runtime"
cp "$images/console-x64.exe" "$demo/gui/hello.exe"
cp "$images/library-x86.dll" "$demo/gui/library.dll"
cp "$images/driver-x64.sys" "$demo/gui/driver.sys"
cp "$top/build/tests/fixtures/packages/sample.msi" "$demo/gui/setup.msi"
# The window's background reports and version check go to 127.0.0.1 only.
export CORVANECODE_TIMESTAMP_HOST="$host"
export CORVANECODE_LOG_HOST=$(sed -n 's/^log //p' "$demo/services.out")
export CORVANECODE_UPDATE_HOST=$(sed -n 's/^update //p' "$demo/services.out")
export CORVANECODE_CA_BUNDLE="$demo/services/ca.pem"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "starting corvanecode; the demo certificate is $demo/demo.pfx (password $DEMO_PFX_PASSWORD),"
  echo "sample files to sign are in $demo/gui; close the window to end"
  XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$demo/runtime}" "$top/build/src/gui/corvanecode"
else
  echo "no display: driving the window under Xvfb through a signing run of the sample files"
  # The window signs the sample files with the test suite's own certificate and timestamp server.
  CORVANE_DEMO_FILES="$demo/gui/hello.exe:$demo/gui/library.dll:$demo/gui/driver.sys:$demo/gui/setup.msi" \
    bash "$top/scripts/screenshots.sh" "$top/build/screenshots" "$top/build" >"$demo/shots.log" 2>&1 ||
    { cat "$demo/shots.log"; exit 1; }
  echo "screenshots of every window, both languages, after the run: $top/build/screenshots"
fi
