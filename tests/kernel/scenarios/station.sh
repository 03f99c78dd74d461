# The station from the terminal on two units at once, each a gadget of its own at a port of
# the virtual host: each gets the package's images and its own calibration and settings
# back, and every tool run that goes to a unit names that unit's port.
UNITS=2
readonly LOGS=/home/bench/.local/state/hotspot-updater/logs
differ() { [ -n "$1" ] && [ -n "$2" ] && [ "$1" != "$2" ]; }
# The model's ports of the hub's units, in order.
model_ports() { sim status | sed -n 's/^units: *//p'; }
both_storage_bound() { [ "$(ls /sys/bus/usb/drivers/usb-storage | grep -c :)" -ge 2 ]; }
# The guest's port of the unit whose gadget is at the virtual host's root port $1.
guest_port() { for d in /sys/bus/usb/devices/*-$1; do [ -e $d/idVendor ] && basename $d; done; }
station() {
    setpriv --reuid=1000 --regid=1000 --init-groups env -i HOME=/home/bench PATH=/usr/bin:/bin \
        QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp/bench-runtime LANG=C.UTF-8 \
        timeout 780 $K/HotspotUpdater/Contents/bin/hotspot-updater --cli --station --yes
}
# Prints the adb and fastboot runs of the run log that go to a device but not with
# -s usb:PORT for one of the given ports; the host-wide runs go to none.
misaddressed() {
    grep -hE '^ *[0-9.]+ tool: (adb|fastboot) ' $LOGS/*.log \
        | grep -Ev "tool: (adb|fastboot) (-l )?(devices|kill-server|start-server)( |$)" \
        | grep -Ev "tool: (adb|fastboot) -s usb:($1|$2) "
}
well_addressed() {
    grep -qE 'tool: (adb|fastboot) -s usb:' $LOGS/*.log || return 1
    [ -z "$(misaddressed "$@" | tee /dev/stderr)" ]
}
# fastboot wrote each partition to the port, per the run log.
flashed_at() {
    for p in aboot boot modem system; do
        grep -Eq "tool: fastboot -s usb:$1 flash $p " $LOGS/*.log || return 1
    done
}
# The unit at the model's port $1 and the guest's port $2 was updated and holds calibration
# $3 and configuration $4 again.
check_unit() {
    check "$2: runs the new version" on_unit $1 sim_status_has 'firmware:     1.0.4'
    check "$2: named updated in the summary" grep -Eq " $2 +updated to 1.0.4" $OUT/station.out
    check "$2: fastboot wrote every image to its port" flashed_at $2
    for p in aboot boot modem system; do
        check "$2: partition $p holds the package's image" on_unit $1 partition_matches $p
    done
    check "$2: its own radio calibration again" on_unit $1 holds "$CALIBRATION" "$3"
    check "$2: its own configuration restored" on_unit $1 holds /etc/new_config.db "$4"
}

scenario() {
    local first second port1 port2 calibration1 calibration2 config1 config2
    check "usb-storage holds both CD-ROM interfaces" wait_for 90 both_storage_bound
    set -- $(model_ports)
    first=$1 second=$2
    port1=$(guest_port 1) port2=$(guest_port 2)
    note "units: $first at $port1, $second at $port2"
    check "the units show at two ports of their own" differ "$port1" "$port2"
    calibration1=$(on_unit $first device_file "$CALIBRATION")
    calibration2=$(on_unit $second device_file "$CALIBRATION")
    config1=$(on_unit $first device_file /etc/config.db)
    config2=$(on_unit $second device_file /etc/config.db)
    check "the units hold calibrations of their own" differ "$calibration1" "$calibration2"
    check "... and configurations" differ "$config1" "$config2"

    note "station starts"
    { station; echo $? >$OUT/station.status; } 2>&1 | tee $OUT/station.out
    note "station ended"
    check "the station exits 0" [ "$(cat $OUT/station.status)" = 0 ]
    check_unit $first $port1 "$calibration1" "$config1"
    check_unit $second $port2 "$calibration2" "$config2"
    check "every adb and fastboot run to a unit names its port" well_addressed $port1 $port2
    echo "KBENCH-LOG station run log"; cat $LOGS/*.log
}
