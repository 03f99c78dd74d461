// The simulated hotspot behind the usb_* interface of libusb-0.1.
//
// One bus holds a hub (always there) and every unit of the simulated hub under each USB
// identity its current personality shows, numbered as the state's bus record says (the
// numbers the sysfs tree shows). Device records live until a rescan finds their device
// gone, as the real library keeps them. Its interfaces are the device model's layout for the personality
// (the one the emulated hotspot shows on a real bus); interface 0 speaks Bulk-Only Transport
// on endpoints 0x01/0x81 while it shows 0x11f6:0x102a. Every call on the hotspot is recorded
// in the state folder; usb_find_devices counts as one probe.

#include "core/Bus.h"
#include "core/Device.h"
#include "core/MassStorage.h"
#include "core/Records.h"
#include "core/StateStore.h"
#include "core/Units.h"
#include "core/UsbLayout.h"

#include <QJsonObject>
#include <QString>

#include <usb.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <thread>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace {

using sim::Device;
using sim::Transaction;

// What a handle knows of its device, as the real library's reference does: where it is and
// which enumeration of it was opened. Never the record, which a rescan may free.
struct Unit {
    QString key;      // port/identity@generation#devnum, or "hub"
    QString port;     // the unit's port path, "1-2.1"
    QString identity; // "11f6:102a"
    int generation = 0;
    bool hotspot = false;
};

// One device on the simulated bus, with the descriptors the library hands out.
struct SimDevice {
    struct usb_device dev{};
    usb_config_descriptor config{};
    // One per interface; sized once, so the descriptors' pointers into them hold.
    std::vector<usb_interface> interfaces;
    std::vector<usb_interface_descriptor> alts;
    std::vector<std::array<usb_endpoint_descriptor, 2>> endpoints;
    Unit unit;
};

// Used by one thread at a time, as a handle is; no lock.
struct SimHandle {
    Unit unit;
    int claimed = -1;
    bool stalled = false;
    std::optional<QByteArray> csw;
    bool cswAfterSwitch = false;
};

// Guards the bus list and its records: rescans, walks and opens. Calls on a handle do not
// take it, so a unit that never answers holds up no other.
std::mutex g_mutex;
usb_bus g_bus{};
bool g_bussesFound = false;
thread_local char g_error[256] = "no error";

int fail(int code, const char* what)
{
    std::snprintf(g_error, sizeof g_error, "%s: %s", what, std::strerror(-code));
    return code;
}

// The interfaces of the device model's layout, numbered in order; interface n's endpoints
// are 0x80|n+1 and n+1, so the storage interface 0 has 0x81/0x01. The hub, and a hotspot
// caught between layouts, show one interface.
std::vector<sim::UsbInterface> interfacesOf(const SimDevice* d, const QList<sim::UsbInterface>& layout)
{
    if (!d->unit.hotspot)
        return {{sim::UsbFunction::Serial, USB_CLASS_HUB, 0, 0}};
    if (!layout.isEmpty())
        return {layout.begin(), layout.end()};
    if (d->unit.identity == QLatin1String(sim::kOwnIdentity))
        return {sim::usbInterface(sim::UsbFunction::Storage)};
    return {{sim::UsbFunction::Serial, USB_CLASS_VENDOR_SPEC, 0xFF, 0xFF}};
}

void describeInterface(SimDevice* d, std::size_t n, const sim::UsbInterface& i)
{
    const bool hub = i.cls == USB_CLASS_HUB;
    const bool interrupt = hub || i.function == sim::UsbFunction::EcmControl;
    const auto number = uint8_t(n + 1);
    d->endpoints[n][0] = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, uint8_t(0x80 | number),
                          uint8_t(interrupt ? USB_ENDPOINT_TYPE_INTERRUPT : USB_ENDPOINT_TYPE_BULK),
                          uint16_t(interrupt ? 16 : 512), uint8_t(interrupt ? 12 : 0), 0, 0, nullptr, 0};
    d->endpoints[n][1] = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, number, USB_ENDPOINT_TYPE_BULK, 512, 0, 0, 0, nullptr, 0};
    usb_interface_descriptor& alt = d->alts[n];
    alt.bLength = USB_DT_INTERFACE_SIZE;
    alt.bDescriptorType = USB_DT_INTERFACE;
    alt.bInterfaceNumber = uint8_t(n);
    alt.bNumEndpoints = interrupt ? 1 : 2;
    alt.bInterfaceClass = i.cls;
    alt.bInterfaceSubClass = i.subclass;
    alt.bInterfaceProtocol = i.protocol;
    alt.endpoint = d->endpoints[n].data();
    d->interfaces[n].altsetting = &alt;
    d->interfaces[n].num_altsetting = 1;
    d->config.wTotalLength = uint16_t(d->config.wTotalLength + USB_DT_INTERFACE_SIZE + alt.bNumEndpoints * USB_DT_ENDPOINT_SIZE);
}

