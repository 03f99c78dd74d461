# The cable is pulled after the first image and put back 5 s later. The real fastboot waits
# for a device without end, so the update must either go on to Success or report the image
# that could not be written; it must not hang.
scenario() {
    check "usb-storage holds the CD-ROM interface" wait_storage_bound 60
    (wait_record '"args":\["flash:aboot"\]' 780 && note "pulling the cable" && sim unplug && touch $OUT/pulled \
        && sleep 5 && note "plugging it back" && sim plug) &
    app 'button=Start Update@300' press 'status=updated successfully|could not be written@780' close
    check "the update ended with a clear outcome" [ $? -eq 0 ]
    check "the cable was pulled mid-update and put back" [ -e $OUT/pulled ]
}
