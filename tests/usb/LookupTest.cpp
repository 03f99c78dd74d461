#include "UsbTestSupport.h"

#include <usb.h>

using fakeusb::Call;

namespace {

class LookupTest : public UsbTest {
protected:
    // Bus 1: the Qualcomm identity and a hub; bus 2: two devices with the switch identity.
    void twoBusses()
    {
        const int bus1 = fakeusb::addBus("001");
        const int bus2 = fakeusb::addBus("002");
        fakeusb::addDevice(bus1, kQualcommVendor, kQualcommProduct);
        fakeusb::addDevice(bus1, 0x1d6b, 0x0002);
        fakeusb::addDevice(bus2, kOwnVendor, kOwnProduct);
        fakeusb::addDevice(bus2, kOwnVendor, kOwnProduct);
        scan();
    }

    int count(int vendor, int product)
    {
        int n = -1;
        traced([&] { n = do_find_device(vendor, product); });
        return n;
    }
};

TEST_F(LookupTest, InitReportsBussesOnlyWhenTheScanFindsNew)
{
    fakeusb::addBus("001");
    int first = 1, second = 1;
    EXPECT_EQ(traced([&] { first = do_init_utils(); }), Lines{"[usbutils]do_init -> usb init."});
    EXPECT_EQ(first, 0);
    // Nothing added or removed since: the library reports no change, although busses exist.
    EXPECT_EQ(traced([&] { second = do_init_utils(); }),
              (Lines{"[usbutils]do_init -> usb init.", "[usbutils]do_enum_devices -> busses not found."}));
    EXPECT_EQ(second, -1);
    EXPECT_NE(usb_get_busses(), nullptr);
}

TEST_F(LookupTest, InitWithoutBussesFails)
{
    EXPECT_EQ(do_init_utils(), -1);
    EXPECT_TRUE(fakeusb::initialised());
}

TEST_F(LookupTest, LookupsBeforeInitSeeNothing)
{
    fakeusb::addDevice(fakeusb::addBus("001"), kOwnVendor, kOwnProduct);
    int changes = -1, n = -1;
    struct usb_device* found = reinterpret_cast<struct usb_device*>(1);

    EXPECT_EQ(traced([&] { changes = do_enum_devices(); }), Lines{"[usbutils]do_enum_devices -> usb finding all..."});
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(traced([&] { n = do_find_device(kOwnVendor, kOwnProduct); }),
              (Lines{"[usbutils]do_find_device -> 11f6:102a", "[usbutils]do_find_device -> found 0 match device."}));
    EXPECT_EQ(n, 0);
    EXPECT_EQ(traced([&] { found = find_device(kOwnVendor, kOwnProduct); }),
              (Lines{"[usbutils]find_device -> 11f6:102a", "[usbutils]find_device -> not found."}));
    EXPECT_EQ(found, nullptr);
}

TEST_F(LookupTest, OnlyARescanShowsDevicesThatCameOrWent)
{
    const int bus = fakeusb::addBus("001");
    const int first = fakeusb::addDevice(bus, kOwnVendor, kOwnProduct);
    EXPECT_EQ(do_init_utils(), 0);
    EXPECT_EQ(do_enum_devices(), 1);
    EXPECT_EQ(count(kOwnVendor, kOwnProduct), 1);

    fakeusb::addDevice(bus, kOwnVendor, kOwnProduct);
    EXPECT_EQ(count(kOwnVendor, kOwnProduct), 1);
    EXPECT_EQ(do_enum_devices(), 1);
    EXPECT_EQ(count(kOwnVendor, kOwnProduct), 2);

    int changes = -1;
    EXPECT_EQ(traced([&] { changes = do_enum_devices(); }), Lines{"[usbutils]do_enum_devices -> usb finding all..."});
    EXPECT_EQ(changes, 0);

    fakeusb::removeDevice(first);
    fakeusb::addDevice(bus, kQualcommVendor, kQualcommProduct);
    EXPECT_EQ(count(kOwnVendor, kOwnProduct), 2);
    EXPECT_EQ(do_enum_devices(), 2);
    EXPECT_EQ(count(kOwnVendor, kOwnProduct), 1);
    EXPECT_EQ(count(kQualcommVendor, kQualcommProduct), 1);
}

TEST_F(LookupTest, FailedRescanKeepsThePreviousList)
{
    fakeusb::addDevice(fakeusb::addBus("001"), kOwnVendor, kOwnProduct);
    scan();
    fakeusb::setResult(Call::FindDevices, -5);
    int changes = 0;
    EXPECT_EQ(traced([&] { changes = do_enum_devices(); }),
              (Lines{"[usbutils]do_enum_devices -> usb finding all...", "[usbutils]do_enum_devices -> devices not found."}));
    EXPECT_EQ(changes, -1);
    EXPECT_EQ(count(kOwnVendor, kOwnProduct), 1);
}

TEST_F(LookupTest, CountWalksEveryDeviceOfEveryBus)
{
    twoBusses();
    int n = 0, n2 = 0;
    const Lines walk = {
        "[usbutils]do_find_device -> 11f6:102a",
        "[usbutils]do_find_device -> enum:05c6:9025",
        "[usbutils]do_find_device -> enum:1d6b:0002",
        "[usbutils]do_find_device -> enum:11f6:102a",
        "[usbutils]do_find_device -> ok.",
        "[usbutils]do_find_device -> enum:11f6:102a",
        "[usbutils]do_find_device -> ok.",
    };
    Lines expected = walk;
    expected.push_back("[usbutils]do_find_device -> found 2 match device.");
    EXPECT_EQ(traced([&] { n = do_find_device(kOwnVendor, kOwnProduct); }), expected);
    EXPECT_EQ(n, 2);

    expected.back() = "[usbutils]do_find_device2 -> found 2 match device.";
    EXPECT_EQ(traced([&] { n2 = do_find_device2(kOwnVendor, kOwnProduct); }), expected);
    EXPECT_EQ(n2, 2);
    EXPECT_EQ(count(kQualcommVendor, kQualcommProduct), 1);
}

TEST_F(LookupTest, FindDeviceReturnsTheFirstMatchAndStopsThere)
{
    twoBusses();
    struct usb_device* found = nullptr;
    EXPECT_EQ(traced([&] { found = find_device(kOwnVendor, kOwnProduct); }),
              (Lines{"[usbutils]find_device -> 11f6:102a", "[usbutils]find_device -> enum:05c6:9025",
                     "[usbutils]find_device -> enum:1d6b:0002", "[usbutils]find_device -> enum:11f6:102a",
                     "[usbutils]find_device -> ok."}));
    // The library's own record: first device of the second bus.
    EXPECT_EQ(found, usb_get_busses()->next->devices);
}

TEST_F(LookupTest, NoMatchAmongOthers)
{
    twoBusses();
    int n = -1;
    const Lines lines = traced([&] { n = do_find_device(0x0781, 0x5567); });
    EXPECT_EQ(n, 0);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines.front(), "[usbutils]do_find_device -> 0781:5567");
    EXPECT_EQ(lines.back(), "[usbutils]do_find_device -> found 0 match device.");

