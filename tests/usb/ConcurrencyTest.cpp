#include "UsbTestSupport.h"
#include "usb/usblock.h"

#include <usb.h>

#include <set>
#include <thread>

namespace {

// While one unit's exchange waits for its status, the module's lock is free: another thread
// rescans and opens, and another unit's switch goes through meanwhile.
TEST_F(UsbTest, ExchangeRunsWithoutTheLock)
{
    const int bus = fakeusb::addBus("001");
    fakeusb::addDevice(bus, kOwnVendor, kOwnProduct);
    scan();
    int lockFreeDuringReads = 0, reads = 0;
    fakeusb::duringBulkRead([&] {
        ++reads;
        std::thread other([&] {
            if (usbutils_lock().try_lock()) {
                ++lockFreeDuringReads;
                usbutils_lock().unlock();
            }
        });
        other.join();
    });
    StdoutCapture quiet;
    EXPECT_EQ(usb_mode_switch_factory(kOwnVendor, kOwnProduct, USB_SWITCH_TMP_USR_ADB), 0);
    EXPECT_EQ(try_to_claim(kOwnVendor, kOwnProduct), 0);
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(lockFreeDuringReads, 2);
}

// The three callers of the module at once: a detection-style prober, an update-style switcher
// and a hot-plug side that plugs and unplugs devices and rescans. Meant to run under
// ThreadSanitizer and AddressSanitizer too: a walk racing a rescan, or a record used after a
// rescan freed it, shows up there.
TEST_F(UsbTest, LookupsRescansAndSwitchesFromThreeThreads)
{
    const int bus = fakeusb::addBus("001");
    fakeusb::addDevice(bus, kOwnVendor, kOwnProduct);
    scan();

    std::vector<int> detectionResults, updateResults;
    std::vector<int> plugged;
    StdoutCapture quiet;

    std::thread detection([&] {
        for (int i = 0; i < 1000; ++i) {
            do_enum_devices();
            do_find_device(kQualcommVendor, kQualcommProduct);
            do_find_device(kOwnVendor, kOwnProduct);
            if (i % 50 == 0)
                detectionResults.push_back(usb_mode_switch_factory(kOwnVendor, kOwnProduct, USB_SWITCH_TMP_USR_ADB));
        }
    });
    std::thread update([&] {
        for (int i = 0; i < 40; ++i) {
            updateResults.push_back(usb_mode_switch_factory(kOwnVendor, kOwnProduct, uint32_t(i % 4)));
            try_to_claim(kOwnVendor, kOwnProduct);
            // A caller that keeps the record holds the module's lock across its use.
            std::lock_guard guard(usbutils_lock());
            if (struct usb_device* dev = find_device(kQualcommVendor, kQualcommProduct)) {
                EXPECT_EQ(dev->descriptor.idProduct, kQualcommProduct);
            }
        }
    });
    std::thread hotplug([&] {
        for (int i = 0; i < 1000; ++i) {
            if (plugged.size() >= 4) {
                fakeusb::removeDevice(plugged.front());
                plugged.erase(plugged.begin());
            } else {
                const bool own = i % 2 == 0;
                plugged.push_back(fakeusb::addDevice(bus, own ? kOwnVendor : kQualcommVendor,
                                                     own ? kOwnProduct : kQualcommProduct));
            }
            do_enum_devices();
            find_device(kOwnVendor, kOwnProduct);
        }
    });
    detection.join();
    update.join();
    hotplug.join();

    const std::set<int> allowed = {0, -1, -2};
    for (int result : detectionResults)
        EXPECT_TRUE(allowed.count(result)) << result;
    for (int result : updateResults)
        EXPECT_TRUE(allowed.count(result)) << result;
    EXPECT_EQ(fakeusb::openHandles(), 0);

    // After a last rescan the list agrees with the world: the first device and those left plugged.
    do_enum_devices();
    EXPECT_EQ(do_find_device(kOwnVendor, kOwnProduct) + do_find_device(kQualcommVendor, kQualcommProduct),
              1 + int(plugged.size()));
}

} // namespace