void describe(SimDevice* d, quint16 vendor, quint16 product, int devnum, const QList<sim::UsbInterface>& layout)
{
    d->dev.descriptor.bLength = USB_DT_DEVICE_SIZE;
    d->dev.descriptor.bDescriptorType = USB_DT_DEVICE;
    d->dev.descriptor.bcdUSB = 0x0200;
    d->dev.descriptor.bMaxPacketSize0 = 64;
    d->dev.descriptor.idVendor = vendor;
    d->dev.descriptor.idProduct = product;
    d->dev.descriptor.bcdDevice = 0x0100;
    d->dev.descriptor.iManufacturer = 1;
    d->dev.descriptor.iProduct = 2;
    d->dev.descriptor.iSerialNumber = d->unit.hotspot ? 3 : 0;
    d->dev.descriptor.bNumConfigurations = 1;

    const std::vector<sim::UsbInterface> interfaces = interfacesOf(d, layout);
    d->interfaces.resize(interfaces.size());
    d->alts.resize(interfaces.size());
    d->endpoints.resize(interfaces.size());
    d->config.wTotalLength = USB_DT_CONFIG_SIZE;
    for (std::size_t n = 0; n < interfaces.size(); ++n)
        describeInterface(d, n, interfaces[n]);
    d->config.bLength = USB_DT_CONFIG_SIZE;
    d->config.bDescriptorType = USB_DT_CONFIG;
    d->config.bNumInterfaces = uint8_t(interfaces.size());
    d->config.bConfigurationValue = 1;
    d->config.bmAttributes = 0x80;
    d->config.MaxPower = 250;
    d->config.interface = d->interfaces.data();
    d->dev.config = &d->config;
    d->dev.dev = d;
    d->dev.bus = &g_bus;
    d->dev.devnum = uint8_t(devnum);
    std::snprintf(d->dev.filename, sizeof d->dev.filename, "%03d", int(d->dev.devnum));
}

// What a rescan found of one unit under one identity.
struct Seen {
    QString key, port, identity;
    int generation = 0;
    int devnum = 0;
    QList<sim::UsbInterface> layout;
};

SimDevice* makeDevice(const Seen& s, bool hotspot)
{
    auto* d = new SimDevice;
    d->unit = {s.key, s.port, s.identity, s.generation, hotspot};
    const QStringList ids = s.identity.split(QLatin1Char(':'));
    describe(d, quint16(ids.value(0).toUInt(nullptr, 16)), quint16(ids.value(1).toUInt(nullptr, 16)), s.devnum,
             s.layout);
    return d;
}

void append(SimDevice* d)
{
    struct usb_device** tail = &g_bus.devices;
    struct usb_device* prev = nullptr;
    while (*tail) {
        prev = *tail;
        tail = &(*tail)->next;
    }
    d->dev.prev = prev;
    *tail = &d->dev;
}

void detach(struct usb_device* dev)
{
    if (dev->prev)
        dev->prev->next = dev->next;
    else
        g_bus.devices = dev->next;
    if (dev->next)
        dev->next->prev = dev->prev;
}

SimDevice* simOf(struct usb_device* dev)
{
    return dev ? static_cast<SimDevice*>(dev->dev) : nullptr;
}

