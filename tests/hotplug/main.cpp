#include "HotplugFixture.h"

#include "usb/usbutils.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

std::unique_ptr<MockUsb> gMockUsb;
WatcherSetUp gSetUp;
Recorder gSetUpRecorder;

bool umockdevPreloaded()
{
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload");
}

class WatcherEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        gMockUsb = std::make_unique<MockUsb>(pumpEvents);
        gMockUsb->addDevice(kVendor, kProduct, {cdromInterface(), otherInterface(1), otherInterface(2), otherInterface(3)});
        gMockUsb->addDevice(0x1234, 0x5678, {cdromInterface(), otherInterface(1), otherInterface(2), otherInterface(3)});
        usb_set_notify(recordAdd, recordRemove, &gSetUpRecorder);
        testing::internal::CaptureStdout();
        gSetUp.result = usb_init_for_factory(kVendor, kProduct, 0);
        gSetUp.trace = testing::internal::GetCapturedStdout();
        gSetUp.callbacksDuringSetUp = gSetUpRecorder.added + gSetUpRecorder.removed;
        usb_set_notify(nullptr, nullptr, nullptr);
    }
};

} // namespace

MockUsb& mockUsb() { return *gMockUsb; }
const WatcherSetUp& watcherSetUp() { return gSetUp; }

void recordAdd(void* userData)
{
    auto* recorder = static_cast<Recorder*>(userData);
    ++recorder->added;
}

void recordRemove(void* userData)
{
    auto* recorder = static_cast<Recorder*>(userData);
    ++recorder->removed;
}

void pumpEvents()
{
    // umockdev delivers a uevent before it returns, so the monitor is readable already.
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

std::string deliver(const std::function<void()>& trigger)
{
    testing::internal::CaptureStdout();
    trigger();
    pumpEvents();
    return testing::internal::GetCapturedStdout();
}

int occurrences(const std::string& text, const std::string& part)
{
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

void HotplugWatcher::SetUp() { usb_set_notify(recordAdd, recordRemove, &recorder); }

void HotplugWatcher::TearDown()
{
    usb_set_notify(nullptr, nullptr, nullptr);
    pumpEvents();
}

// GLib and umockdev hand work to the testbed's worker thread with futexes that ThreadSanitizer
// cannot see; their reports are about the test equipment, not the watcher.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libglib-2.0.so\n"
           "race:libumockdev.so\n";
}

// umockdev's preload comes before the AddressSanitizer runtime in the library list; that is fine
// as it only redirects file and socket calls.
extern "C" const char* __asan_default_options() { return "verify_asan_link_order=0"; }

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // Without the preload the testbed is invisible to libudev and the host's real devices leak in.
    if (!GTEST_FLAG_GET(list_tests) && !umockdevPreloaded()) {
        std::fprintf(stderr, "hotplug_tests: libumockdev-preload is not loaded; run through ctest or "
                             "under umockdev-wrapper\n");
        return 1;
    }
    ::testing::AddGlobalTestEnvironment(new WatcherEnvironment);
    return RUN_ALL_TESTS();
}
