#pragma once
// Where the updater lives and how it waits: the real process passes the real ones,
// tests pass a temporary bundle, a private home and a clock that does not wait.

#include "bridge/HostPreparation.h"
#include "bridge/ToolRunner.h"
#include "workflow/PackageKeys.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

// The clock every wait of the workers sleeps on.
class Clock {
public:
    virtual ~Clock() = default;
    virtual void sleep(double seconds) = 0;
};

class RealClock : public Clock {
public:
    void sleep(double seconds) override;
};

struct Environment {
    // The bundle folder, without a trailing separator. Resources are at
    // bundlePath + "/Contents/Resources".
    QString bundlePath;
    // Value of HOME, or nullopt when it is unset ("/tmp" is used then).
    std::optional<QString> home;
    // Shared temporary folder where earlier versions left host copies of the device data.
    QString hostTmp = QStringLiteral("/tmp");
    // Value of XDG_DATA_HOME when it is an absolute path; else home + "/.local/share".
    std::optional<QString> dataHome;
    // Value of XDG_STATE_HOME when it is an absolute path; else home + "/.local/state".
    std::optional<QString> stateHome;
    // Where the kernel shows the USB devices (bus/usb/devices): the device's port path.
    QString sysfsRoot = QStringLiteral("/sys");
    // Paths whose presence as a regular file means the device-access rule is installed.
    QStringList driverPaths;
    // The machine's trusted package keys (beside the bundle's own), and the user a key file
    // may belong to besides root; nobody else may be able to write it.
    QString systemKeysDir = package::kSystemKeysDir;
    uid_t keyOwner = 0;
    std::shared_ptr<Clock> clock;
    ToolLimits toolLimits;
    // Ends the program at once with the given status (a bad adb vendor list).
    // Must not return; tests pass one that throws.
    std::function<void(int)> exitProgram;

    // The real environment of this process; the bundle is found from the executable's path
    // (two folders below the bundle).
    static Environment fromProcess(const QString& executablePath);

    QString resourcesPath() const { return bundlePath + QStringLiteral("/Contents/Resources"); }
    HostFolders hostFolders() const { return {home, hostTmp, driverPaths}; }
    // This user's update journals; empty without a state or home folder.
    QString journalFolder() const;
    // The record of update attempts, beside the journals.
    QString historyPath() const;
    // This program's state below XDG_STATE_HOME (or home's); empty without either.
    QString stateFolder() const;
};
