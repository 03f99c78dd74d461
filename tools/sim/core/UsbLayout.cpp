#include "core/UsbLayout.h"

#include "core/Device.h"

namespace sim {

UsbInterface usbInterface(UsbFunction function)
{
    switch (function) {
    case UsbFunction::Storage:
        return {function, 0x08, 0x06, 0x50}; // SCSI transparent, Bulk-Only Transport
    case UsbFunction::Serial:
        return {function, 0xFF, 0x00, 0x00};
    case UsbFunction::EcmControl:
        return {function, 0x02, 0x06, 0x00};
    case UsbFunction::EcmData:
        return {function, 0x0A, 0x00, 0x00};
    case UsbFunction::Adb:
        return {function, 0xFF, 0x42, 0x01};
    case UsbFunction::Fastboot:
        return {function, 0xFF, 0x42, 0x03};
    }
    return {function, 0xFF, 0xFF, 0xFF};
}

QList<UsbInterface> usbLayout(const Device& device)
{
    const QString p = device.personality();
    if (!device.plugged() || p == QLatin1String(personality::kRestarting))
        return {};
    QList<UsbFunction> functions;
    if (p == QLatin1String(personality::kBootloader))
        functions = {UsbFunction::Fastboot};
    else if (p == QLatin1String(personality::kFtm))
        functions = {UsbFunction::Serial};
    else if (p == QLatin1String(personality::kUsr))
        functions = {UsbFunction::Storage, UsbFunction::Serial, UsbFunction::Serial, UsbFunction::Serial};
    else if (p == QLatin1String(personality::kUsrAdb))
        functions = {UsbFunction::Storage, UsbFunction::EcmControl, UsbFunction::EcmData, UsbFunction::Serial,
                     UsbFunction::Serial};
    if (p != QLatin1String(personality::kBootloader) && device.adbReaches())
        functions << UsbFunction::Adb;
    QList<UsbInterface> layout;
    for (UsbFunction f : functions)
        layout << usbInterface(f);
    return layout;
}

} // namespace sim
