#pragma once
// The end of an update run: shows its outcome and decides the next state. GUI thread.

#include "workflow/UpdateOutcome.h"

class DeviceSession;

void showUpdateResult(DeviceSession& session, const UpdateOutcome& outcome);
