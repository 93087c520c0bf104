#!/usr/bin/env bash
# Builds the Debian package: package.sh [BUILD_DIR] (default build/). Installs what is needed,
# builds the tree, packs it with CPack (dependencies from dpkg-shlibdeps) and checks the package
# with lintian, which must report no errors. The package lands in BUILD_DIR/package/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$top/build}
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" "$dir"
rm -f "$dir"/package/corvanecode_*.deb
(cd "$dir" && cpack -G DEB --config CPackConfig.cmake >/dev/null)
deb=$(ls "$dir"/package/corvanecode_*.deb)
# Warnings and notes are shown; an error fails the script.
lintian --fail-on error "$deb"
echo "$deb"
