#include "app/AppDelegate.h"
#include "bridge/Contract.h"
#include "bridge/OutputText.h"
#include "usb/usbutils.h"

namespace {

// Shown literally: it is not a message key.
const QString kBootModeUnreadable = QStringLiteral("Unable to detect current mode");

// The boot mode that a full-scale MPP5 reading turns into a normal start.
bool mppOverridesBootMode(int32_t code) {
    return code == 1 || code == 4;
}

} // namespace

uint64_t AppDelegate::detectDevice() {
    do_enum_devices();
    uint64_t mask = 0;
    if (do_find_device(kQualcommVendor, kQualcommProduct) > 0)
        mask |= 2;
    if (do_find_device(kOwnVendor, kOwnProduct) > 0)
        mask |= 1;
    return mask;
}

int32_t AppDelegate::detectAdb() {
    ToolResult result;
    fastbootCommand(contract::fastbootDevices(), &result);
    if (output::mentions(result, contract::kFastbootDeviceMark))
        return 2;
    bool denied = output::listsNoPermission(result);
    adbCommand(contract::adbDevices(), &result);
    // Listed is not reachable: "offline", "unauthorized", "no permissions" and the rest
    // refuse shell commands. Only "device" takes them.
    const QString state = output::adbDeviceState(result, contract::kAdbDeviceSerial);
    denied = denied || state.startsWith(contract::kAdbNoPermissions);
    m_accessDenied.store(denied);
    m_adbListedNotReady.store(!state.isEmpty() && state != contract::kAdbReachable);
    return state == contract::kAdbReachable ? 1 : 0;
}

int32_t AppDelegate::detectDeviceBootMode() {
    ToolResult result;
    adbCommand(contract::adbBootMode(), &result);
    if (!result || output::reportsError(result)) {
        postStatus(kBootModeUnreadable);
        return -1;
    }
    const int32_t code = output::readInt(*result);

    adbCommand(contract::adbMpp5(), &result);
    if (!result || output::reportsError(result)) {
        postStatus(kBootModeUnreadable);
        return -1;
    }
    // The prefix is dropped by length, not compared.
    const QStringView reading = QStringView(*result).mid(qMin(result->size(), contract::kMpp5Prefix.size()));
    if (reading.isEmpty())
        return -1;
    if (output::readInt(reading) == contract::kMpp5Value && mppOverridesBootMode(code))
        return 0;
    return code;
}

int32_t AppDelegate::rebootDevice() {
    ToolResult result;
    adbCommand(contract::adbReboot(), &result);
    return output::reportsError(result) ? -1 : 0;
}

int32_t AppDelegate::switchDevice() {
    ToolResult result;
    adbCommand(contract::adbRebootBootloader(), &result);
    return output::reportsError(result) ? -1 : 0;
}

int32_t AppDelegate::flash(const QString& partition, const QString& imagePath) {
    ToolResult result;
    fastbootCommand(contract::fastbootFlash(partition, imagePath), &result);
    // Older fastboot ends with "finished. total time", the one Debian ships (and the bundle
    // carries) with "Finished. Total time".
    return result && result->contains(contract::kFlashFinished, Qt::CaseInsensitive) ? 0 : -1;
}

int32_t AppDelegate::fastbootReboot() {
    ToolResult result;
    fastbootCommand(contract::fastbootReboot(), &result);
    return 0;
}

int32_t AppDelegate::fastbootRebootBootloader() {
    ToolResult result;
    fastbootCommand(contract::fastbootRebootBootloader(), &result);
    return 0;
}

QString AppDelegate::parseVersionNumber(const QString& text) {
    // trimmed() drops every QChar::isSpace character, line and paragraph separators included.
    return text.trimmed().split(u'_').constLast();
}
