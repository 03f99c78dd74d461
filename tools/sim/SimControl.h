#pragma once
// Control of the simulated hotspot from tests and from the hotspot-sim command.
//
// The simulated device lives in a state folder (by default the one named by the environment
// variable HOTSPOT_SIM_DIR). The stand-in adb and fastboot executables and the stand-in USB
// library (hotspot_simusb) read and change the same state, so a test can set up a scenario
// here, let a real Application drive the device, and then look at what the device was asked.
// Every call takes the state folder's lock: it is safe to use while tools run.
//
// A scenario with "units" is a hub of several units, each at its own port path. Calls that
// take a port look at or change that unit; without one they act on the first unit, except
// plug() and unplug(), which act on every unit.

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

// One entry of the record of everything the device was asked.
struct SimRecord {
    QString kind;      // "adb", "fastboot" or "usb"
    QString event;     // tools: "run"; usb: "open", "claim", "release", "close", "cbw", "csw", ...
    QStringList args;  // tools: the full argument list (without the program name)
    QByteArray bytes;  // usb "cbw": the bytes written, exactly as sent (31 for a valid CBW)
    int status = -1;   // usb "cbw": the CSW status it earned (0, 1), or -1 when refused with a stall
    int result = 0;    // usb: the value the usb_* call returned
    QString personality; // the device's personality when the request arrived
    QString port;      // the unit's port path it went to; empty for a run that went to none
    QJsonObject json;  // the whole record as stored
};

class SimControl {
public:
    // stateDir empty: the folder named by HOTSPOT_SIM_DIR. The folder is created if missing.
    explicit SimControl(QString stateDir = QString());

    QString stateDir() const { return m_dir; }

    // Where the scenario files and the stand-in tools live (fixed when the project is built).
    static QString scenariosDir();
    static QString binDir();
    static QString adbPath();
    static QString fastbootPath();
    // A scenario name ("demo"), a file path, or an inline JSON object → its settings.
    // Returns an empty object and sets *error when it cannot be read.
    static QJsonObject readScenario(const QString& nameFileOrText, QString* error = nullptr);

    // Starts the device afresh from a scenario (name, file or JSON text) and empties the
    // record. Returns false (state untouched) when the scenario cannot be read.
    bool loadScenario(const QString& nameFileOrText, QString* error = nullptr);
    // Merges settings into the scenario; "faults" is merged key by key.
    void patch(const QJsonObject& settings, const QString& port = QString());
    void set(const QString& key, const QJsonValue& value, const QString& port = QString());
    // Another unit at `port`: the unit's settings changed by `settings`, and a device freshly
    // made from them (its own files, version and partitions), unplugged until plug(). With
    // `swapped` it is on the cable at once, newly enumerated: a swap between any two looks.
    void replaceUnit(const QJsonObject& settings, const QString& port, bool swapped = false);
    // Units taken from their ports and plugged in at others (`to[i]` gets the unit at
    // `from[i]`), as they were: a hub's cables swapped or moved.
    void moveUnits(const QStringList& from, const QStringList& to);
    void setFault(const QString& key, const QJsonValue& value = QJsonValue(true), const QString& port = QString());
    void clearFault(const QString& key, const QString& port = QString());
    void clearFaults(const QString& port = QString());

    // The units' port paths, in the scenario's order ("1-1" for a scenario without units).
    QStringList ports() const;
    // The tree shaped like /sys that the simulator keeps: <stateDir>/sys.
    QString sysfsRoot() const;

    // Cable. While unplugged the device is on no bus and no tool reaches it.
    void plug(const QString& port = QString());
    void unplug(const QString& port = QString());
    bool plugged(const QString& port = QString()) const;

    // Puts the device into a personality at once ("ftm", "usr", "usr_adb", "bootloader",
    // "restarting"), cancelling any pending change.
    void setPersonality(const QString& personality, const QString& port = QString());

    // The whole state: {"scenario": {...}, "device": {...}}.
    QJsonObject state() const;
    QJsonObject device(const QString& port = QString()) const;
    // "ftm", "usr", "usr_adb", "bootloader" or "restarting".
    QString personality(const QString& port = QString()) const;
    // USB identities the device shows now, as "11f6:102a" texts.
    QStringList identities(const QString& port = QString()) const;
    bool adbReaches(const QString& port = QString()) const;
    bool fastbootReaches(const QString& port = QString()) const;
    QString firmwareVersion(const QString& port = QString()) const;
    // {"<partition>": {"size": n, "md5": "<hex>", "writes": n}, ...}
    QJsonObject partitions(const QString& port = QString()) const;
    // A device file's content, or a null QByteArray when the device has no such file.
    QByteArray deviceFile(const QString& path, const QString& port = QString()) const;
    void setDeviceFile(const QString& path, const QByteArray& content, const QString& port = QString());
    int restarts(const QString& port = QString()) const;
    // Probes seen so far (usb_find_devices calls, "adb devices" and "fastboot devices" runs).
    int probes(const QString& port = QString()) const;
    // Counts as n probes, so a test can let a probe-counted delay pass without polling.
    void advance(int n = 1, const QString& port = QString());

    QList<SimRecord> records() const;
    QList<SimRecord> records(const QString& kind) const;
    // Argument lists of every run of one tool ("adb" or "fastboot"), in order.
    QList<QStringList> toolRuns(const QString& tool) const;
    // Every CBW written (to the unit at port, when one is named), in order.
    QList<QByteArray> cbws(const QString& port = QString()) const;
    void clearRecords();

private:
    QString m_dir;
};
