#pragma once
// The one lock of the usbutils module.
//
// libusb-0.1 keeps a single process-wide bus and device list, and a rescan frees the records
// of devices that have gone. The module is called from the GUI thread (termination), the
// detection worker and the update worker, so every public function of the module holds this
// lock while it runs. It is recursive so that module functions can call each other, and code
// that keeps a record from find_device() (or walks the list itself) holds it across that use:
//
//     std::lock_guard guard(usbutils_lock());
//     if (usb_device* dev = find_device(v, p)) { ... usb_open(dev) ... }

#include <mutex>

std::recursive_mutex& usbutils_lock();
