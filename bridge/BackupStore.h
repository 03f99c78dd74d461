#pragma once
// Durable copies of device data in the user's data folder, one entry per update run:
// <data home>/hotspot-updater/backups/<device serial>/<UTC time>/ holding the copies and a
// manifest.json. Folders 0700, files 0600; the newest confirmed entries of each device and
// every unconfirmed one are kept.

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <optional>
#include <vector>

struct BackupFile {
    QString name;       // file name inside the entry
    QString devicePath; // where it was read from
    QString restoreTo;  // where a restore puts it
    qint64 size = 0;
    QString md5;
    QString sha256; // what the update journal ties the copy by; empty in older manifests
    bool restored = false;
};

struct BackupManifest {
    QString serial;
    QString created; // ISO 8601, UTC
    QString deviceVersion;
    QString packageVersion;
    QString foundAt; // copies set aside from an earlier run: the folder they were found in
    // The unit the copies came from: the calibration's SHA-256, as every unit answers adb with
    // the same serial. Empty when no calibration was saved.
    QString unit;
    QString port; // where the unit was plugged in, when the host named it
    QString journal; // the update journal that named the entry
    // What a unit held when a finish began on it, saved before anything went onto it.
    bool found = false;
    std::vector<BackupFile> files;
    QJsonObject notSaved; // device path -> why no copy was made

    QJsonObject toJson() const;
    static BackupManifest fromJson(const QJsonObject& json);
};

// This run's backup: its entry in the store and what it holds.
struct BackupRun {
    QString entry; // folder of the entry; empty when none could be made
    BackupManifest manifest;

    // The entry when some of its copies are not back on the device; else empty.
    QString unrestoredEntry() const;
};

class BackupStore {
public:
    static constexpr int kKeepRuns = 10;
    // Folder for copies whose device is not known (left at the shared names by an earlier run).
    static inline const QString kUnknownDevice = QStringLiteral("unknown device");

    // root: <data home>/hotspot-updater/backups; empty when there is no data home.
    explicit BackupStore(QString root) : m_root(std::move(root)) {}
    // The store below XDG_DATA_HOME when set (an absolute path), else below
    // <home>/.local/share; none without either.
    static BackupStore forDataHome(const std::optional<QString>& dataHome, const std::optional<QString>& home);
    const QString& root() const { return m_root; }

    // Folder of a device's entries; serials are reduced to a safe file name.
    QString deviceFolder(const QString& serial) const;
    // A new, empty entry for this device named by `utc`; empty when it cannot be made.
    QString createEntry(const QString& serial, const QDateTime& utc) const;
    // Makes `file` in an entry private and durable, under `name`, and records its size and digest.
    static std::optional<BackupFile> seal(const QString& file, const QString& entry, const QString& name);
    // The copy still has the size and digest it was saved with.
    static bool intact(const QString& entry, const BackupFile& file);
    [[nodiscard]] bool writeManifest(const QString& entry, const BackupManifest& manifest) const;
    static std::optional<BackupManifest> readManifest(const QString& entry);
    // SHA-256 of a file as lower-case hex; nullopt when it cannot be read.
    static std::optional<QString> sha256(const QString& path);
    // Keeps, for each unit, the newest kKeepRuns entries whose copies are all confirmed back on
    // it, and every other entry: an unconfirmed copy may be the only one left of that data, an
    // entry in `named` is an open journal's, and an entry without a calibration's digest is a
    // unit of its own.
    void rotate(const QString& serial, const QStringList& named = {}) const;
    // Entries other than `entry` and not in `named` whose every copy is, byte for byte, one of
    // `entry`'s: the unit holds that data now, so they go. Returns how many went.
    int dropSameData(const QString& serial, const QString& entry, const QStringList& named) const;
    QStringList entriesNewestFirst(const QString& serial) const;

    QString m_root;
};