// Runs fn(device, tx) on the state of the unit at the port under the state's lock; fn
// returns the call's result. A call on a handle reads and writes that unit's state alone.
template <typename Fn>
int onUnit(const Unit& unit, Fn fn)
{
    const QString dir = sim::envStateDir();
    if (dir.isEmpty())
        return fail(-ENODEV, "HOTSPOT_SIM_DIR not set");
    Transaction tx(dir, unit.port);
    int result = 0;
    {
        Device device(tx.state(), unit.port);
        device.settle(false);
        result = fn(device, tx);
    }
    tx.commit();
    return result;
}

bool stillThere(const Device& device, const Unit& unit)
{
    return device.generation() == unit.generation && device.identities().contains(unit.identity)
        && !device.lingering(); // listed, but already shutting its USB down
}

// usbfs refuses every request on a node opened without write access.
bool refused(const Device& device)
{
    return !device.nodeWritable();
}

void record(Transaction& tx, const Device& device, const SimHandle* h, const char* event, int result,
            const QJsonObject& extra = {})
{
    QJsonObject r = sim::usbRecord(QString::fromLatin1(event), h->unit.identity, result, device.personality());
    r.insert(QStringLiteral("port"), h->unit.port);
    for (auto it = extra.begin(); it != extra.end(); ++it)
        r.insert(it.key(), it.value());
    tx.record(r);
}

// A fault given as true fails every time, as a number n the first n times.
bool countedFault(Device& device, const QString& key, const QString& counter)
{
    const QJsonValue v = device.fault(key);
    if (v.isBool())
        return v.toBool();
    if (v.isDouble() && device.counter(counter) < v.toInt()) {
        device.bump(counter);
        return true;
    }
    return false;
}

} // namespace

// Declared by usb.h outside its C block; variables carry no language mangling either way.
struct usb_bus* usb_busses = nullptr;

