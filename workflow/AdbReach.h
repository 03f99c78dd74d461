#pragma once
// Brings the unit at a port to where adb reaches it, as the detection does for a unit plugged
// in normally (its CD-ROM personality): the detection's switch, to that unit alone, then a
// bounded wait for adb.

#include "bridge/DeviceProbes.h"
#include "bridge/ModeSwitch.h"
#include "workflow/Environment.h"

enum class AdbReach {
    Reached,
    NoUnit,     // nothing with the hotspot's identities at the port
    BootLoader, // left there: a boot loader may be an unfinished update's
    Refused,    // the host refused us the device
};

// `probes` are the port's (Tools::forPort). Waits on `clock`.
[[nodiscard]] AdbReach bringToAdb(const DeviceProbes& probes, ModeSwitch& switches, const UsbPortPath& at, Clock& clock);
