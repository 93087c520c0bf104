#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time: fuzz.sh BUILD_DIR SECONDS
# Leaks are left to the sanitizer test build: OpenSSL fills global caches lazily, which the
# per-input leak check would report. Seeds come from fuzz/corpus/<target>/ and from files made
# here. A finding fails the run; its input is kept in BUILD_DIR/fuzz-findings/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
seconds=${2:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Seeds that are made rather than committed: a PFX in both encodings.
seeds="$work/seeds"
mkdir -p "$seeds/fuzz_pfx_import" "$seeds/fuzz_cert_decode"
auth="$top/tests/fixtures/authority"
cp "$auth/root-a.pem" "$auth/issuing-b3.pem" "$seeds/fuzz_cert_decode/"
openssl x509 -in "$auth/root-b.pem" -outform DER -out "$seeds/fuzz_cert_decode/root-b.der"
openssl pkcs12 -export -inkey "$auth/issuing-a1.key" -in "$auth/issuing-a1.pem" \
  -passout pass:fuzz -out "$seeds/fuzz_pfx_import/modern.pfx"
openssl pkcs12 -export -legacy -inkey "$auth/issuing-a1.key" -in "$auth/issuing-a1.pem" \
  -passout pass:fuzz -out "$seeds/fuzz_pfx_import/legacy.pfx" 2>/dev/null || true
# Requests and certificates for the CSR and certificate tools.
mkdir -p "$seeds/fuzz_cert_req" "$seeds/fuzz_zorvat_cert"
openssl req -new -key "$auth/issuing-a1.key" -subj "/CN=fuzz/O=Corvane" -out "$seeds/fuzz_cert_req/req.pem"
openssl req -in "$seeds/fuzz_cert_req/req.pem" -outform DER -out "$seeds/fuzz_cert_req/req.der"
sed -n '2,/END/p' "$seeds/fuzz_cert_req/req.pem" | grep -v -- '-----' >"$seeds/fuzz_cert_req/req.b64"
cp "$auth/root-a.pem" "$seeds/fuzz_zorvat_cert/"
openssl x509 -in "$auth/root-b.pem" -outform DER -out "$seeds/fuzz_zorvat_cert/root-b.der"
openssl pkcs12 -export -inkey "$auth/issuing-a1.key" -in "$auth/issuing-a1.pem" \
  -passout pass:fuzz -out "$seeds/fuzz_zorvat_cert/key.pfx"
# The 89-byte probe cabinet: 123456.txt, MSZIP.
mkdir -p "$seeds/fuzz_cab_image"
printf '\x4d\x53\x43\x46\x00\x00\x00\x00\x59\x00\x00\x00\x00\x00\x00\x00\x2c\x00\x00\x00\x00\x00\x00'\
'\x00\x03\x01\x01\x00\x01\x00\x00\x00\x00\x00\x00\x00\x47\x00\x00\x00\x01\x00\x01\x00\x06\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\xf8\x46\xc3\x54\x20\x01\x31\x32\x33\x34\x35\x36\x2e\x74\x78'\
'\x74\x00\x7b\x7e\x04\x01\x0a\x00\x06\x00\x43\x4b\x33\x34\x32\x36\x31\x35\x03\x00' > "$seeds/fuzz_cab_image/probe.cab"

# Install inputs: a PEM bundle, a DER certificate and a PKCS #7 bundle.
mkdir -p "$seeds/fuzz_install_input"
cat "$auth/issuing-a1.pem" "$auth/root-a.pem" >"$seeds/fuzz_install_input/bundle.pem"
openssl x509 -in "$auth/root-a.pem" -outform DER -out "$seeds/fuzz_install_input/root-a.der"
openssl crl2pkcs7 -nocrl -certfile "$seeds/fuzz_install_input/bundle.pem" -outform DER \
  -out "$seeds/fuzz_install_input/bundle.p7b"
printf 'CN=Example, O=Example Ltd, C=CN' >"$seeds/fuzz_install_input/subject.txt"

# PE seeds: small images compiled from the test sources, one of them also signed.
pe="$seeds/fuzz_pe_image"
src="$top/tests/fixtures/images"
mkdir -p "$pe"
if command -v x86_64-w64-mingw32-gcc >/dev/null; then
  x86_64-w64-mingw32-gcc -O2 -s -nostdlib -ffreestanding -Wl,--subsystem,native \
    -Wl,-e,DriverEntry "$src/driver.c" -o "$pe/driver.sys"
  x86_64-w64-mingw32-gcc -O2 -s -nostdlib -ffreestanding -Wl,--subsystem,10 \
    -Wl,-e,efi_main "$src/efi_app.c" -o "$pe/app.efi"
  if command -v osslsigncode >/dev/null; then
    osslsigncode sign -certs "$auth/issuing-a1.pem" -key "$auth/issuing-a1.key" \
      -in "$pe/driver.sys" -out "$pe/driver-signed.sys" >/dev/null
  fi
fi
# Signed messages: a plain CMS signature and the Authenticode signature of the signed driver.
mkdir -p "$seeds/fuzz_signed_message"
printf 'seed' >"$work/content"
openssl cms -sign -binary -nosmimecap -outform DER -signer "$auth/issuing-a1.pem" \
  -inkey "$auth/issuing-a1.key" -in "$work/content" -out "$seeds/fuzz_signed_message/cms.der"
if [ -f "$pe/driver-signed.sys" ]; then
  osslsigncode extract-signature -in "$pe/driver-signed.sys" \
    -out "$seeds/fuzz_signed_message/authenticode.der" >/dev/null 2>&1 || true
fi
if command -v i686-w64-mingw32-gcc >/dev/null; then
  i686-w64-mingw32-gcc -O2 -s -shared "$src/library.c" -o "$pe/library-x86.dll"
fi

# An installer package built with wixl from the test package's source.
mkdir -p "$seeds/fuzz_compound_file"
if command -v wixl >/dev/null; then
  (cd "$work" && printf 'readme\n' >readme.txt && printf 'payload\n' >payload.txt &&
    wixl -o "$seeds/fuzz_compound_file/sample.msi" "$top/tests/fixtures/packages/sample.wxs")
fi

for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$work/corpus/$name"
  mkdir -p "$corpus"
  [ -d "$top/fuzz/corpus/$name" ] && cp -r "$top/fuzz/corpus/$name/." "$corpus/"
  [ -d "$seeds/$name" ] && cp -r "$seeds/$name/." "$corpus/"
  echo "-- $name for ${seconds}s"
  if ! (cd "$work" && "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -detect_leaks=0 -artifact_prefix="$work/$name-" "$corpus" >"$work/$name.log" 2>&1); then
    tail -n 40 "$work/$name.log"
    mkdir -p "$build/fuzz-findings"
    cp "$work/$name"-* "$build/fuzz-findings/" 2>/dev/null || true
    echo "$name found a failure; input kept in $build/fuzz-findings/"
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$work/$name.log" || true
done
