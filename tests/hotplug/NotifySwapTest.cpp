// Callbacks replaced from another thread while the watcher reports: each report uses one
// whole registration, never the callback of one and the user data of the other.

#include "HotplugFixture.h"

#include "usb/usbutils.h"

#include <thread>

namespace {

template <char Tag>
void addFor(void* userData)
{
    auto* recorder = static_cast<Recorder*>(userData);
    ++(recorder->tag == Tag ? recorder->added : recorder->wrongUserData);
}

template <char Tag>
void removeFor(void* userData)
{
    auto* recorder = static_cast<Recorder*>(userData);
    ++(recorder->tag == Tag ? recorder->removed : recorder->wrongUserData);
}

} // namespace

TEST_F(HotplugWatcher, CallbacksSwappedFromAnotherThreadWhileReporting)
{
    Recorder first{'A'};
    Recorder second{'B'};
    usb_set_notify(addFor<'A'>, removeFor<'A'>, &first);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        for (bool useFirst = false; !stop; useFirst = !useFirst) {
            if (useFirst)
                usb_set_notify(addFor<'A'>, removeFor<'A'>, &first);
            else
                usb_set_notify(addFor<'B'>, removeFor<'B'>, &second);
        }
    });
    constexpr int kRounds = 50;
    const std::vector<MockInterface> cdrom{cdromInterface(), otherInterface(1), otherInterface(2), otherInterface(3)};
    // The same device comes and goes: only the events matter here.
    const std::string device = mockUsb().addDevice(kVendor, kProduct, cdrom);
    for (int i = 0; i < kRounds; ++i) {
        deliver([&] { mockUsb().uevent(device, "bind"); });
        deliver([&] { mockUsb().uevent(device, "remove"); });
    }
    stop = true;
    swapper.join();

    usb_set_notify(nullptr, nullptr, nullptr);
    EXPECT_EQ(first.added + second.added, kRounds);
    EXPECT_EQ(first.removed + second.removed, kRounds);
    EXPECT_EQ(first.wrongUserData + second.wrongUserData, 0);
}
