#!/usr/bin/env bash
# Signing benchmark, everything timestamped by the test timestamp server on 127.0.0.1 and
# measured side by side in one run: the fixed cost of a run, large PE images, many small DLLs
# in one run, a large installer package and a large cabinet. Each figure is the best wall
# time of BENCH_REPEAT runs (the machine may be shared) with that run's peak RSS, beside one
# SHA-256 pass over the same data (openssl dgst, the floor for any signer) and osslsigncode.
#
#   bench/run.sh [IMAGE_MIBS (default "200 1024")] [DLL_COUNTS (default "150 1000")]
#                [PACKAGE_MIB (default 1024)]
#
# Environment:
#   BENCH_SECTIONS  what runs (default "startup pe dlls msi cab")
#   BENCH_REPEAT    runs per figure (default 3)
#   BENCH_JOBS      --jobs of the many-DLL run beside the one-at-a-time run (default 8: more
#                   than the cores, as each file also waits for the timestamp server and the disk)
#   BENCH_BUILD     a build directory to take the programs from instead of building
#                   build-bench (Release)
#   BENCH_BEFORE    another corvanecode-cli (an earlier build) measured beside this one
#   BENCH_DIR       where the files are made (default /tmp)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
image_mibs=${1:-200 1024}
dll_counts=${2:-150 1000}
package_mib=${3:-1024}
repeat=${BENCH_REPEAT:-3}
jobs=${BENCH_JOBS:-8}
sections=" ${BENCH_SECTIONS:-startup pe dlls msi cab} "
if [ -n "${BENCH_BUILD:-}" ]; then
  build=$(cd "$BENCH_BUILD" && pwd)
else
  build="$top/build-bench"
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_GUI=OFF >/dev/null
fi
ninja -C "$build" corvanecode-cli corvane-test-tsa corvane-bench-make-pe corvane-bench-make-msi >/dev/null
cli="$build/corvanecode-cli"
before=${BENCH_BEFORE:-}

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
# The reputation service is a closed port on 127.0.0.1: nothing is scanned and nothing leaves
# the machine.
export CORVANECODE_PROGRAM_DIR="$work" CORVANECODE_PFX_PASSWORD=bench \
  CORVANECODE_TIMESTAMP_HOST="$host" CORVANECODE_SCAN_HOST=127.0.0.1:9
have_ossl=0
command -v osslsigncode >/dev/null && have_ossl=1
ossl=(osslsigncode sign -pkcs12 "$work/b.pfx" -pass bench -h sha256 -t "http://$host/timestamp")

# time_once LABEL PREPARE COMMAND...: runs PREPARE (shell text) untimed, then the command,
# keeping the best wall seconds per label and that run's peak RSS (MiB).
declare -A wall rss
time_once() {
  local label=$1 prepare=$2
  shift 2
  local start end w m
  eval "$prepare"
  sync
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
    # A signing that is not complete fails the benchmark; osslsigncode's stderr says why.
    cat "$work/err"
    exit 1
  }
  end=$(date +%s%N)
  w=$(echo "scale=3; ($end - $start) / 1000000000" | bc)
  read -r m <"$work/time"
  if [ -z "${wall[$label]:-}" ] || (($(echo "$w < ${wall[$label]}" | bc))); then
    wall[$label]=$w
    rss[$label]=$((m / 1024))
  fi
}
report() { printf '%-58s %8.3f s %6d MiB\n' "$1" "${wall[$1]}" "${rss[$1]}"; }

# measure LABEL PREPARE COMMAND...: the best of $repeat runs.
measure() {
  unset "wall[$1]"
  for _ in $(seq "$repeat"); do time_once "$@"; done
  report "$1"
}
ratio() { echo "scale=2; ${wall[$1]} / ${wall[$2]}" | bc; }
millis() { echo "${wall[$1]} * 1000 / 1" | bc; }

