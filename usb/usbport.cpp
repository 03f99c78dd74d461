#include "usb/usbport.h"
#include "usb/usbutils.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

// Devices only: "1-2.3"; interfaces ("1-2.3:1.0") and root hubs ("usb1") are left out.
bool isPortName(const QString& name) {
    static const QRegularExpression portName(QStringLiteral("^\\d+-\\d+(\\.\\d+)*$"));
    return portName.match(name).hasMatch();
}

QString devicesFolder(const QString& sysfsRoot) {
    return sysfsRoot + QStringLiteral("/bus/usb/devices");
}

// A sysfs attribute in hex ("11f6\n") or decimal ("7\n"); -1 when absent or malformed.
int attribute(const QString& folder, const char* name, int base) {
    QFile file(folder + u'/' + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const int value = file.read(16).trimmed().toInt(&ok, base);
    return ok && value >= 0 ? value : -1;
}

bool isHotspot(int vendor, int product) {
    return (vendor == kOwnVendor && product == kOwnProduct) ||
           (vendor == kQualcommVendor && product == kQualcommProduct);
}

} // namespace

namespace usbport {

QString find(const QString& sysfsRoot) {
    const QDir devices(devicesFolder(sysfsRoot));
    QString found;
    for (const QString& name : devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        if (!isPortName(name))
            continue;
        const QString folder = devices.filePath(name);
        if (!isHotspot(attribute(folder, "idVendor", 16), attribute(folder, "idProduct", 16)))
            continue;
        if (!found.isEmpty())
            return {}; // two of them: which one is ours cannot be told here
        found = name;
    }
    return found;
}

std::optional<Numbers> numbersAt(const QString& sysfsRoot, const QString& port) {
    if (!isPortName(port)) // also keeps "../" out of the path
        return std::nullopt;
    const QString folder = devicesFolder(sysfsRoot) + u'/' + port;
    const Numbers numbers{attribute(folder, "busnum", 10), attribute(folder, "devnum", 10)};
    if (numbers.bus <= 0 || numbers.device <= 0)
        return std::nullopt;
    return numbers;
}

} // namespace usbport
