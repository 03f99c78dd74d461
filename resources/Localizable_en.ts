<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="en_US">
<context>
    <name>Localizable</name>
    <message>
        <source>stat Initializing ...</source>
        <translation>Getting ready…</translation>
    </message>
    <message>
        <source>stat Please install driver</source>
        <translation>The device driver is not installed. Please install it and start the updater again.</translation>
    </message>
    <message>
        <source>stat Fail to check version info !</source>
        <translation>The version information of the update package could not be read.</translation>
    </message>
    <message>
        <source>stat Fail to check image file !</source>
        <translation>A firmware image in the update package is missing or damaged.</translation>
    </message>
    <message>
        <source>stat Detecting device ...</source>
        <translation>Looking for your hotspot…</translation>
    </message>
    <message>
        <source>stat Searching device ...</source>
        <translation>Searching for your hotspot… Please connect it with its USB cable.</translation>
    </message>
    <message>
        <source>stat Reboot device ...</source>
        <translation>Restarting your hotspot…</translation>
    </message>
    <message>
        <source>stat detect Switching to [%s] mode ...</source>
        <translation>Switching your hotspot to %s mode…</translation>
    </message>
    <message>
        <source>stat detect Fail to switch [%s] mode !</source>
        <translation>Your hotspot could not be switched to %s mode.</translation>
    </message>
    <message>
        <source>stat Reading version ...</source>
        <translation>Reading the firmware version…</translation>
    </message>
    <message>
        <source>stat Fail to read version number !</source>
        <translation>The firmware version could not be read from your hotspot.</translation>
    </message>
    <message>
        <source>stat Unable to detect device boot mode !</source>
        <translation>The current mode of your hotspot could not be detected.</translation>
    </message>
    <message>
        <source>stat Device Ready !</source>
        <translation>Your hotspot is ready to be updated.</translation>
    </message>
    <message>
        <source>stat Upgrading ...</source>
        <translation>Updating…</translation>
    </message>
    <message>
        <source>stat Switching to [%s] mode ...</source>
        <translation>Switching your hotspot to %s mode…</translation>
    </message>
    <message>
        <source>stat Device attached with [%s] mode !</source>
        <translation>Your hotspot is connected in %s mode.</translation>
    </message>
    <message>
        <source>stat Writing [%s] ...</source>
        <translation>Writing %s…</translation>
    </message>
    <message>
        <source>stat Switching back to [%s] mode ...</source>
        <translation>Switching your hotspot back to %s mode…</translation>
    </message>
    <message>
        <source>stat Wait Restart ...</source>
        <translation>Waiting for your hotspot to restart…</translation>
    </message>
    <message>
        <source>stat updated Reading version ...</source>
        <translation>Reading the new firmware version…</translation>
    </message>
    <message>
        <source>stat updated Fail to read version number !</source>
        <translation>The new firmware version could not be read.</translation>
    </message>
    <message>
        <source>stat Fail to switch [%s] mode !</source>
        <translation>Your hotspot could not be switched to %s mode.</translation>
    </message>
    <message>
        <source>stat Fail to switch back [%s] mode !</source>
        <translation>Your hotspot could not be switched back to %s mode.</translation>
    </message>
    <message>
        <source>stat Success upgrade device !</source>
        <translation>Your hotspot was updated successfully.</translation>
    </message>
    <message>
        <source>stat Fail to upgrade by some error !</source>
        <translation>The update failed because of an error.</translation>
    </message>
    <message>
        <source>stat Device not found !</source>
        <translation>Your hotspot could not be found.</translation>
    </message>
    <message>
        <source>stat No permission to use the device !</source>
        <translation>Your hotspot was found, but this computer does not let you use it.</translation>
    </message>
    <message>
        <source>info No permission to use the device. To allow it, run: %s</source>
        <translation>To allow access to the hotspot, run this command in a terminal:
