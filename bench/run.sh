#!/usr/bin/env bash
# Signing benchmark: a large PE image, a thousand small DLLs, a large installer package and a
# large cabinet, each timestamped by the test timestamp server on 127.0.0.1. Prints wall time
# and peak RSS beside one SHA-256 pass over the same data (openssl dgst, the floor for any
# signer) and osslsigncode when installed.
#   bench/run.sh [IMAGE_MIB (default 1024)] [DLL_COUNT (default 1000)] [CABINET_MIB (default 1024)]
# BENCH_SECTIONS picks what runs (default "pe dlls msi cab").
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mib=${1:-1024}
count=${2:-1000}
cab_mib=${3:-1024}
build="$top/build-bench"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" corvanecode-cli corvane-test-tsa corvane-bench-make-pe corvane-bench-make-msi >/dev/null
sections=" ${BENCH_SECTIONS:-pe dlls msi cab} "
cli="$build/corvanecode-cli"

work=$(mktemp -d "${BENCH_DIR:-/tmp}/corvane-bench-XXXXXX")
tsa_pid=""
trap '[ -n "$tsa_pid" ] && kill $tsa_pid 2>/dev/null; rm -rf "$work"' EXIT
auth="$top/tests/fixtures/authority"

# A certificate of the test hierarchy in a PFX, and the timestamp server.
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/k.pem" 2>/dev/null
printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n' >"$work/ext"
openssl req -new -key "$work/k.pem" -subj "/CN=Bench Publisher" -out "$work/c.csr"
openssl x509 -req -in "$work/c.csr" -CA "$auth/issuing-b1.pem" -CAkey "$auth/issuing-b1.key" -sha256 \
  -days 30 -set_serial 0x42 -extfile "$work/ext" -out "$work/c.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/k.pem" -in "$work/c.pem" -certfile "$auth/issuing-b1.pem" \
  -passout pass:bench -out "$work/b.pfx"
"$build/tests/corvane-test-tsa" --port 0 >"$work/tsa.out" &
tsa_pid=$!
for _ in $(seq 50); do grep -q listening "$work/tsa.out" 2>/dev/null && break; sleep 0.1; done
host=$(sed -n 's/^listening on //p' "$work/tsa.out")
export CORVANECODE_PROGRAM_DIR="$work" CORVANECODE_PFX_PASSWORD=bench

if [[ $sections == *" pe "* || $sections == *" dlls "* ]]; then
echo "making a ${mib} MiB image and ${count} DLLs in $work"
dll=$("$build/bench/corvane-bench-make-pe" "$work/big.exe" $((mib * 1024 * 1024)))
# Real images have no holes: allocate every block, as a build would have written them.
cp --sparse=never "$work/big.exe" "$work/big.tmp" && mv "$work/big.tmp" "$work/big.exe"
mkdir -p "$work/dlls" "$work/dlls-o"
for i in $(seq "$count"); do cp "$dll" "$work/dlls/lib$i.dll"; done
cp "$work/big.exe" "$work/big-o.exe"
[[ $sections == *" pe "* ]] || rm -f "$work/big.exe" "$work/big-o.exe"
fi

# measure LABEL COMMAND... : wall seconds and peak RSS (MiB) of the command
declare -A wall rss
measure() {
  local label=$1
  shift
  sync
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
  read -r w m <"$work/time"
  wall[$label]=$w
  rss[$label]=$((m / 1024))
  printf '%-44s %8.2f s %8d MiB\n' "$label" "$w" "${rss[$label]}"
}

have_ossl=0
command -v osslsigncode >/dev/null && have_ossl=1
if [[ $sections == *" pe "* ]]; then
echo
echo "== ${mib} MiB PE image"
cat "$work/big.exe" >/dev/null
measure "openssl dgst -sha256 (floor)" openssl dgst -sha256 "$work/big.exe"
measure "corvanecode-cli sign" "$cli" sign --pfx "$work/b.pfx" --timestamp-host "$host" "$work/big.exe"
if [ $have_ossl = 1 ]; then
  measure "osslsigncode sign" osslsigncode sign -pkcs12 "$work/b.pfx" -pass bench -h sha256 \
    -t "http://$host/timestamp" -in "$work/big-o.exe" -out "$work/big-o-signed.exe"
