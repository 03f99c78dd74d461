#pragma once
// The lock of the usbutils module around libusb-0.1's one process-wide bus and device list.
//
// Needs it:
// - usb_find_busses and usb_find_devices: they rebuild the list and free the records of the
//   devices that have gone;
// - the walk from usb_get_busses() and every read of a record it hands out;
// - usb_open(record): the record's last use. The handle it returns holds the device by its
//   own reference (a file descriptor; libusb-1.0's reference under the compatibility layer),
//   never by the record, so it survives any later rescan.
// Needs it not: every call on an open handle (driver query and detach, configuration, claim,
// alternate setting, bulk writes and reads, release, close). Handles of different units are
// driven from different threads at once: one unit that never answers holds up no other.
//
// Recursive, so that module functions can call each other. Code that keeps a record from
// find_device() (or walks the list itself) holds it across that use:
//
//     std::lock_guard guard(usbutils_lock());
//     if (usb_device* dev = find_device(v, p)) { ... usb_open(dev) ... }

#include <mutex>

std::recursive_mutex& usbutils_lock();
