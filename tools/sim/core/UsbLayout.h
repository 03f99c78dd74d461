#pragma once
// The interfaces each personality shows on the bus, in interface-number order, so every
// transport of the simulated hotspot presents the same layout. The CD-ROM personality is
// the storage interface and three serial ports; the network personality keeps the storage
// interface first (the switch commands go there) and adds the Ethernet (ECM) control and
// data interfaces, two serial ports and adb. The factory personality is a serial port and
// adb, the boot loader its fastboot interface. A host tells CD-ROM from network by these.

#include <QList>
#include <QtGlobal>

namespace sim {

class Device;

enum class UsbFunction { Storage, Serial, EcmControl, EcmData, Adb, Fastboot };

struct UsbInterface {
    UsbFunction function;
    quint8 cls, subclass, protocol;
};

// The USB-IF codes of the interface that carries the function.
UsbInterface usbInterface(UsbFunction function);

// What the device shows now; empty while it is off the bus.
QList<UsbInterface> usbLayout(const Device& device);

} // namespace sim
