#pragma once
// What one update has done so far, so that the next run can finish it: where the device is,
// which package went on it, where its data was saved and how far the writing got. Kept as a
// JSON file by JournalStore; read back only when every field passes its checks.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// Saving: the copies are being made, the device is untouched. Saved: they are made, the device
// still untouched. From BootLoader on, the device may have been written.
enum class JournalPhase { Saving, Saved, BootLoader, Image, Restarted, DataBack, Done };

// A copy of a device file in the backup store.
struct JournalFile {
    QString devicePath;
    QString sha256; // lower-case hex

    bool operator==(const JournalFile&) const = default;
};

struct UpdateJournal {
    // 2 adds foundEntries and afterPush; a format-1 journal reads as one with neither.
    static constexpr int kFormat = 2;

    QString port; // the device's USB port path from sysfs; empty when the host gave none
    QString packageVersion;
    QString versionSha256; // of the package's version file
    QString storeEntry;    // the backup store's folder for this update
    // Entries holding what a unit had on it when a finish began, saved before anything was
    // written or pushed to it.
    QStringList foundEntries;
    // Digests of the calibration the unit held after a push of its copy did not read back:
    // no other unit can hold what that push left.
    QStringList afterPush;
    std::vector<JournalFile> files;
    JournalPhase phase = JournalPhase::Saving;
    int image = 0;  // with Image: the one being written, 1 to images
    int images = 0; // how many the package writes
    int resumes = 0;
    QDateTime created; // UTC
    QDateTime changed; // UTC
    // The attempt's id in the record of updates, so that a finish goes on with its row;
    // empty when none was kept. Optional: older journals have none.
    QString attempt;

    bool operator==(const UpdateJournal&) const = default;

    QByteArray toJson() const;
};

// A journal read from bytes, or why it was refused.
struct JournalReading {
    std::optional<UpdateJournal> journal;
    QString error;
};

// Refuses anything but what toJson() writes in this format: invalid UTF-8 or JSON, a field
// missing or of the wrong type, a digest that is not 64 lower-case hex digits, an unknown
// phase, a negative count, an image beyond the count, a time that is not UTC ISO 8601.
JournalReading parseJournal(const QByteArray& bytes);

// The phase as the journal names it: "saved", "boot loader", "image", ...
QString phaseName(JournalPhase phase);
