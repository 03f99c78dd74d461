# The hot-plug watcher on real udev events: the CD-ROM personality present at set-up is
# examined but not reported; each switch between it and the network (ECM) personality gives
# one removal and one classified arrival that the lookup layer already sees; leaving for
# another identity (the boot loader) gives a removal and no arrival.
WATCH=$OUT/watch.log
watch() {
    setpriv --reuid=1000 --regid=1000 --init-groups env -i PATH=/usr/bin:/bin LANG=C.UTF-8 \
        $K/bin/hotspot-kernel-watch "$@" >$WATCH 2>&1
}
# How many lines of the watcher's output contain the text.
seen() { grep -cF "$1" $WATCH; }
seen_at_least() { [ "$(seen "$1")" -ge "$2" ]; }
# Waits up to $3 seconds for the text to have been seen $2 times.
wait_seen() { wait_for "$3" seen_at_least "$1" "$2"; }
seen_exactly() { [ "$(seen "$1")" -eq "$2" ]; }
driver_bound() { lsusb -t | grep -q "Driver=$1"; }

scenario() {
    check "usb-storage holds the CD-ROM interface" wait_storage_bound 60
    watch 600 &
    watcher=$!
    check "the watcher armed" wait_seen "watch: armed 0" 1 30
    check "set-up: the CD-ROM device examined" seen_exactly "Interface matching CDROM." 1
    check "set-up: four interfaces, storage first" seen_exactly "Interface class 8, subclass 6 num 0" 1
    check "set-up: three serial ports" seen_exactly "Interface class 255, subclass 0 num" 3
    check "set-up: nothing reported" seen_exactly "watch: " 1

    note "switch to the network personality"
    sim personality usr_adb
    check "the ECM arrival is reported, the lookup sees it" wait_seen "watch: added, lookup finds 1" 1 90
    check "ECM: classified by its data interface" seen_exactly "Interface match ECM." 1
    # Its storage interface is noted too; six interfaces are not the CD-ROM's four.
    check "ECM: storage first, six interfaces" seen_exactly "Interface class 255, subclass 66 num 5" 1
    check "ECM: the data interface is number 2" seen_exactly "Interface class 10, subclass 0 num 2" 1
    check "ECM: one removal before it" seen_exactly "watch: removed" 1
    check "the kernel's cdc_ether drives the ECM interfaces" driver_bound cdc_ether
    check "usb-storage holds interface 0 again" wait_storage_bound 30

    note "switch back to the CD-ROM personality"
    sim personality usr
    check "the CD-ROM arrival is reported" wait_seen "watch: added, lookup finds 1" 2 90
    check "CD-ROM: classified by its storage interface" seen_exactly "Interface matching CDROM." 3
    check "CD-ROM: no ECM interface" seen_exactly "Interface match ECM." 1
    check "CD-ROM: one more removal" seen_exactly "watch: removed" 2

    note "into the boot loader"
    sim personality bootloader
    check "the boot loader shows its own identity" wait_identity 18d1:d00d 90
    check "its leaving is reported once" wait_seen "watch: removed" 3 30
    sleep 3
    check "another identity is not examined" seen_exactly "Device appeared." 3
    check "nor reported" seen_exactly "watch: added" 2

    kill $watcher 2>/dev/null
    echo "KBENCH-LOG watch"; cat $WATCH
}
