#pragma once
// libudev plumbing of the hot-plug watcher: owning handles, the watched identity and the
// sysfs reads that stand in for the device and interface descriptors.

#include <libudev.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct UdevUnref {
    void operator()(udev* p) const { udev_unref(p); }
    void operator()(udev_device* p) const { udev_device_unref(p); }
    void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
    void operator()(udev_monitor* p) const { udev_monitor_unref(p); }
};
using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevUnref>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevUnref>;
using UdevMonitorPtr = std::unique_ptr<udev_monitor, UdevUnref>;

struct UsbIdentity {
    int vendor = -1;
    int product = -1;
    bool operator==(const UsbIdentity&) const = default;
};

// Trace line on stdout, flushed so that it is not lost if the process dies.
void hotplugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The current errno as a status for the trace, never 0 (fallback when libudev left none).
unsigned errnoStatus(int fallback);

// A sysfs attribute written in hexadecimal (USB descriptor fields), within 0..max;
// nullopt with errno set when missing or malformed.
std::optional<int> hexAttribute(udev_device* device, const char* name, int max);

// Vendor and product of a usb_device from its descriptor attributes; once the device has gone
// (removal), from the PRODUCT property the kernel puts into its events.
std::optional<UsbIdentity> deviceIdentity(udev_device* device);

bool isUsbDevice(udev_device* device);

// A monitor on usb_device events, receiving; nullptr when it cannot be set up.
UdevMonitorPtr openUsbMonitor(udev* context);

// Sysfs paths of the attached usb_devices that carry the identity.
std::vector<std::string> attachedDevices(udev* context, UsbIdentity identity);

// Sysfs paths of the device's usb_interface children; nullopt (errno set) when unreadable.
std::optional<std::vector<std::string>> interfacePaths(udev_device* device);
