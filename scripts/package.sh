#!/usr/bin/env bash
# Builds the Debian package of the updater into build/ (or $BUILD_DIR) and checks it with
# lintian. Install it with: sudo apt-get install ./build/hotspot-updater_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build}
# A release build: no sanitizers, and adb/fastboot from Debian (linked, not copied).
cmake -S . -B "$BUILD_DIR" -DHOTSPOT_SANITIZE= >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target hotspot-updater hotspot-package
(cd "$BUILD_DIR" && cpack -G DEB --config CPackConfig.cmake)
deb=$(ls -t "$BUILD_DIR"/hotspot-updater_*.deb | head -n1)
echo "Package: $deb"
dpkg-deb --info "$deb" | sed -n '/Depends/p'
# No errors and no warnings; the informational notes are explained in the README.
lintian --fail-on error,warning "$deb"
