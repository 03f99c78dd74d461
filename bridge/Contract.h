#pragma once
// What we rely on from adb, fastboot and the device firmware: the command lines we run
// and the texts we search their output for. Kept in one place so a firmware change is one edit.

#include <QString>
#include <QStringList>

namespace contract {

// Marks in the tools' device lists.
inline const QString kFastbootDeviceMark = QStringLiteral("MDM9615");
inline const QString kAdbDeviceSerial = QStringLiteral("0123456789ABCDEF");
// States in adb's device list: only this one takes commands.
inline const QString kAdbReachable = QStringLiteral("device");
inline const QString kAdbNoPermissions = QStringLiteral("no permissions");

// Texts searched in tool output.
inline const QString kError = QStringLiteral("error");        // adb and shell failure
inline const QString kFlashFinished = QStringLiteral("finished");
// Printed as the device begins to store an image it received ("Writing 'boot'", older tools
// "writing 'boot'..."): the bytes have crossed the bus.
inline const QByteArray kFlashWriting = QByteArrayLiteral("writing '");
inline const QString kFlashFailed = QStringLiteral("FAILED");  // case-sensitive
inline const QString kVersionReplyPrefix = QStringLiteral("OK "); // case-insensitive
inline const QString kModeFileOk = QStringLiteral("OK");          // case-sensitive
inline const QString kMpp5Prefix = QStringLiteral("Result:");
// A pull whose error names the remote object with one of these: the device has no such file.
inline const QString kRemoteObject = QStringLiteral("remote object");
inline const QStringList kRemoteAbsent = {QStringLiteral("No such file or directory"),
                                          QStringLiteral("does not exist")};
constexpr int kMpp5Value = 65535;

// Device paths.
inline const QString kBootModeFile = QStringLiteral("/tmp/bootmode");
inline const QString kMpp5File =
    QStringLiteral("/sys/devices/platform/msm_ssbi.0/pm8018-core/pm8xxx-adc/mpp5");
inline const QString kWifiBoardData = QStringLiteral("/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin");
inline const QString kConfigDb = QStringLiteral("/etc/config.db");
inline const QString kConfigDbRestored = QStringLiteral("/etc/new_config.db");

// A run for one device, addressed to its USB port path ("1-2.3"): these go before its
// arguments. Runs of the commands below go to no device and are never addressed.
inline const QString kUsbPortPrefix = QStringLiteral("usb:");
inline QStringList toPort(const QString& port) { return {QStringLiteral("-s"), kUsbPortPrefix + port}; }
inline const QStringList kHostWideCommands = {QStringLiteral("devices"), QStringLiteral("kill-server"),
                                              QStringLiteral("start-server")};

// adb runs.
inline QStringList adbDevices() { return {QStringLiteral("devices")}; }
// Each line names its device's port ("usb:1-2.3").
inline QStringList adbDevicesLong() { return {QStringLiteral("devices"), QStringLiteral("-l")}; }
inline QStringList adbBootMode() { return {QStringLiteral("shell"), QStringLiteral("cat ") + kBootModeFile}; }
inline QStringList adbMpp5() { return {QStringLiteral("shell"), QStringLiteral("cat ") + kMpp5File}; }
inline QStringList adbReboot() { return {QStringLiteral("shell"), QStringLiteral("sys_reboot")}; }
inline QStringList adbRebootBootloader() {
    return {QStringLiteral("shell"), QStringLiteral("sys_reboot"), QStringLiteral("bootloader")};
}
inline QStringList adbFirmwareVersion() {
    return {QStringLiteral("shell"), QStringLiteral("cmmd info firmware_ver")};
}
inline QStringList adbWriteEtcModeFile() {
    return {QStringLiteral("shell"), QStringLiteral("echo 1 > /etc/mode.cfg && echo OK")};
}
inline QStringList adbWriteTmpModeFile() {
    return {QStringLiteral("shell"), QStringLiteral("echo 1 > /tmp/mode.cfg && echo OK")};
}
inline QStringList adbPull(const QString& device, const QString& host) {
    return {QStringLiteral("pull"), device, host};
}
inline QStringList adbPush(const QString& host, const QString& device) {
    return {QStringLiteral("push"), host, device};
}
inline QStringList adbKillServer() { return {QStringLiteral("kill-server")}; }
inline QStringList adbStartServer() { return {QStringLiteral("start-server")}; }

// fastboot runs.
inline QStringList fastbootDevices() { return {QStringLiteral("devices")}; }
inline QStringList fastbootDevicesLong() { return {QStringLiteral("devices"), QStringLiteral("-l")}; }
inline QStringList fastbootFlash(const QString& partition, const QString& image) {
    return {QStringLiteral("flash"), partition, image};
}
inline QStringList fastbootReboot() { return {QStringLiteral("reboot")}; }
inline QStringList fastbootRebootBootloader() { return {QStringLiteral("reboot-bootloader")}; }

// Host service-manager command lines (run through /bin/sh).
inline const QString kDeviceAgent = QStringLiteral("cn.quillmarsh.KVRD");
inline const QString kLaunchctlList = QStringLiteral("launchctl list");
inline const QString kLaunchctlRemoveAgent = QStringLiteral("launchctl remove cn.quillmarsh.KVRD");
inline const QString kLaunchctlUnloadSwitch =
    QStringLiteral("launchctl unload /Library/LaunchAgents/cn.quillmarsh.Portflip.plist");
inline const QString kLaunchctlLoadSwitch =
    QStringLiteral("launchctl load /Library/LaunchAgents/cn.quillmarsh.Portflip.plist");

// Device-access rule that our install step lays down; its presence means "driver installed".
inline const QString kDriverRuleName = QStringLiteral("70-hotspot-updater.rules");

// Mode names put into the "%s" of messages, untranslated.
inline const QString kModeFastboot = QStringLiteral("Fastboot");
inline const QString kModeFtm = QStringLiteral("FTM");
inline const QString kModeUsr = QStringLiteral("USR");
inline const QString kModeAdb = QStringLiteral("ADB");

} // namespace contract
