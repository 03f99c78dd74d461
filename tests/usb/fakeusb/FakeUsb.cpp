#include "fakeusb/FakeUsb.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include <time.h>
#include <unistd.h>

#ifndef __THROW
#define __THROW
#endif

struct usb_bus* usb_busses = nullptr;

// Records carry the world id next to the library's struct; reading it dereferences the record,
// so a record used after a rescan freed it shows up under AddressSanitizer.
namespace {
struct BusRecord {
    usb_bus bus;
    int id;
};
struct DeviceRecord {
    struct usb_device dev;
    int id;
};
} // namespace

struct usb_dev_handle {
    int device;
};

namespace fakeusb {
namespace {

struct WorldBus {
    int id;
    std::string dirname;
};

struct WorldDevice {
    int id;
    int bus;
    uint16_t vendor;
    uint16_t product;
    std::string driver; // kernel driver on interface 0, empty for none
};

const std::vector<unsigned char> kGoodStatus = {0x55, 0x53, 0x42, 0x53, 0x00, 0x78, 0x07,
                                                0x93, 0x00, 0x00, 0x00, 0x00, 0x00};

struct State {
    std::mutex mutex;
    bool initialised = false;
    int nextId = 1;
    std::vector<WorldBus> busses;
    std::vector<WorldDevice> devices;
    std::map<Call, std::deque<int>> queued;
    std::map<Call, int> sticky;
    std::vector<unsigned char> reply = kGoodStatus;
    std::vector<CallRecord> record;
    std::set<usb_dev_handle*> handles;
    std::function<void()> duringBulkRead;
};

State& state()
{
    static State s;
    return s;
}

using Lock = std::lock_guard<std::mutex>;

std::optional<int> scripted(State& s, Call call)
{
    auto& queue = s.queued[call];
    if (!queue.empty()) {
        const int result = queue.front();
        queue.pop_front();
        return result;
    }
    if (auto it = s.sticky.find(call); it != s.sticky.end())
        return it->second;
    return std::nullopt;
}

int recordCall(State& s, CallRecord rec)
{
    s.record.push_back(rec);
    return rec.result;
}

bool worldHasDevice(const State& s, int id)
{
    return std::any_of(s.devices.begin(), s.devices.end(), [&](const WorldDevice& d) { return d.id == id; });
}

WorldDevice* worldDevice(State& s, int id)
{
    auto it = std::find_if(s.devices.begin(), s.devices.end(), [&](const WorldDevice& d) { return d.id == id; });
    return it == s.devices.end() ? nullptr : &*it;
}

bool worldHasBus(const State& s, int id)
{
    return std::any_of(s.busses.begin(), s.busses.end(), [&](const WorldBus& b) { return b.id == id; });
}

int recordId(const usb_bus* bus)
{
    return reinterpret_cast<const BusRecord*>(bus)->id;
}

int recordId(const struct usb_device* dev)
{
    return reinterpret_cast<const DeviceRecord*>(dev)->id;
}

template <typename Node>
void append(Node*& head, Node* node)
{
    Node** tail = &head;
    Node* prev = nullptr;
    while (*tail) {
        prev = *tail;
        tail = &(*tail)->next;
    }
    node->prev = prev;
    node->next = nullptr;
    *tail = node;
}

template <typename Node>
void unlink(Node*& head, Node* node)
{
    if (node->prev)
        node->prev->next = node->next;
    else
        head = node->next;
    if (node->next)
        node->next->prev = node->prev;
}

void freeDevices(usb_bus* bus)
{
    while (struct usb_device* dev = bus->devices) {
        unlink(bus->devices, dev);
        delete reinterpret_cast<DeviceRecord*>(dev);
    }
}

void freeAll(State& s)
{
    while (usb_bus* bus = usb_busses) {
        freeDevices(bus);
        unlink(usb_busses, bus);
        delete reinterpret_cast<BusRecord*>(bus);
    }
    for (usb_dev_handle* handle : s.handles)
        delete handle;
    s.handles.clear();
}

int syncBusses(State& s)
{
    int changes = 0;
    for (usb_bus* bus = usb_busses; bus;) {
        usb_bus* next = bus->next;
        if (!worldHasBus(s, recordId(bus))) {
            freeDevices(bus);
            unlink(usb_busses, bus);
            delete reinterpret_cast<BusRecord*>(bus);
            ++changes;
        }
        bus = next;
    }
    for (const WorldBus& wb : s.busses) {
        bool known = false;
        for (usb_bus* bus = usb_busses; bus && !known; bus = bus->next)
            known = recordId(bus) == wb.id;
        if (known)
            continue;
        auto* rec = new BusRecord{};
        rec->id = wb.id;
        std::snprintf(rec->bus.dirname, sizeof rec->bus.dirname, "%s", wb.dirname.c_str());
        rec->bus.location = uint32_t(wb.id);
        append(usb_busses, &rec->bus);
        ++changes;
    }
    return changes;
}

int syncDevices(State& s, usb_bus* bus)
{
    const int busId = recordId(bus);
    int changes = 0;
    for (struct usb_device* dev = bus->devices; dev;) {
        struct usb_device* next = dev->next;
        const int id = recordId(dev);
        const bool present = std::any_of(s.devices.begin(), s.devices.end(),
                                         [&](const WorldDevice& d) { return d.id == id && d.bus == busId; });
        if (!present) {
            unlink(bus->devices, dev);
            delete reinterpret_cast<DeviceRecord*>(dev);
            ++changes;
        }
        dev = next;
    }
    for (const WorldDevice& wd : s.devices) {
        if (wd.bus != busId)
            continue;
        bool known = false;
        for (struct usb_device* dev = bus->devices; dev && !known; dev = dev->next)
            known = recordId(dev) == wd.id;
        if (known)
            continue;
        auto* rec = new DeviceRecord{};
        rec->id = wd.id;
        std::snprintf(rec->dev.filename, sizeof rec->dev.filename, "%03d", wd.id);
        rec->dev.bus = bus;
        rec->dev.descriptor.bLength = USB_DT_DEVICE_SIZE;
        rec->dev.descriptor.bDescriptorType = USB_DT_DEVICE;
        rec->dev.descriptor.idVendor = wd.vendor;
        rec->dev.descriptor.idProduct = wd.product;
        rec->dev.devnum = uint8_t(wd.id);
        append(bus->devices, &rec->dev);
        ++changes;
    }
    return changes;
}

// A call on an open handle: scripted value, else -ENODEV once the device has left, else ok.
int handleResult(State& s, Call call, const usb_dev_handle* handle, int ok)
{
    if (auto value = scripted(s, call))
        return *value;
    return worldHasDevice(s, handle->device) ? ok : -ENODEV;
}

int simpleHandleCall(Call call, usb_dev_handle* handle, int arg)
{
    State& s = state();
    Lock lock(s.mutex);
    CallRecord rec(call);
    rec.device = handle->device;
    rec.arg = arg;
    rec.result = handleResult(s, call, handle, 0);
    return recordCall(s, rec);
}

} // namespace

const char* callName(Call call)
{
    switch (call) {
    case Call::Init: return "usb_init";
    case Call::FindBusses: return "usb_find_busses";
    case Call::FindDevices: return "usb_find_devices";
    case Call::GetBusses: return "usb_get_busses";
    case Call::Open: return "usb_open";
    case Call::Close: return "usb_close";
    case Call::SetConfiguration: return "usb_set_configuration";
    case Call::ClaimInterface: return "usb_claim_interface";
    case Call::ReleaseInterface: return "usb_release_interface";
    case Call::SetAltinterface: return "usb_set_altinterface";
    case Call::BulkWrite: return "usb_bulk_write";
    case Call::BulkRead: return "usb_bulk_read";
    case Call::Strerror: return "usb_strerror";
    case Call::GetDriver: return "usb_get_driver_np";
    case Call::DetachKernelDriver: return "usb_detach_kernel_driver_np";
    case Call::Sleep: return "usleep";
    }
    return "?";
}

void reset()
{
    State& s = state();
    Lock lock(s.mutex);
    freeAll(s);
    s.initialised = false;
    s.nextId = 1;
    s.busses.clear();
    s.devices.clear();
    s.queued.clear();
    s.sticky.clear();
    s.reply = kGoodStatus;
    s.record.clear();
    s.duringBulkRead = nullptr;
}

void duringBulkRead(std::function<void()> during)
{
    State& s = state();
    Lock lock(s.mutex);
    s.duringBulkRead = std::move(during);
}

int addBus(const std::string& dirname)
{
    State& s = state();
    Lock lock(s.mutex);
    const int id = s.nextId++;
    s.busses.push_back({id, dirname});
    return id;
}

void removeBus(int bus)
{
    State& s = state();
    Lock lock(s.mutex);
    std::erase_if(s.busses, [&](const WorldBus& b) { return b.id == bus; });
    std::erase_if(s.devices, [&](const WorldDevice& d) { return d.bus == bus; });
}

int addDevice(int bus, uint16_t vendor, uint16_t product)
{
    State& s = state();
    Lock lock(s.mutex);
    const int id = s.nextId++;
    s.devices.push_back({id, bus, vendor, product, {}});
    return id;
}

void removeDevice(int device)
{
    State& s = state();
    Lock lock(s.mutex);
    std::erase_if(s.devices, [&](const WorldDevice& d) { return d.id == device; });
}

void bindDriver(int device, const std::string& driver)
{
    State& s = state();
    Lock lock(s.mutex);
    for (WorldDevice& d : s.devices) {
        if (d.id == device)
            d.driver = driver;
    }
}

void queueResults(Call call, std::vector<int> results)
{
    State& s = state();
    Lock lock(s.mutex);
    auto& queue = s.queued[call];
    queue.insert(queue.end(), results.begin(), results.end());
}

void setResult(Call call, int result)
{
    State& s = state();
    Lock lock(s.mutex);
    s.sticky[call] = result;
}

void clearResult(Call call)
{
    State& s = state();
    Lock lock(s.mutex);
    s.sticky.erase(call);
    s.queued.erase(call);
}

void setReadReply(std::vector<unsigned char> reply)
{
    State& s = state();
    Lock lock(s.mutex);
    s.reply = std::move(reply);
}

std::vector<CallRecord> calls()
{
    State& s = state();
    Lock lock(s.mutex);
    return s.record;
}

std::vector<CallRecord> handleCallsAndSleeps()
{
    std::vector<CallRecord> all = calls();
    std::erase_if(all, [](const CallRecord& r) {
        return r.call == Call::Init || r.call == Call::FindBusses || r.call == Call::FindDevices ||
               r.call == Call::GetBusses || r.call == Call::Strerror;
    });
    return all;
}

std::vector<CallRecord> handleCalls()
{
    std::vector<CallRecord> all = handleCallsAndSleeps();
    std::erase_if(all, [](const CallRecord& r) { return r.call == Call::Sleep; });
    return all;
}

void clearCalls()
{
    State& s = state();
    Lock lock(s.mutex);
    s.record.clear();
}

int openHandles()
{
    State& s = state();
    Lock lock(s.mutex);
    return int(s.handles.size());
}

bool initialised()
{
    State& s = state();
    Lock lock(s.mutex);
    return s.initialised;
}

} // namespace fakeusb

