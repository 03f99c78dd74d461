#include "HotplugFixture.h"

#include "core/Device.h"
#include "core/Scenario.h"
#include "core/UsbLayout.h"
#include "usb/hotplug.h"

#include <libudev.h>

namespace {

struct Classified {
    int result;
    std::string trace;
};

Classified classify(const std::vector<MockInterface>& interfaces)
{
    const std::string path = mockUsb().addDevice(kVendor, kProduct, interfaces);
    udev* context = udev_new();
    udev_device* device = udev_device_new_from_syspath(context, path.c_str());
    EXPECT_NE(device, nullptr);
    testing::internal::CaptureStdout();
    const int result = device ? EnumInterfaces(device) : -2;
    Classified out{result, testing::internal::GetCapturedStdout()};
    udev_device_unref(device);
    udev_unref(context);
    return out;
}

struct Case {
    const char* name;
    std::vector<MockInterface> interfaces;
    int expected;
};

} // namespace

TEST(HotplugInterfaces, ClassifiesByPersonalityInterfaces)
{
    const MockInterface cdromOnOne{8, 6, 1};
    const MockInterface ecmOnOne{10, 0, 1};
    const MockInterface alternateOfThree{0xFF, 0xFF, 3};
    const Case cases[] = {
        {"CD-ROM, four interfaces", {cdromInterface(), otherInterface(1), otherInterface(2), otherInterface(3)}, 1},
        {"CD-ROM, five interfaces",
         {cdromInterface(), otherInterface(1), otherInterface(2), otherInterface(3), otherInterface(4)},
         -1},
        {"ECM without CD-ROM", {otherInterface(0), otherInterface(1), ecmInterface()}, 0},
        {"both, four interfaces", {cdromInterface(), otherInterface(1), ecmInterface(), otherInterface(3)}, 1},
        {"both, five interfaces",
         {cdromInterface(), otherInterface(1), ecmInterface(), otherInterface(3), otherInterface(4)},
         0},
        {"mass storage on interface 1", {otherInterface(0), cdromOnOne, otherInterface(2), otherInterface(3)}, -1},
        {"CDC data on interface 1", {otherInterface(0), ecmOnOne}, -1},
        {"no interfaces", {}, -1},
        {"alternate setting counted once",
         {cdromInterface(), otherInterface(1), otherInterface(2), otherInterface(3), alternateOfThree},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(classify(c.interfaces).result, c.expected);
    }
}

// The simulated hotspot's layouts, as its emulation on a real bus shows them: the watcher must
// tell its CD-ROM from its network personality and report neither of the others.
TEST(HotplugInterfaces, SimulatedPersonalitiesClassifyAsTheirKind)
{
    const struct {
        const char* personality;
        bool adbUnreachable;
        int expected;
    } cases[] = {
        {"usr", false, 1}, {"usr_adb", false, 0}, {"usr_adb", true, 0}, {"ftm", false, -1}, {"bootloader", false, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.personality) + (c.adbUnreachable ? " without adb" : ""));
        QJsonObject over{{"personality", c.personality}};
        if (c.adbUnreachable)
            over.insert("faults", QJsonObject{{"adb_unreachable", true}});
        QJsonObject state = sim::initialState(sim::mergeSettings(sim::defaultSettings(), over));
        sim::Device device(state);
        std::vector<MockInterface> interfaces;
        for (const sim::UsbInterface& i : sim::usbLayout(device))
            interfaces.push_back({i.cls, i.subclass, int(interfaces.size())});
        EXPECT_EQ(classify(interfaces).result, c.expected);
    }
}

TEST(HotplugInterfaces, TracesEveryInterfaceAndOnlyTheTableMatches)
{
    const auto cdrom = classify({cdromInterface(), {8, 6, 1}, otherInterface(2), otherInterface(3)});
    EXPECT_EQ(cdrom.trace, "Interface class 8, subclass 6 num 0\n"
                           "Interface matching CDROM.\n"
                           "Interface class 8, subclass 6 num 1\n"
                           "Interface class 255, subclass 255 num 2\n"
                           "Interface class 255, subclass 255 num 3\n");

    const auto ecm = classify({otherInterface(0), otherInterface(1), ecmInterface()});
    EXPECT_EQ(occurrences(ecm.trace, "Interface class 10, subclass 0 num 2\nInterface match ECM.\n"), 1);
    EXPECT_EQ(occurrences(ecm.trace, "CDROM"), 0);
}

TEST(HotplugInterfaces, UnreadableInterfaceStopsTheWalk)
{
    MockInterface broken = otherInterface(1);
    broken.readable = false;
    const auto afterCdrom = classify({cdromInterface(), broken, otherInterface(2), otherInterface(3)});
    EXPECT_EQ(afterCdrom.result, -1) << "only one interface was counted";
    EXPECT_NE(afterCdrom.trace.find("Couldn’t create a device interface for the interface("), std::string::npos);
    EXPECT_EQ(afterCdrom.trace.find("num 2"), std::string::npos);

    broken.number = 3;
    const auto afterEcm = classify({otherInterface(0), otherInterface(1), ecmInterface(), broken});
    EXPECT_EQ(afterEcm.result, 0) << "the ECM interface was seen before the walk stopped";
}
