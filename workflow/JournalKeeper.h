#pragma once
// This user's update journals as one device's update sees them: the journal the running update
// writes, and the open one that a device showing its signs would finish. Called from the
// detection and update workers and the GUI thread, so every method takes the keeper's lock.

#include "bridge/BackupStore.h"
#include "bridge/FreshCalibrations.h"
#include "bridge/JournalStore.h"
#include "workflow/UnitEvidence.h"

#include <QString>
#include <mutex>
#include <optional>
#include <vector>

// What the user is told of a journal set aside: where it went.
QString setAsideNotice(const SetAsideJournal& aside);

// An open journal that the unit at hand could belong to, with what is known of its unit.
struct OpenJournal {
    QString path;
    UpdateJournal journal;
    JournalCalibrations calibrations;
    // This keeper ran its write and the unit has not left its port since.
    bool watched = false;
};

class JournalKeeper {
public:
    static constexpr int kResumesBeforeAsking = 3;
    // Resumed this often, it may fail again the same way: only the user goes on with it.
    static bool resumedTooOften(const UpdateJournal& journal) { return journal.resumes >= kResumesBeforeAsking; }

    // `port`: a station's unit's, whose departures its detection watches; empty for the one
    // device, whose user is asked to reconnect it after a failure.
    JournalKeeper(JournalStore journals, BackupStore backups, QString port = {});
    const JournalStore& journals() const { return m_journals; }
    // The running or pending journal's file; empty when none is held.
    QString path() const;

    // At launch: a journal whose update never reached the device (its copies were still being
    // made, or made) is closed; its copies stay in the store until the unit is seen holding
    // the same data, as a phase alone is no proof. One that fails its checks is set aside.
    std::vector<SetAsideJournal> review();
    // Every open journal, of any port, that may have written its unit and that neither another
    // unit of this process holds nor the user ruled out for the unit at `port`; the one at
    // `port` first, then the newest first.
    std::vector<OpenJournal> openJournals(const QString& port) const;
    bool anyOpen() const;
    // What is known of a journal's unit's calibration, to judge a unit by.
    JournalCalibrations calibrations(const UpdateJournal& journal) const;
    // The journal the evidence pointed to becomes the pending one, locked by this keeper;
    // false when another holds it now.
    [[nodiscard]] bool adopt(const OpenJournal& open);
    // The open journal a device in its boot loader or running its package may finish.
    std::optional<UpdateJournal> pending() const;
    // The user said the unit at `port` is not the pending journal's: that journal is not
    // asked about again for it until it leaves.
    void markAnotherUnit(const QString& port);
    // The unit left its port: its watch ends, the user's answers for it go, and a journal
    // pending for it is free for whichever unit shows its evidence.
    void unitDeparted();

    // The running update's journal: created and locked before any copy is made.
    [[nodiscard]] bool begin(UpdateJournal journal);
    // Takes the pending journal as the running update's, one more resume counted.
    [[nodiscard]] std::optional<UpdateJournal> resume();
    // Advances the running journal; false when it could not be written.
    [[nodiscard]] bool advance(JournalPhase phase, int image = 0);
    // The copies are made: their digests and the phase saved, in one write.
    [[nodiscard]] bool saved(const std::vector<JournalFile>& files);
    // What the unit held when its finish began is in `entry`: named by the running journal.
    [[nodiscard]] bool found(const QString& entry);
    // The unit holds `calibration` after a push of its copy that did not read back.
    [[nodiscard]] bool leftByPush(const QString& calibration);
    // The running journal fails its own checks: it is set aside, never acted on again.
    SetAsideJournal setAside(const QString& why);
    // The running update's data is confirmed on its device: the journal goes.
    [[nodiscard]] bool close();
    // The running update never touched its device (this run saw it through): the journal and
    // its copies go.
    bool abandon();
    // The store's entries that an open journal names: rotation never takes them.
    QStringList namedEntries() const;
    // A written unit with this package holds `calibration`; learned once per package.
    void learnFresh(const QString& packageDigest, const QString& calibration);
    // The running update ended with its journal open: a unit shown to be its own finishes it.
    void keepPending();
    // The running update stopped before its device was touched, and its journal could not be
    // written, or a unit left untouched asks about it no more: the journal stays as it is (the
    // next start closes it, or another unit shows it is its own), its copies stay too.
    void letGo();
    // What a finish found on its unit, once that unit's own data is confirmed back on it:
    // only what the writing left there, so it goes.
    bool dropFound(const QString& entry);
    // Open journals whose copies are, digest for digest, the data the device holds now: that
    // data never left it, so they are closed and their copies dropped. Returns how many.
    int closeMatching(const std::vector<JournalFile>& onDevice);
    // Every open journal goes, its copies kept in the store; returns what went.
    std::vector<StoredJournal> discardAll();

private:
    bool dropCopies(const QString& entry) const;
    // This process no longer holds a journal.
    void release();
    bool closeStored(const StoredJournal& stored, bool dropTheCopies);

    mutable std::mutex m_lock;
    JournalStore m_journals;
    BackupStore m_backups;
    QString m_port;
    std::optional<JournalLock> m_held; // the running or pending journal
    UpdateJournal m_journal;           // what m_held holds
    bool m_pending = false;            // m_held waits for its device
    FreshCalibrations m_fresh;
    QStringList m_ruledOut;            // "port\njournal" pairs the user answered no for
    QString m_watched;                 // the journal whose write this keeper watched from its start
};
