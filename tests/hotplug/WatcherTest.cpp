#include "HotplugFixture.h"

#include "usb/usbutils.h"

#include <cstdio>

namespace {

const std::vector<MockInterface> kCdrom{cdromInterface(), otherInterface(1), otherInterface(2), otherInterface(3)};
const std::vector<MockInterface> kEcm{otherInterface(0), otherInterface(1), ecmInterface()};

std::string plugIn(const std::vector<MockInterface>& interfaces, int vendor = kVendor)
{
    return deliver([&] { mockUsb().uevent(mockUsb().addDevice(vendor, kProduct, interfaces), "bind"); });
}

} // namespace

TEST(HotplugSetUp, AttachedDeviceIsExaminedButNotReported)
{
    const WatcherSetUp& setUp = watcherSetUp();
    EXPECT_EQ(setUp.result, 0);
    EXPECT_EQ(occurrences(setUp.trace, "Device appeared.\n"), 1) << "the other identity is not looked at";
    EXPECT_EQ(occurrences(setUp.trace, "Interface matching CDROM.\n"), 1);
    EXPECT_EQ(setUp.callbacksDuringSetUp, 0);
}

TEST_F(HotplugWatcher, ArrivalIsReportedForCdromAndEcmPersonalities)
{
    const std::string cdrom = plugIn(kCdrom);
    EXPECT_EQ(occurrences(cdrom, "Device appeared.\n"), 1);
    EXPECT_EQ(occurrences(cdrom, "Interface matching CDROM.\n"), 1);
    EXPECT_EQ(recorder.added, 1);

    plugIn(kEcm);
    EXPECT_EQ(recorder.added, 2);
    EXPECT_EQ(recorder.removed, 0);
}

TEST_F(HotplugWatcher, UnknownPersonalityIsTracedNotReported)
{
    const std::string trace = plugIn({cdromInterface(), otherInterface(1), otherInterface(2), otherInterface(3),
                                      otherInterface(4)});
    EXPECT_EQ(occurrences(trace, "Device appeared.\n"), 1);
    EXPECT_EQ(occurrences(trace, "Interface class"), 5);
    EXPECT_EQ(recorder.added, 0);
}

TEST_F(HotplugWatcher, OnlyTheBindOfADeviceOfTheIdentityIsAnArrival)
{
    EXPECT_EQ(plugIn(kCdrom, 0x05C6), "");
    const std::string trace = deliver([] {
        // The testbed sends "add" for the device and its interfaces by itself.
        const std::string device = mockUsb().addDevice(kVendor, kProduct, kCdrom);
        mockUsb().uevent(device + "/1-" + device.substr(device.rfind('-') + 1) + ":1.0", "bind");
    });
    EXPECT_EQ(trace, "");
    EXPECT_EQ(recorder.added, 0);
}

TEST_F(HotplugWatcher, RemovalOfSeveralDevicesAtOnceCallsBackOnce)
{
    const std::string first = mockUsb().addDevice(kVendor, kProduct, kCdrom);
    const std::string second = mockUsb().addDevice(kVendor, kProduct, kEcm);
    deliver([&] {
        mockUsb().uevent(first, "remove");
        mockUsb().uevent(second, "remove");
        mockUsb().removeDevice(first);
        mockUsb().removeDevice(second);
    });
    EXPECT_EQ(recorder.removed, 1);

    // A later removal is a notification of its own.
    const std::string third = mockUsb().addDevice(kVendor, kProduct, kCdrom);
    deliver([&] { mockUsb().uevent(third, "remove"); });
    EXPECT_EQ(recorder.removed, 2);
    EXPECT_EQ(recorder.added, 0);
}

TEST_F(HotplugWatcher, EventsOfOneWakeUpKeepTheirOrder)
{
    const std::string gone = mockUsb().addDevice(kVendor, kProduct, kCdrom);
    const std::string other = mockUsb().addDevice(kVendor, kProduct, kCdrom);
    const std::string arrived = mockUsb().addDevice(kVendor, kProduct, kCdrom);
    deliver([&] {
        mockUsb().uevent(gone, "remove");
        mockUsb().uevent(arrived, "bind");
        mockUsb().uevent(other, "remove");
    });
    EXPECT_EQ(recorder.removed, 2);
    EXPECT_EQ(recorder.added, 1);
}

TEST_F(HotplugWatcher, DeviceGoneBeforeItIsExaminedIsSkipped)
{
    const std::string trace = deliver([] {
        const std::string device = mockUsb().addDevice(kVendor, kProduct, kCdrom);
        mockUsb().uevent(device, "bind");
        mockUsb().removeDevice(device);
    });
    EXPECT_EQ(occurrences(trace, "Device appeared.\nUnable to create a plug-in ("), 1);
    EXPECT_EQ(recorder.added, 0);

    plugIn(kCdrom);
    EXPECT_EQ(recorder.added, 1) << "the watcher stays armed";
}

TEST_F(HotplugWatcher, WithoutCallbacksEventsAreHandledAndTraced)
{
    usb_set_notify(nullptr, nullptr, nullptr);
    const std::string device = mockUsb().addDevice(kVendor, kProduct, kCdrom);
    const std::string trace = deliver([&] {
        mockUsb().uevent(device, "bind");
        mockUsb().uevent(device, "remove");
    });
    EXPECT_EQ(occurrences(trace, "Interface matching CDROM.\n"), 1);
    EXPECT_EQ(recorder.added + recorder.removed, 0);

    perform_deviceadd_cb();
    perform_deviceremove_cb();
    EXPECT_EQ(recorder.added + recorder.removed, 0);
}

TEST_F(HotplugWatcher, PerformCallsOnlyTheRegisteredCallbackWithItsUserData)
{
    Recorder other;
    usb_set_notify(nullptr, recordRemove, &other);
    perform_deviceadd_cb();
    perform_deviceremove_cb();
    EXPECT_EQ(other.added, 0);
    EXPECT_EQ(other.removed, 1);
    EXPECT_EQ(recorder.removed, 0);
}

TEST_F(HotplugWatcher, SecondSetUpDoesNotArmASecondWatcher)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(usb_init_for_factory(kVendor, kProduct, 7), 0);
    EXPECT_EQ(usb_init_for_factory(0x05C6, 0x9025, 0), -1) << "the watcher is bound to its identity";
    testing::internal::GetCapturedStdout();

    plugIn(kCdrom);
    EXPECT_EQ(recorder.added, 1) << "one report per arrival";
}

namespace {
void markAddCallback(void*) { std::printf("<add callback>\n"); }
} // namespace

TEST_F(HotplugWatcher, LookupLayerIsRescannedBeforeTheAddCallback)
{
    usb_set_notify(markAddCallback, nullptr, nullptr);
    const std::string trace = plugIn(kCdrom);
    const auto classified = trace.find("Interface matching CDROM.");
    const auto rescan = trace.find("[usbutils]do_enum_devices -> usb finding all...", classified);
    const auto callback = trace.find("<add callback>");
    ASSERT_NE(callback, std::string::npos);
    ASSERT_NE(rescan, std::string::npos);
    EXPECT_LT(rescan, callback);
}
