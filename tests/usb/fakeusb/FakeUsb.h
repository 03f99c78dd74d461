#pragma once
// A scripted stand-in for the libusb-0.1 usb_* interface, linked into a test instead of the
// real library. A test describes the "world" (busses and attached devices); the library's own
// bus and device lists follow it only when usb_find_busses / usb_find_devices rescan, as with
// the real library. Every call is recorded, and any call can be scripted to return a chosen
// value (negative to fail, a small count for a short transfer). Thread-safe.

#include <usb.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fakeusb {

enum class Call {
    Init,
    FindBusses,
    FindDevices,
    GetBusses,
    Open,
    Close,
    SetConfiguration,
    ClaimInterface,
    ReleaseInterface,
    SetAltinterface,
    BulkWrite,
    BulkRead,
    Strerror,
    GetDriver,          // usb_get_driver_np
    DetachKernelDriver, // usb_detach_kernel_driver_np
    Sleep, // usleep, observed (and still slept) so tests can see where the waits fall
};

const char* callName(Call call);

struct CallRecord {
    explicit CallRecord(Call kind) : call(kind) {}

    Call call;
    int device = -1;               // world id of the device behind the handle, -1 for none
    int arg = 0;                   // configuration, interface, alternate setting, endpoint or µs
    int size = 0;                  // bytes asked to transfer
    int timeout = 0;               // transfer timeout in ms
    std::vector<unsigned char> bytes; // what a bulk write carried
    int result = 0;
};

// Back to a fresh process: no context, empty world, empty lists, no record, no script.
void reset();

// ---- the world ----
int addBus(const std::string& dirname);            // returns the bus id
void removeBus(int bus);                           // its devices go with it
int addDevice(int bus, uint16_t vendor, uint16_t product); // returns the device id
void removeDevice(int device);
// A kernel driver holding the device's interface 0 (as Linux's storage driver does at every
// enumeration): claims fail with EBUSY until it is detached.
void bindDriver(int device, const std::string& driver);

// ---- scripting ----
// The next calls of this kind return these values in turn, then behave normally again.
void queueResults(Call call, std::vector<int> results);
// A failed usb_open leaves -result in errno, as the real library leaves open()'s error.
// Every call of this kind returns this value until clearResult.
void setResult(Call call, int result);
void clearResult(Call call);
// What a bulk read delivers (at most the size asked). Default: a 13-byte good CSW.
void setReadReply(std::vector<unsigned char> reply);
// Runs `during` on the calling thread at every bulk read, before the read is answered, outside
// the fake's own lock: what the caller holds then is what a device slow to answer holds up.
void duringBulkRead(std::function<void()> during);

// ---- inspection ----
std::vector<CallRecord> calls();       // every call, in order
std::vector<CallRecord> handleCalls(); // only open and the calls on a handle
std::vector<CallRecord> handleCallsAndSleeps();
void clearCalls();
int openHandles();                     // handles opened and not yet closed
bool initialised();

} // namespace fakeusb
