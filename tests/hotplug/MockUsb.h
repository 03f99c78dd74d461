#pragma once
// Emulated USB devices in a umockdev testbed: sysfs entries for a usb_device and its
// usb_interface children, and the uevents a plain libudev monitor receives.

#include <umockdev.h>

#include <functional>
#include <string>
#include <vector>

struct MockInterface {
    int interfaceClass;
    int subclass;
    int number;
    bool readable = true; // false: no bInterfaceClass attribute
};

class MockUsb {
public:
    // `settle` runs after each node is added: the testbed sends an "add" for it, and a listener
    // queue holds only a few events (umockdev aborts when it is full).
    explicit MockUsb(std::function<void()> settle);
    ~MockUsb();
    MockUsb(const MockUsb&) = delete;
    MockUsb& operator=(const MockUsb&) = delete;

    // Adds a device and its interfaces (the testbed sends their "add" events); returns its sysfs path.
    std::string addDevice(int vendor, int product, const std::vector<MockInterface>& interfaces);
    void uevent(const std::string& path, const char* action);
    void removeDevice(const std::string& path);

private:
    std::string addNode(const std::string& name, const char* parent, const std::vector<std::string>& attributes,
                        const std::vector<std::string>& properties);

    UMockdevTestbed* testbed_;
    std::function<void()> settle_;
    int next_ = 1;
};

// Interfaces of the hotspot's personalities and fillers.
inline MockInterface cdromInterface() { return {8, 6, 0}; }
inline MockInterface ecmInterface() { return {10, 0, 2}; }
inline MockInterface otherInterface(int number) { return {0xFF, 0xFF, number}; }
