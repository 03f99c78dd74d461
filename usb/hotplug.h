#pragma once
// Inside the hot-plug watcher (the module's usb_set_notify / usb_init_for_factory).
//
// On Linux the watcher is a libudev monitor on usb_device events, filtered to one
// vendor:product, whose socket is watched by the event loop of the thread that armed it.
// A device has arrived with its "bind" event (its "add" comes before the usb core has
// created its interfaces) and has gone with its "remove" event.
// A notification is one batch of devices: the ones attached at set-up, or one run of
// consecutive arrivals (or removals) drained from the monitor in one wake-up. Two devices
// removed together therefore give one remove callback; "remove A, arrive B, remove C" in
// one wake-up gives remove, add, remove, in that order.

#include <cstdint>
#include <string>
#include <vector>

struct udev_device;

// The sysfs paths of the devices of the watched identity that a notification carries.
using HotplugBatch = std::vector<std::string>;

// Classifies a usb_device by its interfaces: 1 when interface 0 is mass storage / SCSI
// (the CD-ROM) and there are exactly 4 interfaces, else 0 when interface 2 is CDC data
// (the ECM), else -1. Traces every interface.
int EnumInterfaces(udev_device* device);

// Handler of arrivals: traces and classifies each device; for a CD-ROM or ECM device it
// rescans the lookup layer and, once armed, calls the add callback. `ref` is not used.
void RawDeviceAdded(int32_t ref, const HotplugBatch& devices);

// Handler of removals: calls the remove callback once, once armed. `ref` is not used.
void RawDeviceRemoved(int32_t ref, const HotplugBatch& devices);
