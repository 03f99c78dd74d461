#pragma once
// The simulated hotspot's behaviour over its JSON state: personalities and the USB identity
// each one shows, restarts and re-enumeration with their delays, files, partitions, the
// firmware version, and the scenario's faults. A Device is one unit of the hub (the first
// one unless a port is named); it edits that unit's part of the state it was given and
// writes it back when it goes away, so it must live inside one Transaction.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace sim {

namespace personality {
inline constexpr const char* kFtm = "ftm";             // 05c6:9025, adb reaches it
inline constexpr const char* kUsr = "usr";             // 11f6:102a with a CD-ROM, adb does not
inline constexpr const char* kUsrAdb = "usr_adb";      // 11f6:102a, adb reaches it
inline constexpr const char* kBootloader = "bootloader"; // fastboot reaches it
inline constexpr const char* kRestarting = "restarting"; // on no bus
} // namespace personality

inline constexpr const char* kOwnIdentity = "11f6:102a";
inline constexpr const char* kQualcommIdentity = "05c6:9025";
inline constexpr const char* kHubIdentity = "1d6b:0002";

inline constexpr const char* kEtcModeFile = "/etc/mode.cfg";
inline constexpr const char* kTmpModeFile = "/tmp/mode.cfg";
inline constexpr const char* kBootModeFile = "/tmp/bootmode";
inline constexpr const char* kMpp5File = "/sys/devices/platform/msm_ssbi.0/pm8018-core/pm8xxx-adc/mpp5";
inline constexpr const char* kWifiBoardData = "/lib/firmware/ath6k/AR6003/hw2.1.1/bdata.SD31.bin";
inline constexpr const char* kConfigDb = "/etc/config.db";
inline constexpr const char* kNewConfigDb = "/etc/new_config.db";

enum class SwitchTarget { TmpUsrAdb, TmpFtm, PrmUsr };

class Device {
public:
    // The device part of the state of a freshly powered device.
    static QJsonObject powerOn(const QJsonObject& settings);
    static bool isPersonality(const QString& name);

    // A port no unit is at gives an unplugged device that writes nothing back.
    explicit Device(QJsonObject& state, const QString& port = QString());
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const QJsonObject& settings() const { return m_scn; }
    // The unit's USB port path, e.g. "1-2.1"; empty when no unit is there.
    const QString& port() const { return m_port; }
    QJsonObject& raw() { return m_dev; }

    // Lets a pending change happen when its delay is over; a probe also counts down
    // probe-counted delays (and is counted).
    void settle(bool probe);

    QString personality() const;
    void setPersonality(const QString& name); // at once, cancelling any pending change
    bool plugged() const;
    void setPlugged(bool plugged);
    // Bumped every time the device enumerates anew; USB records of an older one are stale.
    int generation() const;

    QStringList identities() const;
    bool adbReaches() const;
    bool fastbootReaches() const;
    // What `adb devices` says of the device ("device", "offline", "unauthorized",
    // "no permissions (...)", ...), or empty when adb does not list it. Only "device"
    // takes commands.
    QString adbListing() const;
    // The error adb prints for a command to a device in a state other than "device".
    QByteArray adbStateError() const;
    // A reboot command was taken but the device is still on the bus for a moment.
    bool lingering() const;

    // Host side of a Linux desktop: the kernel's storage driver binds the CD-ROM interface
    // at every enumeration under the own identity, until detached from this enumeration.
    QString kernelDriver() const;
    void detachKernelDriver();
    // "rw" (access rule in effect), "ro" (node readable only: every request refused),
    // "none" (the node cannot be opened).
    QString nodeAccess() const;
    bool nodeWritable() const { return nodeAccess() == QLatin1String("rw"); }
    // The cable is pulled; it comes back after `replugAfter` (never when absent).
    void pullCable(const QJsonValue& replugAfter);

    void restart(bool intoBootloader);
    void modeSwitch(SwitchTarget target);
    // Stores what was written; false when the scenario makes this partition fail.
    bool flash(const QString& partition, qint64 size, const QString& md5);
    // A write cut in the middle: the partition holds neither image and does not count as
    // written.
    void tearPartition(const QString& partition, qint64 size);
    // What "cmmd info firmware_ver" prints.
    QByteArray versionReply();

    bool hasFile(const QString& path) const;
    QByteArray file(const QString& path) const;
    void setFile(const QString& path, const QByteArray& content);

    QJsonValue fault(const QString& key) const;
    bool hasFault(const QString& key) const { return !fault(key).isUndefined() && !fault(key).isNull(); }
    // true → every item; a text → that item or "*"; a list → its items; a number → equal.
    bool faultHits(const QString& key, const QString& item) const;
    // Like faultHits, but a text fault matches any command line containing it.
    bool faultMatchesCommand(const QString& key, const QString& commandLine) const;
    // Removes a fault from the scenario, so it strikes only once.
    void clearFault(const QString& key);

    // Counters kept in the device state ("probes", "version_reads", "claims", ...).
    int counter(const QString& name) const;
    int bump(const QString& name);

private:
    void leaveBus(const QString& target, const QJsonValue& delay);
    void comeBack(const QString& target);
    QString bootPersonality(int restart) const;
    void applyUpdatedVersion();
    void storeWrite(const QString& partition, qint64 size, const QString& md5, bool complete);
    // Writing the root file system leaves factory calibration and settings behind.
    void wipeDataIfHeld(const QString& partition);

    QJsonObject& m_state;
    QString m_port;
    QJsonObject m_scn;
    QJsonObject m_dev;
};

} // namespace sim
