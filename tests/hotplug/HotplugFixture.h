#pragma once
// One watcher per process: the global environment arms it once, with one device of the
// watched identity (and one of another) already attached; the tests share it.

#include "MockUsb.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>

constexpr int kVendor = 0x11F6;
constexpr int kProduct = 0x102A;

struct Recorder {
    char tag = 'A';
    std::atomic<int> added{0};
    std::atomic<int> removed{0};
    std::atomic<int> wrongUserData{0};
};

void recordAdd(void* userData);
void recordRemove(void* userData);

struct WatcherSetUp {
    int result = -2;
    std::string trace;
    int callbacksDuringSetUp = 0;
};

MockUsb& mockUsb();
const WatcherSetUp& watcherSetUp();

// Lets the event loop hand the queued uevents to the watcher.
void pumpEvents();

// Runs `trigger`, hands its events to the watcher and returns what was printed meanwhile.
std::string deliver(const std::function<void()>& trigger);

int occurrences(const std::string& text, const std::string& part);

class HotplugWatcher : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    Recorder recorder;
};
