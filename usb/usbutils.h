#pragma once
// The usbutils module: finding the hotspot on the USB bus, switching its USB personality
// with a vendor SCSI command, and an optional hot-plug watcher. Free functions over the
// usb_* interface of libusb-0.1; every function writes a "[usbutils]" trace on stdout.
// A process-wide lock guards libusb-0.1's device list only; the calls on an open handle run
// without it (usb/usblock.h), so switches of different units overlap.

#include <cstdarg>
#include <cstdint>

struct usb_device;

// ---- trace ----
// Receives each trace line as printed (line end included), on the tracing thread, in
// addition to stdout; nullptr for none.
typedef void (*usb_trace_sink)(const char* line);
void usb_set_trace_sink(usb_trace_sink sink);
// Prints one formatted trace line on stdout (flushed) and hands it to the sink.
void usb_trace_vprintf(const char* format, va_list args);

// ---- lookup ----
int do_init_utils();
int do_enum_devices();
int do_find_device(int vendor, int product);
int do_find_device2(int vendor, int product);
struct usb_device* find_device(int vendor, int product);
int try_to_claim(int vendor, int product);

// ---- mode switch ----
enum usb_switch_mode : uint32_t {
    USB_SWITCH_TMP_FTM = 0,
    USB_SWITCH_PRM_USR = 1,
    USB_SWITCH_TMP_USR_ADB = 2,
};

struct usb_switch_cmd {
    const unsigned char* cmd;
    int32_t len;
};

extern const unsigned char switch_cmd1[31];
extern const unsigned char switch_cmd2_tmp_ftm[31];
extern const unsigned char switch_cmd2_prm_usr[31];
extern const unsigned char switch_cmd2_tmp_usr_adb[31];
extern const usb_switch_cmd switch_cmd_table[3];
extern thread_local unsigned char read_buf[16]; // each thread's last status reply

// 0 when the device was opened and closed (the commands may or may not have gone through),
// -1 not found, -2 cannot be opened, -10 close failed, and USB_SWITCH_ACCESS_DENIED when the
// host refused us the device node (no access rule in effect for this user).
constexpr int USB_SWITCH_ACCESS_DENIED = -13;
int usb_mode_switch_factory(int vendor, int product, uint32_t mode);

// ---- by port ----
// The device at a USB port path ("1-2.3") is the record whose bus folder and device file name
// carry the numbers the sysfs tree under sysfs_root ("/sys" on a real host) gives that port;
// it counts only while it shows the identity asked for. No other device is touched.
// 1 when it is there, else 0.
int do_find_device_at(const char* sysfs_root, const char* port, int vendor, int product);
// As usb_mode_switch_factory, to that device only; -1 when it is not there. `delivered`, when
// given, tells whether all four transfers went through ("ok.").
int usb_mode_switch_at(const char* sysfs_root, const char* port, int vendor, int product, uint32_t mode,
                       bool* delivered = nullptr);

// ---- hot-plug watcher ----
typedef void (*usb_notify_cb)(void* user_data);

void usb_set_notify(usb_notify_cb add_cb, usb_notify_cb remove_cb, void* user_data);
int usb_init_for_factory(int vendor, int product, int32_t ref);
void perform_deviceadd_cb();
void perform_deviceremove_cb();

// Device identities of the hotspot.
constexpr int kOwnVendor = 0x11F6;     // the identity that takes the switch commands
constexpr int kOwnProduct = 0x102A;
constexpr int kQualcommVendor = 0x05C6; // the Qualcomm-vendor identity
constexpr int kQualcommProduct = 0x9025;
