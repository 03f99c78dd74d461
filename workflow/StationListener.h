#pragma once
// What a station tells whoever follows its units. Calls come on the GUI thread.

class DeviceWorkflow;

class StationListener {
public:
    virtual ~StationListener() = default;
    // A hotspot showed at a port no unit had. Its workers start once every listener was told,
    // so subscribing to its session here misses nothing.
    virtual void unitJoined(DeviceWorkflow& unit) = 0;
};
