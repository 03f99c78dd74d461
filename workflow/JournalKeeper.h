#pragma once
// This user's update journals as one device's update sees them: the journal the running update
// writes, and the open one that a device showing its signs would finish. Called from the
// detection and update workers and the GUI thread, so every method takes the keeper's lock.

#include "bridge/BackupStore.h"
#include "bridge/JournalStore.h"

#include <QString>
#include <mutex>
#include <optional>
#include <vector>

// What the user is told of a journal set aside: where it went.
QString setAsideNotice(const SetAsideJournal& aside);

// Which open journal a keeper's review takes as its pending one.
struct JournalAdoption {
    bool adopts = true; // false: a station's package check, which reviews for every unit
    QString port;       // not empty: only a journal of the unit at this port (a station's)
};

class JournalKeeper {
public:
    static constexpr int kResumesBeforeAsking = 3;

    JournalKeeper(JournalStore journals, BackupStore backups, JournalAdoption adoption = {});
    const JournalStore& journals() const { return m_journals; }

    // At launch: a journal whose update never reached the device (its copies were still being
    // made, or made) is closed and its copies dropped, as the device kept its data; one that
    // fails its checks is set aside. The newest open journal of an update that may have
    // written its device becomes the pending one, locked by this process.
    std::vector<SetAsideJournal> review();
    // The open journal a device in its boot loader or running its package would finish.
    std::optional<UpdateJournal> pending() const;

    // The running update's journal: created and locked before any copy is made.
    bool begin(UpdateJournal journal);
    // Takes the pending journal as the running update's, one more resume counted.
    std::optional<UpdateJournal> resume();
    // Advances the running journal; false when it could not be written.
    bool advance(JournalPhase phase, int image = 0);
    // The copies are made: their digests and the phase saved, in one write.
    bool saved(const std::vector<JournalFile>& files);
    // The running journal fails its own checks: it is set aside, never acted on again.
    SetAsideJournal setAside(const QString& why);
    // The running update's data is confirmed on its device: the journal goes.
    bool close();
    // The running update never touched its device: the journal and its copies go.
    bool abandon();
    // The running update ended with its journal open: a device with its signs finishes it.
    void keepPending();
    // Open journals whose copies are, digest for digest, the data the device holds now: that
    // data never left it, so they are closed and their copies dropped. Returns how many.
    int closeMatching(const std::vector<JournalFile>& onDevice);
    // Every open journal goes, its copies kept in the store; returns what went.
    std::vector<StoredJournal> discardAll();

private:
    bool dropCopies(const QString& entry) const;
    // This process no longer holds a journal.
    void release();
    bool closeStored(const StoredJournal& stored);

    mutable std::mutex m_lock;
    JournalStore m_journals;
    BackupStore m_backups;
    JournalAdoption m_adoption;
    std::optional<JournalLock> m_held; // the running or pending journal
    UpdateJournal m_journal;           // what m_held holds
    bool m_pending = false;            // m_held waits for its device
};
