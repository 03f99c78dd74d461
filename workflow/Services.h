#pragma once
// What the procedures of a device's update use besides its session: the environment and the
// bridge to the host, the tools and the device. All outlive every worker.

#include "bridge/DeviceData.h"
#include "bridge/DeviceProbes.h"
#include "bridge/HostPreparation.h"
#include "bridge/ModeSwitch.h"
#include "bridge/ToolRunner.h"
#include "workflow/Environment.h"
#include "workflow/JournalKeeper.h"

class BusTurns;
class UpdateSlots;

struct Services {
    const Environment& env;
    const Tools& tools;
    HostPreparation& host;
    ModeSwitch& switches;
    const DeviceProbes& probes;
    const DeviceData& data;
    JournalKeeper& journal;
    // The device's USB port path on a station ("1-2.3"); empty for the one device of the host,
    // which is found wherever it is.
    QString port = {};
    // A station's bound on updates at once; none for the one device.
    UpdateSlots* turns = nullptr;
    // A station's bound on images written at once per bus; none for the one device.
    BusTurns* bus = nullptr;

    void sleep(double seconds) const { env.clock->sleep(seconds); }
    // Where the device is plugged in now, when the host can tell (sysfs, else the tools' long
    // lists naming one device); a station's unit is its port.
    QString portNow() const;
    // Mode switches go to the device at the port, when there is one.
    int detectionSwitch(uint32_t mode) const;
    void switchAfterRescan(uint32_t mode) const;
};
