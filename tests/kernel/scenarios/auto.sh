# A hands-free station (--auto) from the terminal: the second unit is plugged in once the
# first is updated; each is updated with no keystroke, with its own calibration and settings
# back, and the station ends with status 0 when told to.
. $K/scenarios/station.sh
UNITS=2
updated_line() { grep -Eq " $1 +updated to 1.0.4" $OUT/station.out; }
# Two rows after the header, one per port, each of an attempt that ended updated.
two_updated_records() {
    [ "$(tail -n +2 $OUT/history.csv | wc -l)" -eq 2 ] &&
        grep -q ",$1,.*,updated," $OUT/history.csv && grep -q ",$2,.*,updated," $OUT/history.csv
}

scenario() {
    local first second port1 port2 calibration1 calibration2 config1 config2 station_pid
    check "usb-storage holds both CD-ROM interfaces" wait_for 90 all_storage_bound
    set -- $(model_ports)
    first=$1 second=$2
    port1=$(guest_port 1) port2=$(guest_port 2)
    note "units: $first at $port1, $second at $port2"
    calibration1=$(on_unit $first device_file "$CALIBRATION")
    calibration2=$(on_unit $second device_file "$CALIBRATION")
    config1=$(on_unit $first device_file /etc/config.db)
    config2=$(on_unit $second device_file /etc/config.db)
    on_unit $second sim unplug
    note "hands-free station starts with one unit plugged in"
    # Exec'd down to timeout, which hands the station the TERM sent to it.
    (exec setpriv --reuid=1000 --regid=1000 --init-groups env -i HOME=/home/bench PATH=/usr/bin:/bin \
        QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp/bench-runtime LANG=C.UTF-8 \
        timeout 840 $K/HotspotUpdater/Contents/bin/hotspot-updater --cli --station --auto) >$OUT/station.out 2>&1 &
    station_pid=$!
    check "the first unit is updated with no keystroke" wait_for 400 updated_line $port1
    note "the second unit plugged in"
    on_unit $second sim plug
    check "the second unit is updated with no keystroke" wait_for 400 updated_line $port2
    kill -TERM $station_pid
    wait $station_pid
    check "the station ends with status 0 when told to" [ $? -eq 0 ]
    cat $OUT/station.out
    check_unit $first $port1 "$calibration1" "$config1"
    check_unit $second $port2 "$calibration2" "$config2"
    check "every adb and fastboot run to a unit names its port" well_addressed $port1 $port2
    setpriv --reuid=1000 --regid=1000 --init-groups env -i HOME=/home/bench PATH=/usr/bin:/bin LANG=C.UTF-8 \
        QT_QPA_PLATFORM=offscreen $K/HotspotUpdater/Contents/bin/hotspot-updater --history --csv >$OUT/history.csv 2>&1
    cat $OUT/history.csv
    check "the record holds the two units' attempts, both updated" two_updated_records $port1 $port2
}
