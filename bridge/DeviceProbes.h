#pragma once
// What the device is doing, asked of the USB bus and of adb and fastboot, and the one-step
// commands that move it. Each probe returns what it found; nothing is remembered here.

#include "bridge/ToolRunner.h"

#include <QString>
#include <QStringList>
#include <cstdint>

// Bits of presence(): which of the device's two USB identities is on the bus.
namespace presence {
constexpr uint64_t kOwnIdentity = 1;
constexpr uint64_t kQualcommIdentity = 2;
} // namespace presence

// Which tool reaches the device, and why none does.
struct AdbVerdict {
    enum Tool : int32_t { None = 0, Adb = 1, Fastboot = 2 };
    int32_t tool = None;
    // A device list said "no permissions".
    bool accessDenied = false;
    // adb lists the device, but not (yet) as "device". It already shows its adb personality:
    // switching it again would only restart its connection.
    bool listedNotReady = false;
};

struct BootModeReading {
    int32_t code = -1; // -1: not known
    // A reading failed outright (the status line says so), not just an empty answer.
    bool unreadable = false;
};

// The USB ports the tools' long device lists name, whatever unit the probes are for.
struct ListedPorts {
    QStringList adb;
    QStringList fastboot;
    // Every port a tool lists, once.
    QStringList all() const;
};

class DeviceProbes {
public:
    // The tools must outlive the probes. Tools for a port (Tools::forPort) make probes of the
    // device at that port alone, found on the bus through the sysfs tree at `sysfsRoot`.
    explicit DeviceProbes(const Tools& tools, QString sysfsRoot = QStringLiteral("/sys"))
        : m_tools(tools), m_sysfsRoot(std::move(sysfsRoot)) {}

    // The presence mask, after a rescan of the bus.
    uint64_t presence() const;
    // The same without a rescan where the host can tell: with a port, as sysfs shows that port
    // (what a loop of many units asks twice a second); without one, as presence().
    uint64_t presenceAsShown() const;
    // With a port, from the lines of the long device lists that name that port.
    AdbVerdict detectAdb() const;
    ListedPorts listedPorts() const;
    // The boot mode the device's firmware reports; a full-scale MPP5 reading turns modes 1
    // and 4 into a normal start (0).
    BootModeReading bootMode() const;
    // The device's answer to the firmware-version command; nullopt when not text.
    ToolResult firmwareVersion() const;
    // adb "sys_reboot" and "sys_reboot bootloader": false when adb reports an error.
    bool reboot() const;
    bool rebootToBootLoader() const;
    // A reboot whose answer nobody reads.
    void rebootForwarded() const;
    // Writes one image; true when fastboot exits with 0 and reports it finished, with no
    // "FAILED" anywhere in its output.
    // `sent`: called once the image has crossed the bus and the device stores it.
    bool flash(const QString& partition, const QString& imagePath, const std::function<void()>& sent = {}) const;
    void fastbootReboot() const;
    void fastbootRebootBootloader() const;
    // Writes a mode file through the device's shell: it answers "OK"; no answer at all passes.
    bool writeModeFile(const QStringList& command) const;

private:
    uint64_t presenceAt(const QString& port) const;

    const Tools& m_tools;
    QString m_sysfsRoot;
};