    struct usb_device* found = reinterpret_cast<struct usb_device*>(1);
    const Lines findLines = traced([&] { found = find_device(0x0781, 0x5567); });
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(findLines.size(), 6u);
    EXPECT_EQ(findLines.back(), "[usbutils]find_device -> not found.");
}

// The descriptor fields are 16-bit: wider or negative IDs never match, and print in full.
TEST_F(LookupTest, IdsOutsideSixteenBitsMatchNothing)
{
    fakeusb::addDevice(fakeusb::addBus("001"), kOwnVendor, kOwnProduct);
    scan();
    int n = -1;
    const Lines lines = traced([&] { n = do_find_device(kOwnVendor + 0x10000, kOwnProduct); });
    EXPECT_EQ(n, 0);
    EXPECT_EQ(lines.front(), "[usbutils]do_find_device -> 111f6:102a");

    struct usb_device* found = reinterpret_cast<struct usb_device*>(1);
    const Lines findLines = traced([&] { found = find_device(kOwnVendor, kOwnProduct - 0x10000); });
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(findLines.front(), "[usbutils]find_device -> 11f6:ffff102a");
}

TEST_F(LookupTest, ClaimProbe)
{
    const int bus = fakeusb::addBus("001");
    fakeusb::addDevice(bus, kOwnVendor, kOwnProduct);
    scan();
    EXPECT_EQ(try_to_claim(kOwnVendor, kOwnProduct), 0);
    EXPECT_EQ(handleCallKinds(), (std::vector<Call>{Call::Open, Call::ClaimInterface, Call::Close}));
    EXPECT_EQ(fakeusb::handleCalls()[1].arg, 0);

    fakeusb::queueResults(Call::ClaimInterface, {-16});
    EXPECT_EQ(try_to_claim(kOwnVendor, kOwnProduct), -16);
    EXPECT_EQ(fakeusb::openHandles(), 0);

    fakeusb::queueResults(Call::Open, {-EIO});
    Lines lines;
    int result = 0;
    lines = traced([&] { result = try_to_claim(kOwnVendor, kOwnProduct); });
    EXPECT_EQ(result, -2);
    EXPECT_EQ(lines.front(), "[usbutils]do_mode_switch -> matching device...");
    EXPECT_EQ(lines.back(), "[usbutils]do_mode_switch -> special device can not open.");

    lines = traced([&] { result = try_to_claim(kQualcommVendor, kQualcommProduct); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(lines.back(), "[usbutils]do_mode_switch -> special device not found.");
}

} // namespace
