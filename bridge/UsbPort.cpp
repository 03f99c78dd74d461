#include "bridge/UsbPort.h"

#include "usb/usbutils.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

// A sysfs attribute of four hex digits ("11f6\n"); -1 when absent or malformed.
int hexAttribute(const QString& folder, const char* name) {
    QFile file(folder + u'/' + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const int value = file.read(16).trimmed().toInt(&ok, 16);
    return ok ? value : -1;
}

bool isHotspot(int vendor, int product) {
    return (vendor == kOwnVendor && product == kOwnProduct) ||
           (vendor == kQualcommVendor && product == kQualcommProduct);
}

} // namespace

namespace usbport {

QString find(const QString& sysfsRoot) {
    // Devices only: "1-2.3"; interfaces ("1-2.3:1.0") and root hubs ("usb1") are left out.
    static const QRegularExpression portName(QStringLiteral("^\\d+-\\d+(\\.\\d+)*$"));
    const QDir devices(sysfsRoot + QStringLiteral("/bus/usb/devices"));
    QString found;
    for (const QString& name : devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        if (!portName.match(name).hasMatch())
            continue;
        const QString folder = devices.filePath(name);
        if (!isHotspot(hexAttribute(folder, "idVendor"), hexAttribute(folder, "idProduct")))
            continue;
        if (!found.isEmpty())
            return {}; // two of them: which one is ours cannot be told here
        found = name;
    }
    return found;
}

} // namespace usbport
