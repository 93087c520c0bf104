#!/usr/bin/env bash
# Renders every window of the desktop program in both languages to PNG files, under Xvfb,
# after real actions (lists filled, a signing run finished, the prompts and dialogs opened):
#   screenshots.sh [OUTPUT_DIR] [BUILD_DIR]
# OUTPUT_DIR defaults to build/screenshots. CORVANE_DEMO_FILES (paths separated by ':') names
# the files the signing run signs; without it the run signs copies of the test images.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$top/build/screenshots}
build=${2:-$top/build}
ninja -C "$build" corvane_gui_screenshots corvane_test_images >/dev/null
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out"/*.png
run_dir=$(mktemp -d)
trap 'rm -rf "$run_dir"' EXIT
for lang in en zh; do
  if [ "$lang" = zh ]; then locale=zh_CN.UTF-8; else locale=C.UTF-8; fi
  mkdir -m 700 -p "$run_dir/$lang"
  LC_ALL=$locale CORVANE_SCREENSHOT_DIR="$out" XDG_RUNTIME_DIR="$run_dir/$lang" \
    xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/tests/gui/corvane_gui_screenshots" -silent >"$run_dir/$lang.log" 2>&1 ||
    { cat "$run_dir/$lang.log"; exit 1; }
done
echo "screenshots of every window, in English (en-*) and Chinese (zh-*): $out"
ls "$out"