using fakeusb::Call;
using fakeusb::CallRecord;

void usb_init(void)
{
    auto& s = fakeusb::state();
    fakeusb::Lock lock(s.mutex);
    s.initialised = true;
    fakeusb::recordCall(s, CallRecord(Call::Init));
}

int usb_find_busses(void)
{
    auto& s = fakeusb::state();
    fakeusb::Lock lock(s.mutex);
    CallRecord rec(Call::FindBusses);
    if (auto value = fakeusb::scripted(s, Call::FindBusses))
        rec.result = *value;
    else
        rec.result = s.initialised ? fakeusb::syncBusses(s) : 0;
    return fakeusb::recordCall(s, rec);
}

int usb_find_devices(void)
{
    auto& s = fakeusb::state();
    fakeusb::Lock lock(s.mutex);
    CallRecord rec(Call::FindDevices);
    if (auto value = fakeusb::scripted(s, Call::FindDevices)) {
        rec.result = *value;
    } else if (s.initialised) {
        for (usb_bus* bus = usb_busses; bus; bus = bus->next)
            rec.result += fakeusb::syncDevices(s, bus);
    }
    return fakeusb::recordCall(s, rec);
}

struct usb_bus* usb_get_busses(void)
{
    auto& s = fakeusb::state();
    fakeusb::Lock lock(s.mutex);
    fakeusb::recordCall(s, CallRecord(Call::GetBusses));
    return usb_busses;
}