extern "C" {

struct usb_dev_handle : SimHandle {};

void usb_init(void) {}

void usb_set_debug(int) {}

char* usb_strerror(void)
{
    return g_error;
}

int usb_find_busses(void)
{
    std::lock_guard lock(g_mutex);
    if (g_bussesFound)
        return 0;
    std::snprintf(g_bus.dirname, sizeof g_bus.dirname, "001");
    g_bus.location = 1;
    usb_busses = &g_bus;
    g_bussesFound = true;
    return 1;
}

int usb_find_devices(void)
{
    std::lock_guard lock(g_mutex);
    if (!g_bussesFound)
        return 0;
    std::vector<Seen> seen;
    const QString dir = sim::envStateDir();
    if (!dir.isEmpty()) {
        Transaction tx(dir);
        QJsonObject& state = tx.state();
        QList<QPair<QString, QList<sim::UsbInterface>>> layouts;
        for (const QString& port : sim::unitPorts(state)) {
            Device device(state, port);
            device.settle(true);
            layouts.append({port, sim::usbLayout(device)});
        }
        sim::syncBus(state);
        for (const auto& [port, layout] : layouts) {
            Device device(state, port);
            for (const sim::BusEntry& e : sim::busEntries(state, port))
                seen.push_back({QStringLiteral("%1/%2@%3#%4").arg(port, e.identity).arg(device.generation()).arg(e.devnum),
                                port, e.identity, device.generation(), e.devnum, layout});
        }
        tx.commit();
    }

    int changes = 0;
    for (struct usb_device* dev = g_bus.devices; dev;) {
        struct usb_device* next = dev->next;
        SimDevice* d = simOf(dev);
        const bool present = !d->unit.hotspot
            || std::any_of(seen.begin(), seen.end(), [&](const Seen& s) { return s.key == d->unit.key; });
        if (!present) {
            detach(dev);
            delete d;
            ++changes;
        }
        dev = next;
    }
    auto listed = [](const QString& key) {
        for (struct usb_device* dev = g_bus.devices; dev; dev = dev->next) {
            if (simOf(dev)->unit.key == key)
                return true;
        }
        return false;
    };
    if (!listed(QStringLiteral("hub"))) {
        SimDevice* hub = makeDevice({QStringLiteral("hub"), QString(), QString::fromLatin1(sim::kHubIdentity), 0,
                                     sim::kHubDevnum, {}}, false);
        append(hub);
        g_bus.root_dev = &hub->dev;
        ++changes;
    }
    for (const Seen& s : seen) {
        if (!listed(s.key)) {
            append(makeDevice(s, true));
            ++changes;
        }
    }
    return changes;
}

struct usb_bus* usb_get_busses(void)
{
    return usb_busses;
}

// The record of the handle's enumeration while the list still holds it.
struct usb_device* usb_device(usb_dev_handle* dev)
{
    std::lock_guard lock(g_mutex);
    for (struct usb_device* d = g_bus.devices; dev && d; d = d->next) {
        if (simOf(d)->unit.key == dev->unit.key)
            return d;
    }
    return nullptr;
}

usb_dev_handle* usb_open(struct usb_device* dev)
{
    std::lock_guard lock(g_mutex);
    SimDevice* d = simOf(dev);
    if (!d)
        return nullptr;
    auto* h = new usb_dev_handle;
    h->unit = d->unit;
    if (!d->unit.hotspot)
        return h;
    const int result = onUnit(d->unit, [&](Device& device, Transaction& tx) {
        int r = 0;
        if (!stillThere(device, d->unit))
            r = fail(-ENODEV, "usb_open");
        else if (device.hasFault(QStringLiteral("open_fails")) || device.nodeAccess() == QLatin1String("none"))
            r = fail(-EACCES, "usb_open");
        record(tx, device, h, "open", r);
        return r;
    });
    if (result < 0) {
        delete h;
        errno = -result; // the real library leaves open()'s error behind
        return nullptr;
    }
    return h;
}

int usb_close(usb_dev_handle* dev)
{
    if (!dev)
        return -EINVAL;
    if (dev->unit.hotspot)
        onUnit(dev->unit, [&](Device& device, Transaction& tx) {
            record(tx, device, dev, "close", 0);
            return 0;
        });
    delete dev;
    return 0;
}

int usb_set_configuration(usb_dev_handle* dev, int configuration)
{
    if (!dev->unit.hotspot)
        return 0;
    return onUnit(dev->unit, [&](Device& device, Transaction& tx) {
        int r = 0;
        if (!stillThere(device, dev->unit))
            r = fail(-ENODEV, "usb_set_configuration");
        else if (refused(device))
            r = fail(-EPERM, "usb_set_configuration");
        else if (!device.kernelDriver().isEmpty())
            r = fail(-EBUSY, "usb_set_configuration"); // an interface is bound to a driver
        else if (configuration != 1)
            r = fail(-EINVAL, "usb_set_configuration");
        record(tx, device, dev, "set_configuration", r, {{"configuration", configuration}});
        return r;
    });
}

int usb_claim_interface(usb_dev_handle* dev, int interface)
{
    if (!dev->unit.hotspot) {
        dev->claimed = interface;
        return interface == 0 ? 0 : fail(-EINVAL, "usb_claim_interface");
    }
    return onUnit(dev->unit, [&](Device& device, Transaction& tx) {
        int r = 0;
        if (!stillThere(device, dev->unit))
            r = fail(-ENODEV, "usb_claim_interface");
        else if (refused(device))
            r = fail(-EPERM, "usb_claim_interface");
        else if (interface != 0)
            r = fail(-EINVAL, "usb_claim_interface");
        else if (!device.kernelDriver().isEmpty())
            r = fail(-EBUSY, "usb_claim_interface");
        else if (countedFault(device, QStringLiteral("claim_fails"), QStringLiteral("claims_failed")))
            r = fail(-EBUSY, "usb_claim_interface");
        if (r == 0)
            dev->claimed = interface;
        record(tx, device, dev, "claim", r, {{"interface", interface}});
        return r;
    });
}

int usb_release_interface(usb_dev_handle* dev, int interface)
{
    if (dev->claimed != interface)
        return fail(-EINVAL, "usb_release_interface");
    dev->claimed = -1;
    if (!dev->unit.hotspot)
        return 0;
    return onUnit(dev->unit, [&](Device& device, Transaction& tx) {
        const int r = stillThere(device, dev->unit) ? 0 : fail(-ENODEV, "usb_release_interface");
        record(tx, device, dev, "release", r, {{"interface", interface}});
        return r;
    });
}

int usb_set_altinterface(usb_dev_handle* dev, int alternate)
{
    if (dev->claimed < 0 || alternate != 0)
        return fail(-EINVAL, "usb_set_altinterface");
    if (!dev->unit.hotspot)
        return 0;
    return onUnit(dev->unit, [&](Device& device, Transaction& tx) {
        int r = 0;
        if (!stillThere(device, dev->unit))
            r = fail(-ENODEV, "usb_set_altinterface");
        else if (device.hasFault(QStringLiteral("altinterface_fails")))
            r = fail(-EIO, "usb_set_altinterface");
        record(tx, device, dev, "set_altinterface", r, {{"alternate", alternate}});
        return r;
    });
}

int usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int)
{
    if (!dev->unit.hotspot || dev->unit.identity != QLatin1String(sim::kOwnIdentity))
        return fail(-EPIPE, "usb_bulk_write");
    return onUnit(dev->unit, [&](Device& device, Transaction& tx) {
        const QByteArray data(bytes, qMax(0, size));
        QJsonObject extra{{"endpoint", ep}, {"bytes", QString::fromLatin1(data.toHex())}};
        int r = size;
        if (!stillThere(device, dev->unit)) {
            r = fail(-ENODEV, "usb_bulk_write");
        } else if (dev->claimed != 0 || (ep & 0xFF) != 0x01) {
            r = fail(-EINVAL, "usb_bulk_write");
        } else if (countedFault(device, QStringLiteral("bulk_write_fails"), QStringLiteral("writes_failed"))) {
            r = fail(-EIO, "usb_bulk_write");
        } else {
            const sim::CbwVerdict v = sim::judgeCbw(data);
            extra.insert(QStringLiteral("status"), v.status);
            if (!v.reason.isEmpty())
                extra.insert(QStringLiteral("refused"), v.reason);
            if (v.stall) {
                dev->stalled = true;
                dev->csw.reset();
                r = fail(-EPIPE, "usb_bulk_write");
            } else {
                dev->csw = sim::makeCsw(v.tag, v.status);
                dev->cswAfterSwitch = v.action.has_value();
                if (v.action)
                    device.modeSwitch(*v.action);
            }
        }
        record(tx, device, dev, "cbw", r, extra);
        return r;
    });
}

