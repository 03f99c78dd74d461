#include "bridge/ModeSwitch.h"
#include "usb/usbutils.h"

int ModeSwitch::sendAt(const UsbPortPath& at, uint32_t mode) {
    bool delivered = false;
    const int result = usb_mode_switch_at(at.sysfsRoot.toUtf8().constData(), at.port.toUtf8().constData(),
                                          kOwnVendor, kOwnProduct, mode, &delivered);
    std::lock_guard guard(m_lastLock);
    // Only a command the unit took counts; any other attempt leaves its last command unknown.
    if (delivered && mode == USB_SWITCH_PRM_USR)
        m_permanentLast.insert(at.port);
    else
        m_permanentLast.erase(at.port);
    return result;
}

bool ModeSwitch::permanentWasLast(const QString& port) {
    std::lock_guard guard(m_lastLock);
    return m_permanentLast.count(port) > 0;
}

int ModeSwitch::detectionSwitch(uint32_t mode) {
    std::shared_lock order(m_order);
    if (m_finalSent)
        return 0;
    return usb_mode_switch_factory(kOwnVendor, kOwnProduct, mode);
}

int ModeSwitch::detectionSwitch(uint32_t mode, const UsbPortPath& at) {
    std::shared_lock order(m_order);
    if (m_finalSent)
        return 0;
    // A unit bound to a port is looked at in sysfs, not by a rescan: the list may still hold
    // the record of an earlier enumeration.
    do_enum_devices();
    return sendAt(at, mode);
}

void ModeSwitch::sendFinal() {
    std::unique_lock order(m_order);
    m_finalSent = true;
    // The device may have re-enumerated since the last rescan (after a mode-2 switch, say);
    // a stale record cannot be opened and the permanent switch would be lost.
    do_enum_devices();
    usb_mode_switch_factory(kOwnVendor, kOwnProduct, USB_SWITCH_PRM_USR);
}

void ModeSwitch::sendFinal(const std::vector<UsbPortPath>& units) {
    std::unique_lock order(m_order);
    m_finalSent = true;
    do_enum_devices();
    for (const UsbPortPath& at : units) {
        if (!permanentWasLast(at.port))
            sendAt(at, USB_SWITCH_PRM_USR);
    }
}

void ModeSwitch::sendAfterRescan(uint32_t mode) {
    std::shared_lock order(m_order);
    do_enum_devices();
    usb_mode_switch_factory(kOwnVendor, kOwnProduct, mode);
}

void ModeSwitch::sendAfterRescan(uint32_t mode, const UsbPortPath& at) {
    std::shared_lock order(m_order);
    do_enum_devices();
    sendAt(at, mode);
}
