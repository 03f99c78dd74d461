#pragma once
// This user's update journals: one file per update in $XDG_STATE_HOME/hotspot-updater/journals
// (0700), replaced whole at each change and locked by the process working on it. A journal
// that fails any check is set aside under another name and never acted on.

#include "bridge/UpdateJournal.h"

#include <QString>
#include <optional>
#include <vector>

// An exclusive flock on one journal, held until destruction. The lock moves with the journal
// when the store replaces it, so no other process ever finds the journal unlocked.
class JournalLock {
public:
    JournalLock(JournalLock&& other) noexcept;
    JournalLock& operator=(JournalLock&& other) noexcept;
    JournalLock(const JournalLock&) = delete;
    JournalLock& operator=(const JournalLock&) = delete;
    ~JournalLock();

    const QString& path() const { return m_path; }

private:
    friend class JournalStore;
    JournalLock(QString path, int fd) : m_path(std::move(path)), m_fd(fd) {}
    void hold(int fd);

    QString m_path;
    int m_fd = -1;
};

// A journal that was not trusted: where it went (empty when it could not be moved) and why.
struct SetAsideJournal {
    QString from;
    QString to;
    QString why;
};

// One journal read back: the journal, or where it was set aside, or gone since it was listed.
struct JournalCheck {
    std::optional<UpdateJournal> journal;
    SetAsideJournal setAside;
    bool vanished = false;
};

struct StoredJournal {
    QString path;
    UpdateJournal journal;
};

struct JournalListing {
    std::vector<StoredJournal> open; // phase not done, oldest name first
    std::vector<SetAsideJournal> setAside;
};

class JournalStore {
public:
    static constexpr qint64 kMaxBytes = 1 << 20;

    explicit JournalStore(QString folder) : m_folder(std::move(folder)) {}
    const QString& folder() const { return m_folder; }

    // Writes a new journal and locks it; nullopt when the folder cannot be made or written.
    [[nodiscard]] std::optional<JournalLock> create(const UpdateJournal& journal) const;
    // Replaces the locked journal whole: temporary file, fsync, rename, fsync of the folder.
    [[nodiscard]] bool write(JournalLock& lock, const UpdateJournal& journal) const;
    // Locks a journal; nullopt when another open file holds it, or it is gone or replaced.
    static std::optional<JournalLock> lock(const QString& path);
    // Reads and checks one journal; one that is unreadable, malformed, not a regular file, or
    // another user's or writable by others is set aside as <name>.set-aside-<UTC time>.
    JournalCheck read(const QString& path) const;
    // Every journal not done; the ones that fail their checks are set aside.
    JournalListing list() const;
    // The record's attempt ids of the journals not done, read only (nothing set aside);
    // nullopt when a journal cannot be read: any could be the one that holds an attempt.
    std::optional<QStringList> openAttempts() const;
    // Renames a journal that must not be acted on to <name>.set-aside-<UTC time>.
    SetAsideJournal setAside(const QString& path, const QString& why) const;
    // Removes a finished journal. One that cannot be removed is written as done instead,
    // which the listing skips.
    [[nodiscard]] bool close(JournalLock lock, UpdateJournal journal) const;

private:
    bool ready() const;

    QString m_folder;
};