usb_dev_handle* usb_open(struct usb_device* dev)
{
    auto& s = fakeusb::state();
    fakeusb::Lock lock(s.mutex);
    CallRecord rec(Call::Open);
    rec.device = fakeusb::recordId(dev);
    if (auto value = fakeusb::scripted(s, Call::Open))
        rec.result = *value;
    else
        rec.result = fakeusb::worldHasDevice(s, rec.device) ? 0 : -ENODEV;
    fakeusb::recordCall(s, rec);
    if (rec.result < 0) {
        errno = -rec.result;
        return nullptr;
    }
    auto* handle = new usb_dev_handle{rec.device};
    s.handles.insert(handle);
    return handle;
}

int usb_close(usb_dev_handle* dev)
{
    auto& s = fakeusb::state();
    fakeusb::Lock lock(s.mutex);
    CallRecord rec(Call::Close);
    rec.device = dev->device;
    rec.result = fakeusb::scripted(s, Call::Close).value_or(0);
    s.handles.erase(dev);
    delete dev;
    return fakeusb::recordCall(s, rec);
}

int usb_set_configuration(usb_dev_handle* dev, int configuration)
{
    return fakeusb::simpleHandleCall(Call::SetConfiguration, dev, configuration);
}

int usb_claim_interface(usb_dev_handle* dev, int interface)
{
    auto& s = fakeusb::state();
    fakeusb::Lock lock(s.mutex);
    CallRecord rec(Call::ClaimInterface);
    rec.device = dev->device;
    rec.arg = interface;
    const fakeusb::WorldDevice* d = fakeusb::worldDevice(s, dev->device);
    rec.result = fakeusb::handleResult(s, Call::ClaimInterface, dev, d && !d->driver.empty() ? -EBUSY : 0);
    return fakeusb::recordCall(s, rec);
}