# measure_ours LABEL PREPARE ARGS...: corvanecode-cli, and the earlier build beside it, their
# runs taking turns so that a change in the machine's load touches both alike.
measure_ours() {
  local label=$1 prepare=$2
  shift 2
  unset "wall[$label]" "wall[$label (before)]"
  for _ in $(seq "$repeat"); do
    time_once "$label" "$prepare" "$cli" "$@"
    if [ -n "$before" ]; then time_once "$label (before)" "$prepare" "$before" "$@"; fi
  done
  report "$label"
  if [ -n "$before" ]; then report "$label (before)"; fi
}

dll=$("$build/bench/corvane-bench-make-pe" "$work/probe.exe" 4096)
rm -f "$work/probe.exe"

if [[ $sections == *" startup "* ]]; then
  echo
  echo "== fixed cost of a run"
  cp "$dll" "$work/small.dll"
  saved_repeat=$repeat
  repeat=$((repeat * 5))
  measure_ours "corvanecode-cli --version" "" --version
  measure_ours "corvanecode-cli sign, one small DLL" "cp '$dll' '$work/small.dll'" sign --pfx "$work/b.pfx" "$work/small.dll"
  repeat=$saved_repeat
  # CPU time tells the same on a busy machine, where the wall time includes waiting for a core.
  if command -v perf >/dev/null; then
    for program in "$cli" $before; do
      cpu=$(perf stat -x, -e task-clock -r $((repeat * 5)) "$program" sign --pfx "$work/b.pfx" "$work/small.dll" \
        2>&1 >/dev/null | awk -F, '/task-clock/ {printf "%.1f", $1}')
      printf '%-58s %8s ms CPU\n' "one small DLL, $( [ "$program" = "$cli" ] && echo this build || echo before)" "$cpu"
    done
  fi
  echo "target: under 40 ms per run: $(millis "corvanecode-cli sign, one small DLL") ms"
fi

if [[ $sections == *" pe "* ]]; then
  for mib in $image_mibs; do
    echo
    echo "== ${mib} MiB PE image"
    "$build/bench/corvane-bench-make-pe" "$work/pristine.exe" $((mib * 1024 * 1024)) >/dev/null
    # Real images have no holes: allocate every block, as a build would have written them.
    cp --sparse=never "$work/pristine.exe" "$work/big.exe"
    mv "$work/big.exe" "$work/pristine.exe"
    restore="cp '$work/pristine.exe' '$work/big.exe'"
    eval "$restore"
    cat "$work/big.exe" >/dev/null
    measure "openssl dgst -sha256 (floor)" "" openssl dgst -sha256 "$work/big.exe"
    measure_ours "corvanecode-cli sign" "$restore" sign --pfx "$work/b.pfx" "$work/big.exe"
    if [ $have_ossl = 1 ]; then
      measure "osslsigncode sign" "rm -f '$work/big-o.exe'" "${ossl[@]}" -in "$work/pristine.exe" -out "$work/big-o.exe"
    fi
    echo "target: at most 1.3 x the SHA-256 pass: $(ratio "corvanecode-cli sign" "openssl dgst -sha256 (floor)") x;" \
      "peak RSS under 64 MiB: ${rss[corvanecode-cli sign]} MiB"
    rm -f "$work/big.exe" "$work/big-o.exe" "$work/pristine.exe"
  done
fi

