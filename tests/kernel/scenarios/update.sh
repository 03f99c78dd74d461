# A whole update: backup, boot loader, four images through fastboot, restarts, restore,
# new version, Success.
scenario() {
    check "usb-storage holds the CD-ROM interface" wait_storage_bound 60
    app 'button=Start Update@300' press 'status=updated successfully@780' close
    check "the update ended in Success" [ $? -eq 0 ]
    check "the device runs the new version" sim_status_has 'firmware:     1.0.4'
    for p in aboot boot modem system; do
        check "partition $p holds the package's image" partition_matches $p
    done
    check "the radio calibration was restored" \
        wait_record '"args":\["push","/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin"\]' 1
    check "the configuration was restored" same_device_files /etc/new_config.db /etc/config.db
}
