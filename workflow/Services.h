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

struct Services {
    const Environment& env;
    const Tools& tools;
    HostPreparation& host;
    ModeSwitch& switches;
    const DeviceProbes& probes;
    const DeviceData& data;
    JournalKeeper& journal;

    void sleep(double seconds) const { env.clock->sleep(seconds); }
};
