#pragma once
// The gadget in configfs and its place on the guest's USB bus: one composite device whose
// identity, serial number and functions follow the device model's personality, bound to the
// usbip virtual device controller and attached over loopback to the virtual host controller,
// so the host side sees the endpoint numbers a real unit has (OUT 0x01, IN 0x81).

#include <QString>
#include <QStringList>

namespace gadget {

// What the device shows on the bus; an empty identity means it is off the bus.
struct BusShape {
    QString identity; // "11f6:102a"
    QString serial;
    QStringList functions; // FunctionFS instances, in interface order
    int generation = 0;
    bool operator==(const BusShape&) const = default;
    QString describe() const;
};

class Composite {
public:
    explicit Composite(QString udc = QStringLiteral("usbip-vudc.0"));
    // Creates the gadget and a FunctionFS instance for each name.
    bool create(const QStringList& instances);
    bool bind(const BusShape& shape);
    void unbind();

private:
    bool attach();

    QString m_udc;
    QString m_root;
    bool m_bound = false;
};

} // namespace gadget
