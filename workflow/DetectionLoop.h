#pragma once
// The detection worker: twice a second, bring an attached device to adb, read its firmware
// version and offer the update or report it up to date.

#include <QString>

struct UpdateJournal;

class DeviceSession;
struct Services;

class DetectionLoop {
public:
    // Both must outlive the loop.
    DetectionLoop(DeviceSession& session, const Services& services) : m_session(session), m_services(services) {}

    // Passes until the session asks this worker to stop.
    void run();
    // One pass: a wait, then one look at the bus and the tools.
    void pass();

private:
    void deviceGone(int32_t observed);
    void showSearchingIf(int32_t state);
    void showNoPermission();
    void readDeviceVersion();
    // A device with the signs of the pending journal's update: offer to finish it.
    void offerFinish(const UpdateJournal& journal);
    // No known identity on the bus: a boot loader may still be there under its own.
    void lookForBootLoader(int32_t observed);
    bool atItsPort(const UpdateJournal& journal) const;

    DeviceSession& m_session;
    const Services& m_services;
};
