#include "Composite.h"

#include "core/Device.h"

#include <QJsonObject>

namespace gadget {

namespace {
// A boot loader without an identity of its own in the scenario still needs one on a real bus.
const QString kDefaultBootloaderIdentity = QStringLiteral("18d1:d00d");
} // namespace

BusShape shapeOf(const sim::Device& device)
{
    BusShape shape;
    const QString p = device.personality();
    if (!device.plugged() || p == QLatin1String(sim::personality::kRestarting))
        return shape;
    const QJsonObject& s = device.settings();
    shape.generation = device.generation();
    shape.serial = s.value(QLatin1String("serial")).toString();
    const QStringList ids = device.identities();
    if (p == QLatin1String(sim::personality::kBootloader)) {
        shape.identity = ids.isEmpty() ? kDefaultBootloaderIdentity : ids.first();
        shape.serial = s.value(QLatin1String("fastboot_serial")).toString();
        shape.functions = {kFastboot};
        return shape;
    }
    shape.identity = ids.value(0);
    if (p == QLatin1String(sim::personality::kUsr) || p == QLatin1String(sim::personality::kUsrAdb))
        shape.functions << kStorage;
    if (device.adbReaches())
        shape.functions << kAdb;
    return shape;
}

bool offers(const sim::Device& device, const QString& function)
{
    return shapeOf(device).functions.contains(function);
}

} // namespace gadget
