#pragma once
// Shared fixture for the usbutils tests: a fresh fake library per test, and traces captured
// only around the calls under test (so the test's own failure messages stay visible).

#include "StdoutCapture.h"
#include "fakeusb/FakeUsb.h"
#include "usb/usbutils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Lines = std::vector<std::string>;

template <typename F>
Lines traced(F&& call)
{
    StdoutCapture capture;
    call();
    return capture.lines();
}

class UsbTest : public testing::Test {
protected:
    void SetUp() override { fakeusb::reset(); }
    void TearDown() override { fakeusb::reset(); }

    // Initialises and rescans, then forgets the trace and the calls this produced.
    void scan()
    {
        traced([] {
            do_init_utils();
            do_enum_devices();
        });
        fakeusb::clearCalls();
    }

    std::vector<fakeusb::Call> handleCallKinds() const
    {
        std::vector<fakeusb::Call> kinds;
        for (const auto& rec : fakeusb::handleCalls())
            kinds.push_back(rec.call);
        return kinds;
    }
};
