#pragma once
// The update worker's body: boot loader, every image, restart, back to the user personality,
// restore the saved data, restart again, read the new version; then the completion on the
// GUI thread.

class DeviceSession;
struct Services;

void runUpdate(DeviceSession& session, const Services& services);
