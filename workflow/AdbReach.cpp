#include "workflow/AdbReach.h"

#include "bridge/RunLog.h"
#include "usb/usbutils.h"

namespace {

// As long as the update waits for a restarted unit to come back to adb.
constexpr int kAttempts = 10;
constexpr double kWait = 2.0;

} // namespace

AdbReach bringToAdb(const DeviceProbes& probes, ModeSwitch& switches, const UsbPortPath& at, Clock& clock) {
    bool switched = false;
    // Outside an update nothing opened the USB library yet.
    do_init_utils();
    for (int i = 0; i < kAttempts; ++i) {
        const AdbVerdict verdict = probes.detectAdb();
        if (verdict.tool == AdbVerdict::Adb)
            return AdbReach::Reached;
        if (verdict.tool == AdbVerdict::Fastboot)
            return AdbReach::BootLoader;
        if (verdict.accessDenied)
            return AdbReach::Refused;
        // Listed but not ready: already in its adb personality, a switch would restart it.
        if (!verdict.listedNotReady && (probes.presence() & presence::kOwnIdentity)) {
            const int sent = switches.detectionSwitch(USB_SWITCH_TMP_USR_ADB, at);
            if (sent == USB_SWITCH_ACCESS_DENIED)
                return AdbReach::Refused;
            switched = switched || sent == 0;
        }
        clock.sleep(kWait);
    }
    runlog::write("restore", QStringLiteral("adb does not reach the unit at %1%2")
                                 .arg(at.port, switched ? QStringLiteral(" after its switch") : QString()));
    return AdbReach::NoUnit;
}
