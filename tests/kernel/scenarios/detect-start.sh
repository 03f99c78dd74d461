# Detection: from the CD-ROM personality through the temporary switch to adb, the version
# read over adb, to the Start button.
scenario() {
    check "usb-storage holds the CD-ROM interface" wait_storage_bound 60
    check "ModemManager is told to leave the hotspot alone" wait_for 10 mm_ignores 11f6:102a
    app 'button=Start Update@300' close
    check "the application offered the update" [ $? -eq 0 ]
    check "the temporary switch to USR with adb reached the device" \
        wait_record "\"bytes\":\"$(cbw_hex ee0004)[0-9a-f]*\",\"csw_sent\":true.*\"status\":0" 1
    check "the version was read over adb" wait_record '"args":\["shell","cmmd info firmware_ver"\]' 1
}
