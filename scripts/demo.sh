#!/usr/bin/env bash
# Builds the updater and runs it on a simulated hotspot that holds an older firmware.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    cat <<'TEXT'
Usage: bash scripts/demo.sh [--headless] [--no-setup] [--simulated] [--scenario NAME|FILE|JSON]
                           [--language zh_CN] [--station]

Installs what is missing (scripts/setup.sh), builds the project and the demo firmware
package, assembles a demo bundle in build/demo/ whose adb, fastboot and USB library are
those of the simulated hotspot, and starts the real application on it.

  On a desktop (DISPLAY set)  the window opens; press Start when it offers the update.
  Without a display, or with --headless
                              it runs on a private Xvfb, presses Start itself, saves a
                              screenshot of each stage in build/demo-shots/ and prints
                              how the update ended.

  --no-setup   skip scripts/setup.sh (packages already installed, build up to date)
  --simulated  use the simulated hotspot even when a real one is attached

When a real hotspot is attached (and --simulated is not given), the updater runs on it.
  --scenario   simulator scenario (default: demo; see tools/sim/README.md)
  --language   run the simulated demo in this language (zh_CN: Simplified Chinese);
               headless screenshots then go to build/demo-shots-zh_CN/
  --station    the station window (hotspot-updater --station) on a simulated hub of four
               units at ports 1-2.1 to 1-2.4, the one at 1-2.3 failing to write its boot
               image; press Start All. Headless, Start All is pressed itself and the
               screenshots go to build/demo-shots-station/. The updater runs in a private
               mount namespace where the simulator's sysfs tree stands at /sys (unshare).

The application needs its device-access rule (70-hotspot-updater.rules); the demo installs
it in /etc/udev/rules.d when missing, with sudo when not root.

From another terminal, unplug and plug the simulated hotspot, or look at it:

  HOTSPOT_SIM_DIR=build/demo/sim-state build/sim/bin/hotspot-sim unplug
  HOTSPOT_SIM_DIR=build/demo/sim-state build/sim/bin/hotspot-sim plug
  HOTSPOT_SIM_DIR=build/demo/sim-state build/sim/bin/hotspot-sim status

(The demo prints these lines with absolute paths when it starts. BUILD_DIR=dir changes
the build folder from build/.)
TEXT
}

setup=1
simulated_only=0
args=()
while [ $# -gt 0 ]; do
    case "$1" in
        -h|--help) usage; exit 0 ;;
        --headless) args+=(--headless) ;;
        --no-setup) setup=0 ;;
        --simulated) simulated_only=1 ;;
        --scenario) [ $# -ge 2 ] || { usage >&2; exit 2; }; args+=(--scenario "$2"); shift ;;
        --scenario=*) args+=(--scenario "${1#*=}") ;;
        --language) [ $# -ge 2 ] || { usage >&2; exit 2; }; args+=(--language "$2"); shift ;;
        --language=*) args+=(--language "${1#*=}") ;;
        --station) args+=(--station); simulated_only=1 ;;
        *) echo "demo.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
    shift
done

BUILD_DIR=${BUILD_DIR:-build}
if [ "$setup" -eq 1 ]; then
    bash scripts/setup.sh
fi
# A real hotspot on the bus (under either identity): run the real bundle on it.
real_device_attached() {
    local d
    for d in /sys/bus/usb/devices/*; do
        [ -r "$d/idVendor" ] || continue
        case "$(cat "$d/idVendor"):$(cat "$d/idProduct")" in
            11f6:102a|05c6:9025) return 0 ;;
        esac
    done
    return 1
}
if [ "$simulated_only" -eq 0 ] && real_device_attached; then
    echo "A hotspot is attached: starting the updater on it."
    cmake --build "$BUILD_DIR" -j"$(nproc)" --target hotspot-updater
    exec "$BUILD_DIR/HotspotUpdater/Contents/bin/hotspot-updater"
fi

# The bundle (the executable's target brings its resources), the simulator and the demo package.
[ -f "$BUILD_DIR/CMakeCache.txt" ] || cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" \
    --target hotspot-updater hotspot-sim hotspot-sim-tool hotspot_simusb demo-package
exec /usr/bin/python3 scripts/e2e/run_demo.py --build-dir "$BUILD_DIR" "${args[@]}"
