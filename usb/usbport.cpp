#include "usb/usbport.h"
#include "usb/usbutils.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {


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

bool isPortName(const QString& name) {
    static const QRegularExpression portName(QStringLiteral("^\\d+-\\d+(\\.\\d+)*$"));
    return portName.match(name).hasMatch();
}

QStringList list(const QString& sysfsRoot) {
    const QDir devices(devicesFolder(sysfsRoot));
    QStringList ports;
    for (const QString& name : devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        const QString folder = devices.filePath(name);
        if (isPortName(name) && isHotspot(attribute(folder, "idVendor", 16), attribute(folder, "idProduct", 16)))
            ports << name;
    }
    return ports;
}

QString find(const QString& sysfsRoot) {
    const QStringList ports = list(sysfsRoot);
    // Two of them: which one is ours cannot be told here.
    return ports.size() == 1 ? ports.front() : QString();
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

std::optional<Shown> shownAt(const QString& sysfsRoot, const QString& port) {
    if (!isPortName(port))
        return std::nullopt;
    const QString folder = devicesFolder(sysfsRoot) + u'/' + port;
    const Shown shown{attribute(folder, "idVendor", 16), attribute(folder, "idProduct", 16),
                      attribute(folder, "devnum", 10)};
    if (shown.vendor < 0 || shown.product < 0 || shown.device <= 0)
        return std::nullopt;
    return shown;
}

} // namespace usbport
