// Telling the hotspot's personalities apart by the interfaces of its active configuration.

#include "usb/hotplug.h"
#include "usb/hotplug_udev.h"

#include <cerrno>
#include <set>

namespace {

enum class Personality { Cdrom, Ecm };

struct InterfaceRule {
    int interfaceClass;
    int subclass;
    int number;
    const char* trace;
    Personality personality;
};

// Mass storage / SCSI transparent on interface 0 is the CD-ROM; CDC data on interface 2 the ECM.
constexpr InterfaceRule kInterfaceRules[] = {
    {8, 6, 0, "Interface matching CDROM.\n", Personality::Cdrom},
    {10, 0, 2, "Interface match ECM.\n", Personality::Ecm},
};

constexpr int kCdromInterfaceCount = 4;

struct InterfaceInfo {
    int interfaceClass;
    int subclass;
    int number;
};

// nullopt with errno from the first attribute that cannot be read.
std::optional<InterfaceInfo> readInterface(udev_device* interface)
{
    const auto cls = hexAttribute(interface, "bInterfaceClass", 0xFF);
    if (!cls)
        return std::nullopt;
    const auto subclass = hexAttribute(interface, "bInterfaceSubClass", 0xFF);
    if (!subclass)
        return std::nullopt;
    const auto number = hexAttribute(interface, "bInterfaceNumber", 0xFF);
    if (!number)
        return std::nullopt;
    return InterfaceInfo{*cls, *subclass, *number};
}

} // namespace

int EnumInterfaces(udev_device* device)
{
    const auto paths = interfacePaths(device);
    if (!paths || paths->empty())
        return -1;

    std::set<int> seenNumbers;
    bool cdrom = false;
    bool ecm = false;
    // A walk that stops early decides on what it has seen so far.
    for (const std::string& path : *paths) {
        errno = 0;
        UdevDevicePtr interface{udev_device_new_from_syspath(udev_device_get_udev(device), path.c_str())};
        if (!interface) {
            hotplugTrace("Unable to create a plug-in (%08x)\n", errnoStatus(ENODEV));
            break;
        }
        const auto info = readInterface(interface.get());
        if (!info) {
            hotplugTrace("Couldn’t create a device interface for the interface(%08x)\n", errnoStatus(EINVAL));
            break;
        }
        // Alternate settings of one interface count once.
        if (!seenNumbers.insert(info->number).second)
            continue;
        hotplugTrace("Interface class %d, subclass %d num %d\n", info->interfaceClass, info->subclass, info->number);
        for (const InterfaceRule& rule : kInterfaceRules) {
            if (info->interfaceClass == rule.interfaceClass && info->subclass == rule.subclass
                && info->number == rule.number) {
                hotplugTrace("%s", rule.trace);
                (rule.personality == Personality::Cdrom ? cdrom : ecm) = true;
            }
        }
    }

    if (cdrom && seenNumbers.size() == kCdromInterfaceCount)
        return 1;
    if (ecm)
        return 0;
    return -1;
}