int usb_bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout)
{
    if (!dev->unit.hotspot || dev->unit.identity != QLatin1String(sim::kOwnIdentity))
        return fail(-EPIPE, "usb_bulk_read");
    bool silent = false;
    onUnit(dev->unit, [&](Device& device, Transaction&) {
        silent = device.hasFault(QStringLiteral("silent_storage"));
        return 0;
    });
    // A silent device lets the read run to its full timeout, in real time.
    if (silent && timeout > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
    return onUnit(dev->unit, [&](Device& device, Transaction& tx) {
        int r = 0;
        const bool afterSwitch = dev->cswAfterSwitch;
        if (silent) {
            r = fail(-ETIMEDOUT, "usb_bulk_read");
        } else if (refused(device)) {
            r = fail(-EPERM, "usb_bulk_read");
        } else if ((ep | USB_ENDPOINT_IN) != 0x81 || dev->claimed != 0) {
            r = fail(-EINVAL, "usb_bulk_read");
        } else if (dev->stalled) {
            r = fail(-EPIPE, "usb_bulk_read");
        } else if (countedFault(device, QStringLiteral("bulk_read_fails"), QStringLiteral("reads_failed"))) {
            r = fail(-EIO, "usb_bulk_read");
        } else if (afterSwitch && device.hasFault(QStringLiteral("drop_status_after_switch"))) {
            r = fail(-ENODEV, "usb_bulk_read"); // gone before it answered
        } else if (!afterSwitch && !stillThere(device, dev->unit)) {
            r = fail(-ENODEV, "usb_bulk_read");
        } else if (!dev->csw) {
            r = fail(-ETIMEDOUT, "usb_bulk_read"); // nothing to answer: the read times out
        } else {
            // A device switching away still answers the command that made it go.
            r = qMin(size, int(dev->csw->size()));
            std::memcpy(bytes, dev->csw->constData(), size_t(qMax(0, r)));
        }
        QJsonObject extra{{"endpoint", ep}};
        if (r > 0)
            extra.insert(QStringLiteral("bytes"), QString::fromLatin1(dev->csw->left(r).toHex()));
        dev->csw.reset();
        dev->cswAfterSwitch = false;
        record(tx, device, dev, "csw", r, extra);
        return r;
    });
}

int usb_interrupt_write(usb_dev_handle*, int, const char*, int, int)
{
    return fail(-EINVAL, "usb_interrupt_write");
}

int usb_interrupt_read(usb_dev_handle*, int, char*, int, int)
{
    return fail(-EINVAL, "usb_interrupt_read");
}

int usb_control_msg(usb_dev_handle*, int, int, int, int, char*, int, int)
{
    return fail(-EPIPE, "usb_control_msg");
}

int usb_get_string(usb_dev_handle*, int, int, char*, size_t)
{
    return fail(-ENOSYS, "usb_get_string");
}

int usb_get_string_simple(usb_dev_handle* dev, int index, char* buf, size_t buflen)
{
    const char* text = nullptr;
    const bool hotspot = dev->unit.hotspot;
    switch (index) {
    case 1: text = hotspot ? "Simulated Hotspot" : "Linux Foundation"; break;
    case 2: text = hotspot ? "MDM9615 Mobile Hotspot" : "2.0 root hub"; break;
    case 3: text = hotspot ? "0123456789ABCDEF" : nullptr; break;
    default: break;
    }
    if (!text || buflen == 0)
        return fail(-EPIPE, "usb_get_string_simple");
    std::snprintf(buf, buflen, "%s", text);
    return int(std::min(std::strlen(text), buflen - 1));
}

int usb_get_descriptor_by_endpoint(usb_dev_handle*, int, unsigned char, unsigned char, void*, int)
{
    return fail(-ENOSYS, "usb_get_descriptor_by_endpoint");
}

int usb_get_descriptor(usb_dev_handle*, unsigned char, unsigned char, void*, int)
{
    return fail(-ENOSYS, "usb_get_descriptor");
}

int usb_resetep(usb_dev_handle* dev, unsigned int)
{
    dev->stalled = false;
    return 0;
}

int usb_clear_halt(usb_dev_handle* dev, unsigned int)
{
    dev->stalled = false;
    return 0;
}

int usb_reset(usb_dev_handle* dev)
{
    dev->stalled = false;
    dev->csw.reset();
    return 0;
}

int usb_get_driver_np(usb_dev_handle* dev, int interface, char* name, unsigned int namelen)
{
    if (!dev->unit.hotspot)
        return fail(-ENODATA, "usb_get_driver_np");
    return onUnit(dev->unit, [&](Device& device, Transaction& tx) {
        int r = 0;
        const QString driver = device.kernelDriver();
        if (!stillThere(device, dev->unit))
            r = fail(-ENODEV, "usb_get_driver_np");
        else if (refused(device))
            r = fail(-EPERM, "usb_get_driver_np");
        else if (interface != 0 || driver.isEmpty())
            r = fail(-ENODATA, "usb_get_driver_np");
        else if (namelen > 0)
            std::snprintf(name, namelen, "%s", driver.toUtf8().constData());
        record(tx, device, dev, "get_driver", r, {{"interface", interface}, {"driver", driver}});
        return r;
    });
}

int usb_detach_kernel_driver_np(usb_dev_handle* dev, int interface)
{
    if (!dev->unit.hotspot)
        return fail(-ENODATA, "usb_detach_kernel_driver_np");
    return onUnit(dev->unit, [&](Device& device, Transaction& tx) {
        int r = 0;
        if (!stillThere(device, dev->unit))
            r = fail(-ENODEV, "usb_detach_kernel_driver_np");
        else if (refused(device))
            r = fail(-EPERM, "usb_detach_kernel_driver_np");
        else if (interface != 0 || device.kernelDriver().isEmpty())
            r = fail(-ENODATA, "usb_detach_kernel_driver_np");
        else
            device.detachKernelDriver();
        record(tx, device, dev, "detach_kernel_driver", r, {{"interface", interface}});
        return r;
    });
}

} // extern "C"