int usb_get_driver_np(usb_dev_handle* dev, int interface, char* name, unsigned int namelen)
{
    auto& s = fakeusb::state();
    fakeusb::Lock lock(s.mutex);
    CallRecord rec(Call::GetDriver);
    rec.device = dev->device;
    rec.arg = interface;
    const fakeusb::WorldDevice* d = fakeusb::worldDevice(s, dev->device);
    rec.result = fakeusb::handleResult(s, Call::GetDriver, dev, d && !d->driver.empty() ? 0 : -ENODATA);
    if (rec.result == 0 && namelen > 0)
        std::snprintf(name, namelen, "%s", d ? d->driver.c_str() : "");
    return fakeusb::recordCall(s, rec);
}

int usb_detach_kernel_driver_np(usb_dev_handle* dev, int interface)
{
    auto& s = fakeusb::state();
    fakeusb::Lock lock(s.mutex);
    CallRecord rec(Call::DetachKernelDriver);
    rec.device = dev->device;
    rec.arg = interface;
    fakeusb::WorldDevice* d = fakeusb::worldDevice(s, dev->device);
    rec.result = fakeusb::handleResult(s, Call::DetachKernelDriver, dev, d && !d->driver.empty() ? 0 : -ENODATA);
    if (rec.result == 0 && d)
        d->driver.clear();
    return fakeusb::recordCall(s, rec);
}

int usb_release_interface(usb_dev_handle* dev, int interface)
{
    return fakeusb::simpleHandleCall(Call::ReleaseInterface, dev, interface);
}

int usb_set_altinterface(usb_dev_handle* dev, int alternate)
{
    return fakeusb::simpleHandleCall(Call::SetAltinterface, dev, alternate);
}

int usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout)
{
    auto& s = fakeusb::state();
    fakeusb::Lock lock(s.mutex);
    CallRecord rec(Call::BulkWrite);
    rec.device = dev->device;
    rec.arg = ep;
    rec.size = size;
    rec.timeout = timeout;
    rec.bytes.assign(reinterpret_cast<const unsigned char*>(bytes),
                     reinterpret_cast<const unsigned char*>(bytes) + std::max(size, 0));
    rec.result = fakeusb::handleResult(s, Call::BulkWrite, dev, size);
    return fakeusb::recordCall(s, rec);
}

int usb_bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout)
{
    auto& s = fakeusb::state();
    std::function<void()> during;
    {
        fakeusb::Lock lock(s.mutex);
        during = s.duringBulkRead;
    }
    if (during)
        during();
    fakeusb::Lock lock(s.mutex);
    CallRecord rec(Call::BulkRead);
    rec.device = dev->device;
    rec.arg = ep;
    rec.size = size;
    rec.timeout = timeout;
    const int available = std::min(size, int(s.reply.size()));
    rec.result = fakeusb::handleResult(s, Call::BulkRead, dev, available);
    if (rec.result > 0)
        std::memcpy(bytes, s.reply.data(), size_t(std::min(rec.result, available)));
    return fakeusb::recordCall(s, rec);
}

char* usb_strerror(void)
{
    auto& s = fakeusb::state();
    fakeusb::Lock lock(s.mutex);
    fakeusb::recordCall(s, CallRecord(Call::Strerror));
    static char text[] = "fake usb error";
    return text;
}

// Overrides the C library's usleep for the test executable: the wait is recorded, then slept.
int usleep(useconds_t micros) __THROW
{
    {
        auto& s = fakeusb::state();
        fakeusb::Lock lock(s.mutex);
        CallRecord rec(Call::Sleep);
        rec.arg = int(micros);
        fakeusb::recordCall(s, rec);
    }
    const timespec wait = {time_t(micros / 1000000), long(micros % 1000000) * 1000};
    return nanosleep(&wait, nullptr);
}