if [[ $sections == *" dlls "* ]]; then
  for count in $dll_counts; do
    echo
    echo "== ${count} timestamped DLLs"
    rm -rf "$work/dlls" "$work/dlls-o"
    mkdir -p "$work/dlls" "$work/dlls-o"
    for i in $(seq "$count"); do cp "$dll" "$work/dlls/lib$i.dll"; done
    restore="for f in '$work'/dlls/*.dll; do cp '$dll' \"\$f\"; done"
    measure "openssl dgst -sha256 over all (floor)" "" openssl dgst -sha256 "$work"/dlls/*.dll
    measure_ours "corvanecode-cli sign, one run" "$restore" sign --pfx "$work/b.pfx" "$work"/dlls/*.dll
    measure "corvanecode-cli sign --jobs $jobs, one run" "$restore" "$cli" sign --jobs "$jobs" --pfx "$work/b.pfx" "$work"/dlls/*.dll
    if [ $have_ossl = 1 ]; then
      cat >"$work/ossl-loop.sh" <<LOOP
for f in "$work"/dlls/*.dll; do
  osslsigncode sign -pkcs12 "$work/b.pfx" -pass bench -h sha256 -t "http://$host/timestamp" \
    -in "\$f" -out "$work/dlls-o/\$(basename "\$f")" >/dev/null
done
LOOP
      measure "osslsigncode sign, one process per file" "rm -f '$work'/dlls-o/*" bash "$work/ossl-loop.sh"
      echo "target: at least 5 x faster than osslsigncode per file:" \
        "$(ratio "osslsigncode sign, one process per file" "corvanecode-cli sign, one run") x one at a time," \
        "$(ratio "osslsigncode sign, one process per file" "corvanecode-cli sign --jobs $jobs, one run") x with --jobs $jobs"
    fi
    rm -rf "$work/dlls" "$work/dlls-o"
  done
fi

if [[ $sections == *" msi "* ]]; then
  echo
  echo "== ${package_mib} MiB installer package (one large stream)"
  "$build/bench/corvane-bench-make-msi" "$work/pristine.msi" $((package_mib * 1024 * 1024))
  cp --sparse=never "$work/pristine.msi" "$work/big.msi"
  mv "$work/big.msi" "$work/pristine.msi"
  restore="cp '$work/pristine.msi' '$work/big.msi'"
  eval "$restore"
  cat "$work/big.msi" >/dev/null
  measure "openssl dgst -sha256 (floor), msi" "" openssl dgst -sha256 "$work/big.msi"
  measure_ours "corvanecode-cli sign, msi" "$restore" sign --pfx "$work/b.pfx" "$work/big.msi"
  if [ $have_ossl = 1 ]; then
    measure "osslsigncode sign, msi" "rm -f '$work/big-o.msi'" "${ossl[@]}" -in "$work/pristine.msi" -out "$work/big-o.msi"
  fi
  echo "target: at most 2 x the SHA-256 pass: $(ratio "corvanecode-cli sign, msi" "openssl dgst -sha256 (floor), msi") x;" \
    "peak RSS under 64 MiB: ${rss[corvanecode-cli sign, msi]} MiB"
  rm -f "$work/big.msi" "$work/big-o.msi" "$work/pristine.msi"
fi

if [[ $sections == *" cab "* ]]; then
  echo
  echo "== ${package_mib} MiB cabinet (stored, as gcab writes it: no signature reserve yet)"
  head -c $((package_mib * 1024 * 1024)) /dev/urandom >"$work/payload.bin"
  gcab -c -n "$work/pristine.cab" "$work/payload.bin"
  rm "$work/payload.bin"
  restore="cp '$work/pristine.cab' '$work/big.cab'"
  eval "$restore"
  cat "$work/big.cab" >/dev/null
  measure "openssl dgst -sha256 (floor), cabinet" "" openssl dgst -sha256 "$work/big.cab"
  measure_ours "corvanecode-cli sign, cabinet" "$restore" sign --pfx "$work/b.pfx" "$work/big.cab"
  # The same cabinet signed again: it has its signature reserve now.
  measure_ours "corvanecode-cli sign, cabinet signed before" "" sign --pfx "$work/b.pfx" "$work/big.cab"
  if [ $have_ossl = 1 ]; then
    measure "osslsigncode sign, cabinet" "rm -f '$work/big-o.cab'" "${ossl[@]}" -in "$work/pristine.cab" -out "$work/big-o.cab"
  fi
  echo "target: at most 2 x the SHA-256 pass: $(ratio "corvanecode-cli sign, cabinet" "openssl dgst -sha256 (floor), cabinet") x;" \
    "peak RSS under 64 MiB: ${rss[corvanecode-cli sign, cabinet]} MiB"
  rm -f "$work/big.cab" "$work/big-o.cab" "$work/pristine.cab"
fi
