#include "bridge/DeviceProbes.h"
#include "bridge/Contract.h"
#include "bridge/OutputText.h"
#include "usb/usbport.h"
#include "usb/usbutils.h"

namespace {

// The boot mode that a full-scale MPP5 reading turns into a normal start.
bool mppOverridesBootMode(int32_t code) {
    return code == 1 || code == 4;
}

} // namespace

uint64_t DeviceProbes::presence() const {
    do_enum_devices();
    const QByteArray root = m_sysfsRoot.toUtf8();
    const QByteArray port = m_tools.port().toUtf8();
    const auto present = [&](int vendor, int product) {
        return port.isEmpty() ? do_find_device(vendor, product) > 0
                              : do_find_device_at(root.constData(), port.constData(), vendor, product) > 0;
    };
    uint64_t mask = 0;
    if (present(kQualcommVendor, kQualcommProduct))
        mask |= presence::kQualcommIdentity;
    if (present(kOwnVendor, kOwnProduct))
        mask |= presence::kOwnIdentity;
    return mask;
}

uint64_t DeviceProbes::presenceAsShown() const {
    const QString port = m_tools.port();
    return port.isEmpty() ? presence() : presenceAt(port);
}

// A unit bound to a port shows in sysfs as the kernel enumerates it: no rescan of the whole
// bus (a station's every unit probes twice a second); a switch rescans before it opens.
uint64_t DeviceProbes::presenceAt(const QString& port) const {
    const std::optional<usbport::Shown> shown = usbport::shownAt(m_sysfsRoot, port);
    if (!shown)
        return 0;
    if (shown->vendor == kQualcommVendor && shown->product == kQualcommProduct)
        return presence::kQualcommIdentity;
    if (shown->vendor == kOwnVendor && shown->product == kOwnProduct)
        return presence::kOwnIdentity;
    return 0;
}

AdbVerdict DeviceProbes::detectAdb() const {
    AdbVerdict verdict;
    const QString port = m_tools.port();
    const ToolResult fastboot = port.isEmpty()
                                    ? m_tools.fastboot(contract::fastbootDevices()).text
                                    : output::lineAtPort(m_tools.fastboot(contract::fastbootDevicesLong()).text, port);
    if (output::mentions(fastboot, contract::kFastbootDeviceMark)) {
        verdict.tool = AdbVerdict::Fastboot;
        return verdict;
    }
    // Listed is not reachable: "offline", "unauthorized", "no permissions" and the rest
    // refuse shell commands. Only "device" takes them.
    const QString state =
        port.isEmpty()
            ? output::adbDeviceState(m_tools.adb(contract::adbDevices()).text, contract::kAdbDeviceSerial)
            : output::adbDeviceStateAt(m_tools.adb(contract::adbDevicesLong()).text, contract::kAdbDeviceSerial, port);
    verdict.accessDenied = output::listsNoPermission(fastboot) || state.startsWith(contract::kAdbNoPermissions);
    verdict.listedNotReady = !state.isEmpty() && state != contract::kAdbReachable;
    verdict.tool = state == contract::kAdbReachable ? AdbVerdict::Adb : AdbVerdict::None;
    return verdict;
}

QStringList ListedPorts::all() const {
    QStringList ports = adb + fastboot;
    ports.removeDuplicates();
    return ports;
}

ListedPorts DeviceProbes::listedPorts() const {
    return {output::portsListed(m_tools.adb(contract::adbDevicesLong()).text),
            output::portsListed(m_tools.fastboot(contract::fastbootDevicesLong()).text)};
}

BootModeReading DeviceProbes::bootMode() const {
    const ToolResult mode = m_tools.adb(contract::adbBootMode()).text;
    if (!mode || output::reportsError(mode))
        return {-1, true};
    const int32_t code = output::readInt(*mode);

    const ToolResult mpp = m_tools.adb(contract::adbMpp5()).text;
    if (!mpp || output::reportsError(mpp))
        return {-1, true};
    // The prefix is dropped by length, not compared.
    const QStringView reading = QStringView(*mpp).mid(qMin(mpp->size(), contract::kMpp5Prefix.size()));
    if (reading.isEmpty())
        return {-1, false};
    if (output::readInt(reading) == contract::kMpp5Value && mppOverridesBootMode(code))
        return {0, false};
    return {code, false};
}

ToolResult DeviceProbes::firmwareVersion() const {
    return m_tools.adb(contract::adbFirmwareVersion()).text;
}

bool DeviceProbes::reboot() const {
    return !output::reportsError(m_tools.adb(contract::adbReboot()).text);
}

bool DeviceProbes::rebootToBootLoader() const {
    return !output::reportsError(m_tools.adb(contract::adbRebootBootloader()).text);
}

void DeviceProbes::rebootForwarded() const {
    m_tools.adbForwarded(contract::adbReboot());
}

bool DeviceProbes::flash(const QString& partition, const QString& imagePath, const std::function<void()>& sent) const {
    const ToolRun run = m_tools.fastboot(contract::fastbootFlash(partition, imagePath), sent);
    // Older fastboot ends with "finished. total time", the one Debian ships (and the bundle
    // carries) with "Finished. Total time". The older one prints it even after "FAILED", so the
    // exit status and that mark count too.
    return run.exitStatus == 0 && run.text && run.text->contains(contract::kFlashFinished, Qt::CaseInsensitive) &&
           !output::mentions(run.text, contract::kFlashFailed);
}

void DeviceProbes::fastbootReboot() const {
    m_tools.fastboot(contract::fastbootReboot());
}

void DeviceProbes::fastbootRebootBootloader() const {
    m_tools.fastboot(contract::fastbootRebootBootloader());
}

bool DeviceProbes::writeModeFile(const QStringList& command) const {
    const ToolResult answer = m_tools.adb(command).text;
    return !answer || answer->contains(contract::kModeFileOk, Qt::CaseSensitive);
}
