#!/usr/bin/env bash
# Installs what the project needs from Debian and builds it into build/ (or $BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(cmake g++ make pkg-config git
    qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-qpa-plugins
    libqt6sql6-sqlite libqt6sql6-psql libpq-dev postgresql
    libusb-dev libudev-dev libfontconfig-dev libssl-dev libgtest-dev libgmock-dev
    adb fastboot umockdev libumockdev-dev
    clang libclang-rt-dev
    xvfb xauth xdotool imagemagick at-spi2-core dbus python3-gi gir1.2-atspi-2.0
    fonts-wqy-microhei desktop-file-utils appstream lintian dpkg-dev fakeroot file)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}"
fi

[ "${1:-}" = "--packages-only" ] && exit 0

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-} >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
