#pragma once
// The start-up worker's body: checks the package once and moves the session from checking to
// searching (1), or to finished (4) with the reason on the screen.

class DeviceSession;
struct Services;

void runPackageCheck(DeviceSession& session, const Services& services);
// Once the package is set: the screen of a search for the device, then state 1.
void showLookingForDevice(DeviceSession& session);
