#include "Composite.h"

#include "core/Device.h"
#include "core/UsbLayout.h"

#include <QJsonObject>
#include <algorithm>

namespace gadget {

namespace {
// A boot loader without an identity of its own in the scenario still needs one on a real bus.
const QString kDefaultBootloaderIdentity = QStringLiteral("18d1:d00d");
const QString kEcm = QStringLiteral("ecm.0");
const QString kSerialPrefix = QStringLiteral("gser.");
int mostSerials = kMostSerials;

// The configfs functions that give the layout's interfaces, in link order. The kernel's own
// Ethernet function gives both ECM interfaces; each serial port is a generic serial function.
QStringList configfsFunctions(const QList<sim::UsbInterface>& layout)
{
    QStringList functions;
    int serials = 0;
    for (const sim::UsbInterface& i : layout) {
        switch (i.function) {
        case sim::UsbFunction::Storage: functions << ffs(kStorage); break;
        case sim::UsbFunction::Adb: functions << ffs(kAdb); break;
        case sim::UsbFunction::Fastboot: functions << ffs(kFastboot); break;
        case sim::UsbFunction::EcmControl: functions << kEcm; break;
        case sim::UsbFunction::EcmData: break;
        case sim::UsbFunction::Serial:
            if (serials < mostSerials)
                functions << kSerialPrefix + QString::number(serials);
            ++serials;
            break;
        }
    }
    return functions;
}

} // namespace

QString ffs(const QString& instance)
{
    return QStringLiteral("ffs.") + instance;
}

void limitSerials(int ports)
{
    mostSerials = std::clamp(ports, 0, kMostSerials);
}

QStringList allFunctions()
{
    QStringList functions{ffs(kStorage), ffs(kAdb), ffs(kFastboot), kEcm};
    for (int i = 0; i < mostSerials; ++i)
        functions << kSerialPrefix + QString::number(i);
    return functions;
}

BusShape shapeOf(const sim::Device& device)
{
    BusShape shape;
    const QList<sim::UsbInterface> layout = sim::usbLayout(device);
    if (layout.isEmpty())
        return shape;
    const QJsonObject& s = device.settings();
    const QStringList ids = device.identities();
    shape.generation = device.generation();
    shape.functions = configfsFunctions(layout);
    if (device.personality() == QLatin1String(sim::personality::kBootloader)) {
        shape.identity = ids.isEmpty() ? kDefaultBootloaderIdentity : ids.first();
        shape.serial = s.value(QLatin1String("fastboot_serial")).toString();
    } else {
        shape.identity = ids.value(0);
        shape.serial = s.value(QLatin1String("serial")).toString();
    }
    return shape;
}

bool offers(const sim::Device& device, const QString& instance)
{
    return shapeOf(device).functions.contains(ffs(instance));
}

} // namespace gadget
