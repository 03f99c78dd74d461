#pragma once
// The gadget in configfs and its place on the guest's USB bus: one composite device whose
// identity, serial number and functions follow the device model's personality, bound to a
// usbip virtual device controller and attached over loopback to the virtual host controller,
// so the host side sees the endpoint numbers a real unit has (OUT 0x01, IN 0x81).

#include <QString>
#include <QStringList>

namespace sim {
class Device;
}

namespace gadget {

// The FunctionFS instances: the CD-ROM, adb and the boot loader's fastboot.
inline const QString kStorage = QStringLiteral("ms");
inline const QString kAdb = QStringLiteral("adb");
inline const QString kFastboot = QStringLiteral("fastboot");

// The configfs function of a FunctionFS instance.
QString ffs(const QString& instance);
// Every configfs function any personality links.
QStringList allFunctions();
// The hotspot's serial ports (three) are the kernel's generic serial functions, of which it
// has eight in all: several units on one kernel show fewer each (their last ones left out).
constexpr int kMostSerials = 3;
void limitSerials(int ports);

// What the device shows on the bus; an empty identity means it is off the bus.
struct BusShape {
    QString identity; // "11f6:102a"
    QString serial;
    QStringList functions; // configfs functions ("ffs.ms", "ecm.0", ...), in interface order
    int generation = 0;
    bool operator==(const BusShape&) const = default;
    QString describe() const;
};

// How the device shows on the bus in its current personality.
BusShape shapeOf(const sim::Device& device);
// Whether the device offers this FunctionFS instance now: a function of a device that has left the bus
// (pulled cable, restart) takes nothing, even if the host has not noticed yet.
bool offers(const sim::Device& device, const QString& instance);

// Where one emulated unit sits in the guest, so that several can share it: unit N of the
// model is on controller usbip-vudc.N and always at the virtual host's port N, as a unit
// that keeps its cable in one socket of a hub keeps its port path.
struct Slot {
    int index = 0;
    QString udc() const;
    QString gadgetName() const;
    // The system-wide name of a FunctionFS instance ("ms" of unit 1 is "ms1", of unit 0 "ms").
    QString instance(const QString& function) const;
    // The configfs name of a function ("ffs.ms" of unit 1 is "ffs.ms1").
    QString configfsName(const QString& function) const;
};

class Composite {
public:
    explicit Composite(Slot slot = {});
    // Creates the gadget and each configfs function ("ffs.ms", "gser.0", ...).
    bool create(const QStringList& functions);
    // Binds and attaches until the host has enumerated the device (a few tries).
    bool bind(const BusShape& shape);
    void unbind();

private:
    bool bindOnce(const BusShape& shape);
    bool attach();
    bool attachOnce(QString* error);
    int vhciPort() const { return m_slot.index; }
    bool hostHoldsPort() const;

    Slot m_slot;
    QString m_root;
    bool m_bound = false;
};

} // namespace gadget
