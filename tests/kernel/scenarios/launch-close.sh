# Launch and close: at exit the permanent switch must reach the device although usb-storage
# holds its interface (it binds anew at every enumeration).
scenario() {
    check "usb-storage holds the CD-ROM interface" wait_storage_bound 60
    app sleep=20 close
    check "the permanent switch reached the device" \
        wait_record "\"bytes\":\"$(cbw_hex ed0001)[0-9a-f]*\",\"csw_sent\":true.*\"status\":0" 20
    check "the device came back as USR with its CD-ROM" wait_identity 11f6:102a 30
}
