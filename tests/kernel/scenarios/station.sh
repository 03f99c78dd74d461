# The station from the terminal on four units at once, each a gadget of its own at a port of
# the virtual host: they are switched at once, each gets the package's images and its own
# calibration and settings back, and every tool run that goes to a unit names that unit's port.
UNITS=4
readonly LOGS=/home/bench/.local/state/hotspot-updater/logs
# Whether the given values are all set and no two alike.
distinct() {
    local v
    for v in "$@"; do [ -n "$v" ] || return 1; done
    [ "$(printf '%s\n' "$@" | sort -u | wc -l)" -eq $# ]
}
# The same for the given files' contents.
distinct_files() {
    local f
    for f in "$@"; do [ -s "$f" ] || return 1; done
    [ "$(md5sum "$@" | cut -c1-32 | sort -u | wc -l)" -eq $# ]
}
# Whether there is one port for every unit, none twice.
units_apart() { [ $# -eq $UNITS ] && distinct "$@"; }
# The $1-th of the other arguments.
nth() { shift $1; echo "$1"; }
# The model's ports of the hub's units, in order.
model_ports() { sim status | sed -n 's/^units: *//p'; }
all_storage_bound() { [ "$(ls /sys/bus/usb/drivers/usb-storage | grep -c :)" -ge $UNITS ]; }
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
    local ports
    ports=$(IFS='|'; echo "$*")
    grep -hE '^ *[0-9.]+ tool: (adb|fastboot) ' $LOGS/*.log \
        | grep -Ev "tool: (adb|fastboot) (-l )?(devices|kill-server|start-server)( |$)" \
        | grep -Ev "tool: (adb|fastboot) -s usb:($ports) "
}
# Every given port's first switch to adb came within $1 seconds of the first port's: one
# unit's switch does not wait for another's.
switched_together() {
    local within=$1 port times
    shift
    times=$(for port in "$@"; do
        grep -m1 -E "^[0-9T:-]+ $port +Switching your hotspot to ADB mode" $OUT/station.out | cut -c12-19
    done | sort)
    [ "$(echo "$times" | grep -c :)" -eq $# ] || return 1
    note "first switches: $(echo $times)"
    [ $(( $(date -d "$(echo "$times" | tail -1)" +%s) - $(date -d "$(echo "$times" | head -1)" +%s) )) -le $within ]
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
    local models ports model port i
    check "usb-storage holds every CD-ROM interface" wait_for 90 all_storage_bound
    models=$(model_ports)
    ports=$(for i in $(seq 1 $UNITS); do guest_port $i; done)
    note "units:" $models "at" $ports
    check "the $UNITS units show at ports of their own" units_apart $ports
    i=0
    for model in $models; do
        on_unit $model device_file "$CALIBRATION" >$OUT/calibration.$i
        on_unit $model device_file /etc/config.db >$OUT/config.$i
        i=$((i + 1))
    done
    check "the units hold calibrations of their own" distinct_files $OUT/calibration.*
    check "... and configurations" distinct_files $OUT/config.*

    note "station starts"
    { station; echo $? >$OUT/station.status; } 2>&1 | tee $OUT/station.out
    note "station ended"
    check "the station exits 0" [ "$(cat $OUT/station.status)" = 0 ]
    check "the units were switched at once" switched_together 5 $ports
    i=0
    for model in $models; do
        port=$(nth $((i + 1)) $ports)
        check_unit $model $port "$(cat $OUT/calibration.$i)" "$(cat $OUT/config.$i)"
        i=$((i + 1))
    done
    check "every adb and fastboot run to a unit names its port" well_addressed $ports
    echo "KBENCH-LOG station run log"; cat $LOGS/*.log
}