fi
echo "target: at most 1.5 x the SHA-256 pass: $(echo "scale=2; ${wall[corvanecode-cli sign]} / ${wall[openssl dgst -sha256 (floor)]}" | bc) x"
rm -f "$work/big.exe" "$work/big-o.exe" "$work/big-o-signed.exe"
fi

if [[ $sections == *" dlls "* ]]; then
echo
echo "== ${count} DLLs"
measure "openssl dgst -sha256 over all (floor)" openssl dgst -sha256 "$work"/dlls/*.dll
measure "corvanecode-cli sign, one run" "$cli" sign --pfx "$work/b.pfx" --timestamp-host "$host" "$work"/dlls/*.dll
if [ $have_ossl = 1 ]; then
  cat >"$work/ossl-loop.sh" <<LOOP
for f in "$work"/dlls-o/../dlls/*.dll; do
  osslsigncode sign -pkcs12 "$work/b.pfx" -pass bench -h sha256 -t "http://$host/timestamp" \
    -in "\$f" -out "$work/dlls-o/\$(basename "\$f")" >/dev/null
done
LOOP
  measure "osslsigncode sign, one process per file" bash "$work/ossl-loop.sh"
  echo "target: at least 5 x faster than osslsigncode per file: $(echo "scale=1; ${wall[osslsigncode sign, one process per file]} / ${wall[corvanecode-cli sign, one run]}" | bc) x"
fi
fi

if [[ $sections == *" msi "* ]]; then
  echo
  echo "== ${mib} MiB installer package (one large stream)"
  "$build/bench/corvane-bench-make-msi" "$work/big.msi" $((mib * 1024 * 1024))
  cp --sparse=never "$work/big.msi" "$work/big.tmp" && mv "$work/big.tmp" "$work/big.msi"
  cp "$work/big.msi" "$work/big-o.msi"
  cat "$work/big.msi" >/dev/null
  measure "openssl dgst -sha256 (floor), msi" openssl dgst -sha256 "$work/big.msi"
  measure "corvanecode-cli sign, msi" "$cli" sign --pfx "$work/b.pfx" --timestamp-host "$host" "$work/big.msi"
  if [ $have_ossl = 1 ]; then
    measure "osslsigncode sign, msi" osslsigncode sign -pkcs12 "$work/b.pfx" -pass bench -h sha256 \
      -t "http://$host/timestamp" -in "$work/big-o.msi" -out "$work/big-o-signed.msi"
  fi
  echo "target: at most 2 x the SHA-256 pass: $(echo "scale=2; ${wall[corvanecode-cli sign, msi]} / ${wall[openssl dgst -sha256 (floor), msi]}" | bc) x; peak RSS under 64 MiB: ${rss[corvanecode-cli sign, msi]} MiB"
fi

if [[ $sections == *" cab "* ]]; then
  echo
  echo "== ${cab_mib} MiB cabinet (stored, as gcab writes it: no signature reserve yet)"
  head -c $((cab_mib * 1024 * 1024)) /dev/urandom >"$work/payload.bin"
  gcab -c -n "$work/big.cab" "$work/payload.bin"
  rm "$work/payload.bin"
  cp "$work/big.cab" "$work/big-o.cab"
  cat "$work/big.cab" >/dev/null
  measure "openssl dgst -sha256 (floor), cabinet" openssl dgst -sha256 "$work/big.cab"
  measure "corvanecode-cli sign, cabinet" "$cli" sign --pfx "$work/b.pfx" --timestamp-host "$host" "$work/big.cab"
  measure "corvanecode-cli sign, cabinet signed before" "$cli" sign --pfx "$work/b.pfx" --timestamp-host "$host" "$work/big.cab"
  echo "target: at most 2 x the SHA-256 pass: $(echo "scale=2; ${wall[corvanecode-cli sign, cabinet]} / ${wall[openssl dgst -sha256 (floor), cabinet]}" | bc) x; peak RSS under 64 MiB: ${rss[corvanecode-cli sign, cabinet]} MiB"
  if [ $have_ossl = 1 ]; then
    measure "osslsigncode sign, cabinet" osslsigncode sign -pkcs12 "$work/b.pfx" -pass bench -h sha256 \
      -t "http://$host/timestamp" -in "$work/big-o.cab" -out "$work/big-o-signed.cab"
    echo "target: faster than osslsigncode: $(echo "scale=2; ${wall[osslsigncode sign, cabinet]} / ${wall[corvanecode-cli sign, cabinet]}" | bc) x"
  fi
fi
