#include "bridge/ModeSwitch.h"
#include "usb/usbutils.h"

namespace {

int switchAt(const UsbPortPath& at, uint32_t mode) {
    return usb_mode_switch_at(at.sysfsRoot.toUtf8().constData(), at.port.toUtf8().constData(), kOwnVendor,
                              kOwnProduct, mode);
}

} // namespace

int ModeSwitch::detectionSwitch(uint32_t mode) {
    std::lock_guard guard(m_lock);
    if (m_finalSent)
        return 0;
    return usb_mode_switch_factory(kOwnVendor, kOwnProduct, mode);
}

int ModeSwitch::detectionSwitch(uint32_t mode, const UsbPortPath& at) {
    std::lock_guard guard(m_lock);
    if (m_finalSent)
        return 0;
    return switchAt(at, mode);
}

void ModeSwitch::sendFinal() {
    // The device may have re-enumerated since the last rescan (after a mode-2 switch, say);
    // a stale record cannot be opened and the permanent switch would be lost.
    do_enum_devices();
    std::lock_guard guard(m_lock);
    m_finalSent = true;
    usb_mode_switch_factory(kOwnVendor, kOwnProduct, USB_SWITCH_PRM_USR);
}

void ModeSwitch::sendFinal(const std::vector<UsbPortPath>& units) {
    do_enum_devices();
    std::lock_guard guard(m_lock);
    m_finalSent = true;
    for (const UsbPortPath& at : units)
        switchAt(at, USB_SWITCH_PRM_USR);
}

void ModeSwitch::sendAfterRescan(uint32_t mode) {
    do_enum_devices();
    usb_mode_switch_factory(kOwnVendor, kOwnProduct, mode);
}

void ModeSwitch::sendAfterRescan(uint32_t mode, const UsbPortPath& at) {
    do_enum_devices();
    switchAt(at, mode);
}
