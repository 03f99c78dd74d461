#pragma once
// The gadget in configfs and its place on the guest's USB bus: one composite device whose
// identity, serial number and functions follow the device model's personality, bound to the
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

class Composite {
public:
    explicit Composite(QString udc = QStringLiteral("usbip-vudc.0"));
    // Creates the gadget and each configfs function ("ffs.ms", "gser.0", ...).
    bool create(const QStringList& functions);
    // Binds and attaches until the host has enumerated the device (a few tries).
    bool bind(const BusShape& shape);
    void unbind();

private:
    bool bindOnce(const BusShape& shape);
    bool attach();

    QString m_udc;
    QString m_root;
    bool m_bound = false;
};

} // namespace gadget
