#pragma once
// The two device files an update must not lose: copied into a run's entry of the durable
// store before the device is written, pushed back after.

#include "bridge/BackupStore.h"
#include "bridge/DeviceProbes.h"
#include "bridge/ToolRunner.h"

#include <QByteArray>
#include <QString>
#include <optional>

class DeviceData {
public:
    // `hostTmp`: the shared folder where earlier versions left host copies. The tools and
    // the probes must outlive this.
    DeviceData(const Tools& tools, const DeviceProbes& probes, BackupStore store, QString hostTmp);

    // Saves both files into a new entry of the store, described in `run`. True when the update
    // may write the device: each file is saved, or the device has none. False leaves the
    // device untouched, whatever earlier runs left in the store.
    [[nodiscard]] bool backUp(BackupRun& run, const QString& deviceVersion, const QString& packageVersion) const;
    // backUp in two steps, so that the update's journal can name the entry before any copy
    // is made: the entry (false when the device is not on adb or no entry can be made)...
    [[nodiscard]] bool openEntry(BackupRun& run, const QString& deviceVersion, const QString& packageVersion) const;
    // ... and the copies, with backUp's verdict (false too when the manifest cannot be written).
    [[nodiscard]] bool saveFiles(BackupRun& run) const;
    // Reads back what the restore put on the device: true when every copy of the run is
    // there byte for byte (same SHA-256). The manifest records each copy read back, and only
    // those count as restored.
    [[nodiscard]] bool confirmBack(BackupRun& run) const;
    // Pushes back the run's copies, and nothing else, in the order they were saved; false
    // when one could not be pushed (the rest are not tried).
    [[nodiscard]] bool restore(const BackupRun& run) const;
    // The calibration the device holds now, read through a private folder; nullopt when it
    // cannot be read.
    std::optional<QByteArray> readCalibration() const;
    // Moves copies an earlier version left at the shared names into the store.
    void setAsideStaleCopies() const;

    const BackupStore& backupStore() const { return m_store; }
    QString wifiBackupPath() const { return m_hostTmp + QStringLiteral("/tq738hw_wifi_bk"); }
    QString configBackupPath() const { return m_hostTmp + QStringLiteral("/tq738hw_usr_cfg_bk"); }

private:
    const Tools& m_tools;
    const DeviceProbes& m_probes;
    BackupStore m_store;
    QString m_hostTmp;
};