%s</translation>
    </message>
    <message>
        <source>stat Fail to write image !</source>
        <translation>A firmware image could not be written to your hotspot.</translation>
    </message>
    <message>
        <source>alert The updater is already running (since %s, by %s)</source>
        <translation>The updater is already running (since %s, by %s)</translation>
    </message>
    <message>
        <source>alert This user may not update hotspots on this machine: add it to the group plugdev (sudo adduser %s plugdev), then log in again.</source>
        <translation>This user may not update hotspots on this machine: add it to the group plugdev (sudo adduser %s plugdev), then log in again.</translation>
    </message>
    <message>
        <source>btn Initializing</source>
        <translation>Please Wait</translation>
    </message>
    <message>
        <source>btn Processing</source>
        <translation>Updating…</translation>
    </message>
    <message>
        <source>btn Searching</source>
        <translation>Searching…</translation>
    </message>
    <message>
        <source>btn Detecting ...</source>
        <translation>Detecting…</translation>
    </message>
    <message>
        <source>btn Start</source>
        <translation>Start Update</translation>
    </message>
    <message>
        <source>btn Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>btn Retry</source>
        <translation>Try Again</translation>
    </message>
    <message>
        <source>info Version after update</source>
        <translation>Version after the update</translation>
    </message>
    <message>
        <source>info Current version</source>
        <translation>Current version</translation>
    </message>
    <message>
        <source>info Your vesion is up to date</source>
        <translation>Your hotspot's firmware is up to date.</translation>
    </message>
    <message>
        <source>info The firmware was written, but its new version could not be read.</source>
        <translation>The firmware was written, but your hotspot's new version could not be read.</translation>
    </message>
    <message>
        <source>info Please check device, reconnect it and try again.</source>
        <translation>Please check your hotspot, reconnect it and try again.</translation>
    </message>
    <message>
        <source>info Device data not restored, a copy is kept in %s</source>
        <translation>Not all of your hotspot's Wi-Fi calibration and settings could be put back; a copy is kept in %s</translation>
    </message>
    <message>
        <source>info The firmware package failed its signature check: %s</source>
        <translation>The firmware package could not be confirmed as coming from a trusted maker: %s</translation>
    </message>
    <message>
        <source>info No trusted key could be read: %s</source>
        <translation>No trusted key could be read, so the firmware package cannot be confirmed: %s</translation>
    </message>
    <message>
        <source>warning Please do not remove, update is in progress.</source>
        <translation>Please do not unplug your hotspot while the update is in progress.</translation>
    </message>
    <message>
        <source>warning Update is finished.</source>
        <translation>The update is finished.</translation>
    </message>
    <message>
        <source>stat Waiting for its turn ...</source>
        <translation>Waiting for its turn…</translation>
    </message>
    <message>
        <source>stat Waiting for the bus ...</source>
        <translation>waiting for the bus</translation>
    </message>
    <message>
        <source>stat The update was not started !</source>
        <translation>The update was not started.</translation>
    </message>
    <message>
        <source>stat station %s found, %s updating, %s updated, %s failed</source>
        <translation>Hotspots: %s found, %s updating, %s updated, %s failed</translation>
    </message>
    <message>
        <source>res Updated to %s</source>
        <translation>Updated to %s</translation>
    </message>
    <message>
        <source>res Updated</source>
        <translation>Updated</translation>
    </message>
    <message>
        <source>res Up to date</source>
        <translation>Up to date</translation>
    </message>
    <message>
        <source>res Failed</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>res Not started</source>
        <translation>Not started</translation>
    </message>
    <message>
        <source>stat The last update did not finish !</source>
        <translation>The last update did not finish.</translation>
    </message>
    <message>
        <source>btn Finish</source>
        <translation>Finish Update</translation>
    </message>
    <message>
        <source>info An update to %s did not finish.</source>
        <translation>An update to %s did not finish.</translation>
    </message>
    <message>
        <source>info It stopped on %s.</source>
        <translation>It stopped on %s.</translation>
    </message>
    <message>
        <source>info Press Finish to write the firmware again and put your data back.</source>
        <translation>Press Finish Update to write the firmware again and put your data back.</translation>
    </message>
    <message>
        <source>info It was already resumed %s times.</source>
        <translation>It was already resumed %s times.</translation>
    </message>
    <message>
        <source>info An update journal could not be trusted and was moved to %s</source>
        <translation>An update journal could not be trusted and was moved to %s</translation>
    </message>
    <message>
        <source>btn Start All</source>
        <translation>Start All</translation>
    </message>
    <message>
        <source>btn Only the ports:</source>
        <translation>Only the ports:</translation>
    </message>
    <message>
        <source>info all, or such as 1-2.*,3-1</source>
        <translation>all, or such as 1-2.*,3-1</translation>
    </message>
    <message>
        <source>info Ports are patterns such as 1-2.* separated by commas.</source>
        <translation>Ports are patterns such as 1-2.* separated by commas.</translation>
    </message>
    <message>
        <source>warn port %s: %s of the last 5 failed — check the cable or hub</source>
        <translation>Port %s: %s of the last 5 failed — check the cable or hub.</translation>
    </message>
    <message>
        <source>stat Today: %s updated, %s failed</source>
        <translation>Today: %s updated, %s failed</translation>
    </message>
    <message>
        <source>stat Shared record: not reachable since %s — %s attempts waiting</source>
        <translation>Shared record: not reachable since %s — %s attempts waiting</translation>
    </message>
    <message>
        <source>alert The guard that keeps a second updater from starting cannot be trusted: %s. Reinstall the package, or ask the administrator.</source>
        <translation>The guard that keeps a second updater from starting cannot be trusted: %s. Reinstall the package, or ask the administrator.</translation>
    </message>
    <message>
        <source>info This hotspot&apos;s updates:</source>
        <translation>This hotspot&apos;s updates:</translation>
    </message>
    <message>
        <source>btn Update each hotspot as soon as it is found</source>
        <translation>Update each hotspot as soon as it is found</translation>
    </message>
    <message>
        <source>stat Updated — you can unplug it</source>
        <translation>Updated — you can unplug it</translation>
    </message>
    <message>
        <source>col Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>col Version</source>
        <translation>Device Version</translation>
    </message>
    <message>
        <source>col Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>col Progress</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>col Result</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>stat Closing once the running updates end ...</source>
        <translation>The updater will close once the running updates have ended.</translation>
    </message>
    <message>
        <source>info Package version %s</source>
        <translation>Firmware package: %s</translation>
    </message>
    <message>
        <source>stat The firmware was written, but your data did not go back !</source>
        <translation>The firmware was written, but your data did not go back.</translation>
    </message>
    <message>
        <source>stat The update could not be recorded, so nothing was written !</source>
        <translation>The update could not be recorded, so nothing was written.</translation>
    </message>
    <message>
        <source>info Press Try Again to put your data back.</source>
        <translation>Your Wi-Fi calibration and settings are kept safely on this computer. Press Try Again to put them back.</translation>
    </message>
    <message>
        <source>info Make room on the disk or let %s be written, then try again.</source>
        <translation>Nothing was changed on your hotspot. Make room on the disk or make %s writable, then press Try Again.</translation>
    </message>
    <message>
        <source>info The update journal could not be written; every copy of your data is kept.</source>
        <translation>The update's journal could not be written; every copy of your data is kept.</translation>
    </message>
    <message>
        <source>stat Is this the hotspot whose update stopped on %s ?</source>
        <translation>Is this the hotspot whose update stopped on %s?</translation>
    </message>
    <message>
        <source>info Finish it only if this is that hotspot: its saved data then goes onto this one.</source>
        <translation>Finish the update only if this is that hotspot: the data saved from it then goes onto this one.</translation>
    </message>
    <message>
        <source>info That update ran at the port %s; this hotspot is at another.</source>
        <translation>That update ran at the port %s; this hotspot is at another.</translation>
    </message>
    <message>
        <source>info Its saved data goes onto it only if it is. The update was to %s.</source>
        <translation>The data saved from that hotspot goes onto this one only if it is the same hotspot. That update was to firmware %s.</translation>
    </message>
    <message>
        <source>btn Finish with the saved data</source>
        <translation>Yes, finish with its saved data</translation>
    </message>
    <message>
        <source>btn Update it as another hotspot</source>
        <translation>No, it is another hotspot</translation>
    </message>
    <message>
        <source>res Data not back</source>
        <translation>Data not back</translation>
    </message>
    <message>
        <source>restore Entry %s: saved from the hotspot at port %s on %s, calibration %s.</source>
        <translation>Entry %s: saved from the hotspot at port %s on %s, calibration %s.</translation>
    </message>
    <message>
        <source>restore It goes onto the hotspot at %s; what that hotspot holds now is saved first.</source>
        <translation>It goes onto the hotspot at %s; what that hotspot holds now is saved first.</translation>
    </message>
    <message>
        <source>restore The calibration of the hotspot at %s could not be read: nothing shows that this is its data.</source>
        <translation>The calibration of the hotspot at %s could not be read: nothing shows that this is its data.</translation>
    </message>
    <message>
        <source>restore The hotspot at %s holds another calibration (%s): this is not its own data.</source>
        <translation>The hotspot at %s holds another calibration (%s): this is not its own data.</translation>
    </message>
    <message>
        <source>restore Put this data on that hotspot? [y/N] </source>
        <translation>Put this data on that hotspot? [y/N] </translation>
    </message>
    <message>
        <source>restore Left untouched: --yes does not decide whose data goes where. Run again with --other-calibration to put it on the hotspot at %s all the same, or choose the entry saved from that hotspot (--restore lists them).</source>
        <translation>Left untouched: --yes does not decide whose data goes where. Run again with --other-calibration to put it on the hotspot at %s all the same, or choose the entry saved from that hotspot (--restore lists them).</translation>
    </message>
</context>
</TS>
