#pragma once
// Mode-switch commands to the device's CD-ROM or network personality, host-wide: the
// termination's permanent switch must stay the device's last command, so once it went out
// no detection switch follows it.

#include <QString>

#include <cstdint>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <vector>

// The device at one USB port path, found through the sysfs tree at `sysfsRoot` ("/sys").
struct UsbPortPath {
    QString sysfsRoot;
    QString port;
};

class ModeSwitch {
public:
    // A switch for the detection loop; after the final switch none goes out (0 then).
    int detectionSwitch(uint32_t mode);
    // The same, to the device at that port only, after a rescan; -1 when none with the
    // identity is there.
    int detectionSwitch(uint32_t mode, const UsbPortPath& at);
    // The permanent switch to the user personality that ends the application's life.
    void sendFinal();
    // The same, to each of a station's units whose last command was not already that switch.
    void sendFinal(const std::vector<UsbPortPath>& units);
    // A switch during an update, after a rescan of the bus: after a re-enumeration the
    // library's list still holds the device's old record, which cannot be opened.
    void sendAfterRescan(uint32_t mode);
    void sendAfterRescan(uint32_t mode, const UsbPortPath& at);

private:
    int sendAt(const UsbPortPath& at, uint32_t mode);
    bool permanentWasLast(const QString& port);

    // Switches of different units share it and overlap; the final switch holds it alone.
    std::shared_mutex m_order;
    bool m_finalSent = false; // written with m_order held alone

    std::mutex m_lastLock;
    std::set<QString> m_permanentLast; // ports whose last command, delivered, was the permanent switch
};
