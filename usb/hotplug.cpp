// The hot-plug watcher: callbacks, set-up, and the monitor's wake-ups.

#include "usb/hotplug.h"
#include "usb/hotplug_udev.h"
#include "usb/usbutils.h"

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

// The callbacks may be replaced from any thread while a handler runs: the three values are
// one record, written and read whole under the lock, and never called with the lock held.
std::mutex gDeviceCBLock;
usb_notify_cb gDeviceAddCB = nullptr;
usb_notify_cb gDeviceRemoveCB = nullptr;
void* gDeviceCBUserData = nullptr;

struct DeviceCallbacks {
    usb_notify_cb add;
    usb_notify_cb remove;
    void* userData;
};

DeviceCallbacks currentCallbacks()
{
    std::lock_guard guard(gDeviceCBLock);
    return {gDeviceAddCB, gDeviceRemoveCB, gDeviceCBUserData};
}

// 1 once armed; devices seen before that are examined but never reported.
std::atomic<uint8_t> gNotifyInited{0};

// One watcher per process, owned by the thread that armed it and never torn down.
std::mutex gSetupLock;
udev* gUdev = nullptr;
udev_monitor* gMonitor = nullptr;
QSocketNotifier* gNotifier = nullptr;
UsbIdentity gWatched;
int32_t gRefCon = 0;

void onMonitorReadable()
{
    struct Run {
        bool added;
        HotplugBatch devices;
    };
    std::vector<Run> runs;
    // Drain everything queued: the notifier is level-triggered.
    while (UdevDevicePtr event{udev_monitor_receive_device(gMonitor)}) {
        const char* action = udev_device_get_action(event.get());
        // A usb_device's "add" comes before the usb core has configured it and created its
        // interfaces; its "bind" comes after. So arrival is the bind.
        const bool added = action && std::strcmp(action, "bind") == 0;
        const bool removed = action && std::strcmp(action, "remove") == 0;
        if (!(added || removed) || !isUsbDevice(event.get()) || deviceIdentity(event.get()) != gWatched)
            continue;
        if (runs.empty() || runs.back().added != added)
            runs.push_back({added, {}});
        runs.back().devices.emplace_back(udev_device_get_syspath(event.get()));
    }
    for (const Run& run : runs) {
        if (run.added)
            RawDeviceAdded(gRefCon, run.devices);
        else
            RawDeviceRemoved(gRefCon, run.devices);
    }
}

} // namespace

// A report already under way when the record is replaced still calls the earlier callback.
void usb_set_notify(usb_notify_cb add_cb, usb_notify_cb remove_cb, void* user_data)
{
    std::lock_guard guard(gDeviceCBLock);
    gDeviceAddCB = add_cb;
    gDeviceRemoveCB = remove_cb;
    gDeviceCBUserData = user_data;
}

void perform_deviceadd_cb()
{
    const DeviceCallbacks callbacks = currentCallbacks();
    if (callbacks.add && gNotifyInited.load() == 1)
        callbacks.add(callbacks.userData);
}

void perform_deviceremove_cb()
{
    const DeviceCallbacks callbacks = currentCallbacks();
    if (callbacks.remove && gNotifyInited.load() == 1)
        callbacks.remove(callbacks.userData);
}

void RawDeviceAdded(int32_t, const HotplugBatch& devices)
{
    for (const std::string& path : devices) {
        hotplugTrace("Device appeared.\n");
        errno = 0;
        // Opened afresh: the device may have gone since its event was queued.
        UdevDevicePtr device{gUdev ? udev_device_new_from_syspath(gUdev, path.c_str()) : nullptr};
        if (!device) {
            hotplugTrace("Unable to create a plug-in (%08x)\n", errnoStatus(ENODEV));
            continue;
        }
        if (!hexAttribute(device.get(), "idVendor", 0xFFFF) || !hexAttribute(device.get(), "idProduct", 0xFFFF)) {
            hotplugTrace("Couldn’t create a device interface (%08x)\n", errnoStatus(ENOENT));
            continue;
        }
        if (EnumInterfaces(device.get()) < 0)
            continue;
        // The callback may look the device up: make the lookup layer see it first.
        if (do_enum_devices() < 0)
            continue;
        perform_deviceadd_cb();
    }
}

void RawDeviceRemoved(int32_t, const HotplugBatch&)
{
    // Nothing to release per device on Linux; one callback however many devices went.
    perform_deviceremove_cb();
}

int usb_init_for_factory(int vendor, int product, int32_t ref)
{
    std::lock_guard setup(gSetupLock);
    // One watcher per process: a second one would report every event twice.
    if (gNotifier)
        return gWatched == UsbIdentity{vendor, product} ? 0 : -1;

    gNotifyInited = 0;
    do_init_utils();

    errno = 0;
    UdevPtr context{udev_new()};
    if (!context) {
        hotplugTrace("ERR: Couldn’t create a master I/O Kit port(%08x)\n", errnoStatus(ENOMEM));
        return -1;
    }
    // The monitor's socket is watched by this thread's event loop, so it must have one.
    UdevMonitorPtr monitor = openUsbMonitor(context.get());
    if (!monitor || !QAbstractEventDispatcher::instance()) {
        hotplugTrace("Couldn’t create a USB matching dictionary\n");
        return -1;
    }

    gWatched = UsbIdentity{vendor, product};
    gRefCon = ref;
    gUdev = context.release();
    gMonitor = monitor.release();
    gNotifier = new QSocketNotifier(udev_monitor_get_fd(gMonitor), QSocketNotifier::Read);
    QObject::connect(gNotifier, &QSocketNotifier::activated, gNotifier, [] { onMonitorReadable(); });

    // The monitor runs before this scan, so a device plugged in meanwhile is not missed;
    // the ones found here are examined but not reported.
    RawDeviceAdded(ref, attachedDevices(gUdev, gWatched));
    RawDeviceRemoved(ref, {});

    gNotifyInited = 1;
    return 0;
}
