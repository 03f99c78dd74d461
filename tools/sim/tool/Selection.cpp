#include "tool/Selection.h"

#include "core/Device.h"
#include "core/Units.h"

namespace sim {

namespace {

const QString kUsbPrefix = QStringLiteral("usb:");

bool listedBy(Device& device, Reach reach)
{
    device.settle(false);
    return reach == Reach::Adb ? !device.adbListing().isEmpty() : device.fastbootReaches();
}

bool matches(const Device& device, const QString& target, Reach reach)
{
    if (target.isEmpty())
        return true;
    if (target.startsWith(kUsbPrefix))
        return device.port() == target.mid(kUsbPrefix.size());
    const char* key = reach == Reach::Adb ? "serial" : "fastboot_serial";
    return device.settings().value(QLatin1String(key)).toString() == target;
}

} // namespace

Selection selectUnit(QJsonObject& state, const QString& target, Reach reach)
{
    QStringList found;
    for (const QString& port : unitPorts(state)) {
        Device device(state, port);
        if (listedBy(device, reach) && matches(device, target, reach))
            found << port;
    }
    Selection s;
    if (found.size() == 1) {
        s.outcome = Selection::Outcome::Found;
        s.port = found.first();
    } else if (found.size() > 1) {
        s.outcome = Selection::Outcome::Ambiguous;
    } else {
        s.outcome = target.isEmpty() ? Selection::Outcome::NoDevice : Selection::Outcome::NotFound;
    }
    return s;
}

QString addressedPort(QJsonObject& state, const QString& target, Reach reach)
{
    const QStringList ports = unitPorts(state);
    if (target.startsWith(kUsbPrefix))
        return ports.contains(target.mid(kUsbPrefix.size())) ? target.mid(kUsbPrefix.size()) : QString();
    const Selection s = selectUnit(state, target, reach);
    if (s.outcome == Selection::Outcome::Found)
        return s.port;
    return ports.size() == 1 && s.outcome != Selection::Outcome::NotFound ? ports.first() : QString();
}

} // namespace sim
