#pragma once
// The end of an update run: shows its result and decides the next state. GUI thread.

#include <cstdint>

class DeviceSession;

void showUpdateResult(DeviceSession& session, int32_t code);
