# A whole update: backup, boot loader, four images through fastboot, restarts, restore,
# new version, Success. Writing the root file system wipes the device's own data, so what
# comes back must be what it held before.
scenario() {
    local calibration config
    calibration=$(device_file "$CALIBRATION")
    config=$(device_file /etc/config.db)
    check "usb-storage holds the CD-ROM interface" wait_storage_bound 60
    app 'button=Start Update@300' press 'status=updated successfully@780' close
    check "the update ended in Success" [ $? -eq 0 ]
    check "the device runs the new version" sim_status_has 'firmware:     1.0.4'
    for p in aboot boot modem system; do
        check "partition $p holds the package's image" partition_matches $p
    done
    check "the radio calibration is the device's own again" holds "$CALIBRATION" "$calibration"
    check "the configuration was restored" holds /etc/new_config.db "$config"
}
