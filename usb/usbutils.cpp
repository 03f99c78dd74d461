#include "usb/usbutils.h"
#include "usb/usblock.h"
#include "usb/usbport.h"

#include <usb.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Bulk-Only Transport command block wrappers: "USBC", tag, no data stage, flags 0, LUN 0,
// a 6-byte command block padded to 16 bytes.
const unsigned char switch_cmd1[31] = {
    0x55, 0x53, 0x42, 0x43, 0x00, 0x78, 0x07, 0x93, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // TEST UNIT READY
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const unsigned char switch_cmd2_tmp_ftm[31] = {
    0x55, 0x53, 0x42, 0x43, 0x08, 0xF8, 0x8A, 0x87, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06,
    0xEE, 0x00, 0x05, 0x00, 0x00, 0x00, // temporary, FTM
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const unsigned char switch_cmd2_prm_usr[31] = {
    0x55, 0x53, 0x42, 0x43, 0x08, 0xF8, 0x8A, 0x87, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06,
    0xED, 0x00, 0x01, 0x00, 0x00, 0x00, // permanent, USR
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const unsigned char switch_cmd2_tmp_usr_adb[31] = {
    0x55, 0x53, 0x42, 0x43, 0x08, 0xF8, 0x8A, 0x87, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06,
    0xEE, 0x00, 0x04, 0x00, 0x00, 0x00, // temporary, USR with ADB
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

const usb_switch_cmd switch_cmd_table[3] = {
    {switch_cmd2_tmp_ftm, sizeof switch_cmd2_tmp_ftm},         // USB_SWITCH_TMP_FTM
    {switch_cmd2_prm_usr, sizeof switch_cmd2_prm_usr},         // USB_SWITCH_PRM_USR
    {switch_cmd2_tmp_usr_adb, sizeof switch_cmd2_tmp_usr_adb}, // USB_SWITCH_TMP_USR_ADB
};

// Receives the device's status replies; one per thread, as switches of different units overlap.
thread_local unsigned char read_buf[16];

namespace {
std::atomic<usb_trace_sink> g_trace_sink{nullptr};
} // namespace

void usb_set_trace_sink(usb_trace_sink sink)
{
    g_trace_sink.store(sink);
}

void usb_trace_vprintf(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    std::vprintf(format, args);
    std::fflush(stdout);
    if (const usb_trace_sink sink = g_trace_sink.load()) {
        char line[512]; // trace lines are short; a longer one reaches the sink cut
        std::vsnprintf(line, sizeof line, format, copy);
        sink(line);
    }
    va_end(copy);
}

std::recursive_mutex& usbutils_lock()
{
    static std::recursive_mutex lock;
    return lock;
}

namespace {

constexpr int kInterface = 0;
constexpr int kAltSetting = 0;
constexpr int kConfiguration = 1;
constexpr int kEndpointOut = 0x01;
constexpr int kEndpointIn = 0x81;
constexpr int kTimeoutMs = 1000;
constexpr useconds_t kSettleUs = 1000;
constexpr int kCloseFailed = -10;

using Guard = std::lock_guard<std::recursive_mutex>;

// Flushed per line: the trace is the module's only diagnostic, and it must survive a crash
// or a quick exit right after the call.
__attribute__((format(printf, 1, 2))) void trace(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    usb_trace_vprintf(format, args);
    va_end(args);
}

void settle()
{
    usleep(kSettleUs);
}

// The descriptor fields are unsigned 16-bit; an argument outside 0..0xFFFF never matches.
bool matches(const struct usb_device* dev, int vendor, int product)
{
    return dev->descriptor.idVendor == vendor && dev->descriptor.idProduct == product;
}

// Walks every device of every bus in the library's order until visit() returns true.
template <typename Visit>
struct usb_device* walk_devices(Visit visit)
{
    for (usb_bus* bus = usb_get_busses(); bus; bus = bus->next) {
        for (struct usb_device* dev = bus->devices; dev; dev = dev->next) {
            if (visit(dev))
                return dev;
        }
    }
    return nullptr;
}

int count_matches(int vendor, int product)
{
    trace("[usbutils]do_find_device -> %04x:%04x\n", unsigned(vendor), unsigned(product));
    int count = 0;
    walk_devices([&](const struct usb_device* dev) {
        trace("[usbutils]do_find_device -> enum:%04x:%04x\n", dev->descriptor.idVendor,
              dev->descriptor.idProduct);
        if (matches(dev, vendor, product)) {
            trace("[usbutils]do_find_device -> ok.\n");
            ++count;
        }
        return false;
    });
    return count;
}

bool denied(int error)
{
    return error == -EACCES || error == -EPERM;
}

// Linux binds its storage driver to the CD-ROM interface at every enumeration, and a claim
// fails with EBUSY while it holds it. Take it off that one interface; the kernel binds it
// again when the device re-enumerates after the command. Another program's claim (usbfs)
// is left alone. Returns the permission failure, else 0.
int detach_kernel_driver(usb_dev_handle* handle)
{
#if defined(LIBUSB_HAS_GET_DRIVER_NP) && defined(LIBUSB_HAS_DETACH_KERNEL_DRIVER_NP)
    char driver[256] = {};
    const int asked = usb_get_driver_np(handle, kInterface, driver, sizeof driver);
    if (denied(asked))
        return asked;
    if (asked < 0 || std::strcmp(driver, "usbfs") == 0)
        return 0;
    trace("[usbutils]do_mode_switch -> kernel driver %s attached.\n", driver);
    const int detached = usb_detach_kernel_driver_np(handle, kInterface);
    if (detached < 0) {
        trace("[usbutils]do_mode_switch -> detach kernel driver failed.\n");
        return denied(detached) ? detached : 0;
    }
    trace("[usbutils]do_mode_switch -> kernel driver detached.\n");
#else
    (void)handle;
#endif
    return 0;
}

enum class Claim { Held, Failed, Denied };

// First claim, and on failure one more after selecting configuration 1.
Claim claim_interface(usb_dev_handle* handle)
{
    const int first = usb_claim_interface(handle, kInterface);
    if (first >= 0)
        return Claim::Held;
    trace("[usbutils]do_mode_switch -> claim interface failed.\n");
    if (denied(first))
        return Claim::Denied; // a second try cannot help
    usb_set_configuration(handle, kConfiguration);
    settle();
    const int second = usb_claim_interface(handle, kInterface);
    if (second >= 0)
        return Claim::Held;
    trace("[usbutils]do_mode_switch -> claim interface failed. again!\n");
    return denied(second) ? Claim::Denied : Claim::Failed;
}

// A short write counts as done; only a negative result is a failure.
bool send_command(usb_dev_handle* handle, const unsigned char* cmd, int32_t len)
{
    char bytes[sizeof switch_cmd1];
    const size_t size = std::min(sizeof bytes, size_t(std::max<int32_t>(len, 0)));
    std::memcpy(bytes, cmd, size);
    return usb_bulk_write(handle, kEndpointOut, bytes, int(size), kTimeoutMs) >= 0;
}

// The status reply is read to keep the transport in step; its content is not judged.
bool read_status(usb_dev_handle* handle)
{
    return usb_bulk_read(handle, kEndpointIn, reinterpret_cast<char*>(read_buf), sizeof read_buf,
                         kTimeoutMs) >= 0;
}

constexpr const char* kExchangeDone = "ok.";

// Test unit ready, status, the mode's command, status. Returns the outcome line.
const char* exchange(usb_dev_handle* handle, const usb_switch_cmd& cmd2)
{
    settle();
    if (usb_set_altinterface(handle, kAltSetting) < 0)
        return "set altinterface failed.";
    settle();
    trace("[usbutils]do_mode_switch -> switching......\n");
    if (!send_command(handle, switch_cmd1, sizeof switch_cmd1))
        return "bulk write cmd1 failed.";
    settle();
    if (!read_status(handle))
        return "bulk read failed.";
    settle();
    if (!send_command(handle, cmd2.cmd, cmd2.len))
        return "bulk write cmd2 failed.";
    settle();
    if (!read_status(handle))
        return "bulk read failed.";
    return kExchangeDone;
}

// True when all four transfers went through.
bool send_mode(usb_dev_handle* handle, uint32_t mode)
{
    if (mode >= std::size(switch_cmd_table)) {
        trace("[usbutils]do_mode_switch -> bad usb mode!\n");
        return false;
    }
    const char* outcome = exchange(handle, switch_cmd_table[mode]);
    trace("[usbutils]do_mode_switch -> %s\n", outcome);
    settle();
    if (usb_release_interface(handle, kInterface) < 0)
        trace("[usbutils]do_mode_switch -> release interface failed.\n");
    return std::strcmp(outcome, kExchangeDone) == 0;
}

int close_device(usb_dev_handle* handle)
{
    settle();
    if (usb_close(handle) < 0) {
        trace("[usbutils]do_mode_switch -> close device failed.\n");
        return kCloseFailed;
    }
    return 0;
}

// Opens what the lookup found, under the lock. Prints the failure line.
usb_dev_handle* open_found(struct usb_device* dev, int* failure)
{
    if (!dev) {
        trace("[usbutils]do_mode_switch -> special device not found.\n");
        *failure = -1;
        return nullptr;
    }
    errno = 0;
    usb_dev_handle* handle = usb_open(dev);
    if (!handle) {
        const bool refused = errno == EACCES || errno == EPERM;
        trace("[usbutils]do_mode_switch -> special device can not open.\n");
        if (refused)
            trace("[usbutils]do_mode_switch -> permission denied.\n");
        *failure = refused ? USB_SWITCH_ACCESS_DENIED : -2;
    }
    return handle;
}

// Looks the device up and opens it: the only part of a switch that needs the list.
template <typename Find>
usb_dev_handle* open_under_lock(Find find, int* failure)
{
    Guard guard(usbutils_lock());
    trace("[usbutils]do_mode_switch -> matching device...\n");
    return open_found(find(), failure);
}

// Claim, the exchange, close: the switch once the device is open. Runs on the handle alone,
// without the lock.
int switch_opened(usb_dev_handle* handle, uint32_t mode, bool* delivered)
{
    settle();
    Claim claim = detach_kernel_driver(handle) < 0 ? Claim::Denied : claim_interface(handle);
    // Without the claim nothing is sent; closing gives up whatever is still claimed.
    bool ok = false;
    if (claim == Claim::Held)
        ok = send_mode(handle, mode);
    else if (claim == Claim::Denied)
        trace("[usbutils]do_mode_switch -> permission denied.\n");
    const int closed = close_device(handle);
    if (delivered)
        *delivered = ok && closed == 0;
    return claim == Claim::Denied && closed == 0 ? USB_SWITCH_ACCESS_DENIED : closed;
}

// libusb-0.1 names a bus folder and a device file by their numbers ("001", "007").
int number_of(const char* name)
{
    char* end = nullptr;
    const long value = std::strtol(name, &end, 10);
    return end != name && *end == '\0' && value > 0 && value < 1000 ? int(value) : -1;
}

// The record at the port, under the lock; nullptr when none there shows this identity.
struct usb_device* find_device_at(const char* sysfs_root, const char* port, int vendor, int product)
{
    trace("[usbutils]find_device -> %04x:%04x at %s\n", unsigned(vendor), unsigned(product), port);
    const auto at = usbport::numbersAt(QString::fromUtf8(sysfs_root), QString::fromUtf8(port));
    struct usb_device* found = nullptr;
    if (at) {
        found = walk_devices([&](const struct usb_device* dev) {
            return dev->bus && number_of(dev->bus->dirname) == at->bus && number_of(dev->filename) == at->device &&
                   matches(dev, vendor, product);
        });
    }
    trace(found ? "[usbutils]find_device -> ok.\n" : "[usbutils]find_device -> not found.\n");
    return found;
}

} // namespace

int do_init_utils()
{
    Guard guard(usbutils_lock());
    trace("[usbutils]do_init -> usb init.\n");
    usb_init();
    if (usb_find_busses() > 0)
        return 0;
    trace("[usbutils]do_enum_devices -> busses not found.\n");
    return -1;
}

int do_enum_devices()
{
    Guard guard(usbutils_lock());
    trace("[usbutils]do_enum_devices -> usb finding all...\n");
    const int changes = usb_find_devices();
    if (changes >= 0)
        return changes;
    trace("[usbutils]do_enum_devices -> devices not found.\n");
    return -1;
}

int do_find_device(int vendor, int product)
{
    Guard guard(usbutils_lock());
    const int count = count_matches(vendor, product);
    trace("[usbutils]do_find_device -> found %d match device.\n", count);
    return count;
}

int do_find_device2(int vendor, int product)
{
    Guard guard(usbutils_lock());
    const int count = count_matches(vendor, product);
    trace("[usbutils]do_find_device2 -> found %d match device.\n", count);
    return count;
}

struct usb_device* find_device(int vendor, int product)
{
    Guard guard(usbutils_lock());
    trace("[usbutils]find_device -> %04x:%04x\n", unsigned(vendor), unsigned(product));
    struct usb_device* found = walk_devices([&](const struct usb_device* dev) {
        trace("[usbutils]find_device -> enum:%04x:%04x\n", dev->descriptor.idVendor,
              dev->descriptor.idProduct);
        return matches(dev, vendor, product);
    });
    trace(found ? "[usbutils]find_device -> ok.\n" : "[usbutils]find_device -> not found.\n");
    return found;
}

int try_to_claim(int vendor, int product)
{
    int failure = 0;
    usb_dev_handle* handle = open_under_lock([&] { return find_device(vendor, product); }, &failure);
    if (!handle)
        return failure;
    settle();
    const int claimed = usb_claim_interface(handle, kInterface);
    usb_close(handle); // also gives the claim up
    return claimed;
}

int usb_mode_switch_factory(int vendor, int product, uint32_t mode)
{
    int failure = 0;
    usb_dev_handle* handle = open_under_lock([&] { return find_device(vendor, product); }, &failure);
    return handle ? switch_opened(handle, mode, nullptr) : failure;
}

int do_find_device_at(const char* sysfs_root, const char* port, int vendor, int product)
{
    Guard guard(usbutils_lock());
    return find_device_at(sysfs_root, port, vendor, product) ? 1 : 0;
}

int usb_mode_switch_at(const char* sysfs_root, const char* port, int vendor, int product, uint32_t mode,
                       bool* delivered)
{
    if (delivered)
        *delivered = false;
    int failure = 0;
    usb_dev_handle* handle =
        open_under_lock([&] { return find_device_at(sysfs_root, port, vendor, product); }, &failure);
    return handle ? switch_opened(handle, mode, delivered) : failure;
}
