#include "usb/hotplug_udev.h"
#include "usb/usbutils.h"

#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstring>

void hotplugTrace(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    usb_trace_vprintf(format, args);
    va_end(args);
}

unsigned errnoStatus(int fallback)
{
    return static_cast<unsigned>(errno > 0 ? errno : fallback);
}

namespace {

std::optional<int> parseHex(std::string_view text, int max)
{
    int value = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0 || value > max)
        return std::nullopt;
    return value;
}

// PRODUCT is "vendor/product/bcdDevice" in hexadecimal without padding.
std::optional<UsbIdentity> identityFromProductProperty(udev_device* device)
{
    const char* product = udev_device_get_property_value(device, "PRODUCT");
    if (!product)
        return std::nullopt;
    const std::string_view text(product);
    const auto first = text.find('/');
    const auto second = text.find('/', first == text.npos ? first : first + 1);
    if (first == text.npos || second == text.npos)
        return std::nullopt;
    const auto vendor = parseHex(text.substr(0, first), 0xFFFF);
    const auto model = parseHex(text.substr(first + 1, second - first - 1), 0xFFFF);
    if (!vendor || !model)
        return std::nullopt;
    return UsbIdentity{*vendor, *model};
}

} // namespace

std::optional<int> hexAttribute(udev_device* device, const char* name, int max)
{
    errno = 0;
    const char* text = udev_device_get_sysattr_value(device, name);
    if (!text) {
        if (errno == 0)
            errno = ENOENT;
        return std::nullopt;
    }
    auto value = parseHex(text, max);
    if (!value)
        errno = EINVAL;
    return value;
}

std::optional<UsbIdentity> deviceIdentity(udev_device* device)
{
    const auto vendor = hexAttribute(device, "idVendor", 0xFFFF);
    const auto product = hexAttribute(device, "idProduct", 0xFFFF);
    if (vendor && product)
        return UsbIdentity{*vendor, *product};
    return identityFromProductProperty(device);
}

bool isUsbDevice(udev_device* device)
{
    const char* subsystem = udev_device_get_subsystem(device);
    const char* devtype = udev_device_get_devtype(device);
    return subsystem && devtype && std::strcmp(subsystem, "usb") == 0 && std::strcmp(devtype, "usb_device") == 0;
}

UdevMonitorPtr openUsbMonitor(udev* context)
{
    // Processed events ("udev") rather than raw kernel ones: the device is set up when we look.
    UdevMonitorPtr monitor{udev_monitor_new_from_netlink(context, "udev")};
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "usb", "usb_device") < 0
        || udev_monitor_enable_receiving(monitor.get()) < 0)
        return nullptr;
    return monitor;
}

std::vector<std::string> attachedDevices(udev* context, UsbIdentity identity)
{
    std::vector<std::string> paths;
    if (identity.vendor < 0 || identity.vendor > 0xFFFF || identity.product < 0 || identity.product > 0xFFFF)
        return paths;
    UdevEnumeratePtr scan{udev_enumerate_new(context)};
    if (!scan || udev_enumerate_add_match_subsystem(scan.get(), "usb") < 0
        || udev_enumerate_add_match_property(scan.get(), "DEVTYPE", "usb_device") < 0
        || udev_enumerate_scan_devices(scan.get()) < 0)
        return paths;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get()))
    {
        // Compared as numbers: sysfs pads to four digits, a hand-made match string might not.
        UdevDevicePtr device{udev_device_new_from_syspath(context, udev_list_entry_get_name(entry))};
        if (device && deviceIdentity(device.get()) == identity)
            paths.emplace_back(udev_list_entry_get_name(entry));
    }
    return paths;
}

std::optional<std::vector<std::string>> interfacePaths(udev_device* device)
{
    UdevEnumeratePtr scan{udev_enumerate_new(udev_device_get_udev(device))};
    int rc = scan ? 0 : -ENOMEM;
    if (rc >= 0)
        rc = udev_enumerate_add_match_parent(scan.get(), device);
    if (rc >= 0)
        rc = udev_enumerate_add_match_subsystem(scan.get(), "usb");
    if (rc >= 0)
        rc = udev_enumerate_add_match_property(scan.get(), "DEVTYPE", "usb_interface");
    if (rc >= 0)
        rc = udev_enumerate_scan_devices(scan.get());
    if (rc < 0) {
        errno = -rc;
        return std::nullopt;
    }
    std::vector<std::string> paths;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get()))
        paths.emplace_back(udev_list_entry_get_name(entry));
    return paths;
}
