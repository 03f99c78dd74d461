#include "workflow/JournalKeeper.h"

#include "bridge/Contract.h"
#include "bridge/RunLog.h"
#include "workflow/Messages.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

bool mayHaveWritten(JournalPhase phase) {
    return phase != JournalPhase::Saving && phase != JournalPhase::Saved;
}

// Journals whose update runs now, in any unit of this process: no other unit is theirs.
std::mutex s_runningLock;
QStringList s_running;

bool runningElsewhere(const QString& path) {
    std::lock_guard guard(s_runningLock);
    return s_running.contains(path);
}

void markRunning(const QString& path, bool running) {
    std::lock_guard guard(s_runningLock);
    if (running)
        s_running << path;
    else
        s_running.removeAll(path);
}

bool sameData(const std::vector<JournalFile>& saved, const std::vector<JournalFile>& onDevice) {
    return !saved.empty() && saved.size() == onDevice.size() &&
           std::is_permutation(saved.cbegin(), saved.cend(), onDevice.cbegin());
}

} // namespace

QString setAsideNotice(const SetAsideJournal& aside) {
    return messages::lookupFilled("info An update journal could not be trusted and was moved to %s",
                                  aside.to.isEmpty() ? aside.from : aside.to);
}

JournalKeeper::JournalKeeper(JournalStore journals, BackupStore backups, QString port)
    : m_journals(std::move(journals)), m_backups(std::move(backups)), m_port(std::move(port)),
      m_fresh(QFileInfo(m_journals.folder()).path() + QStringLiteral("/fresh-calibrations.json")) {}

std::vector<SetAsideJournal> JournalKeeper::review() {
    std::lock_guard guard(m_lock);
    JournalListing listing = m_journals.list();
    for (const StoredJournal& stored : listing.open) {
        if ((m_held && m_held->path() == stored.path) || mayHaveWritten(stored.journal.phase))
            continue;
        runlog::write("journal", QStringLiteral("%1: the update never reached its device; its copies stay in %2")
                                     .arg(stored.path, stored.journal.storeEntry));
        if (!closeStored(stored, false))
            runlog::write("journal", QStringLiteral("%1 could not be closed").arg(stored.path));
    }
    return std::move(listing.setAside);
}

std::vector<OpenJournal> JournalKeeper::openJournals(const QString& port) const {
    std::vector<OpenJournal> open;
    std::vector<StoredJournal> listed = m_journals.list().open;
    std::lock_guard guard(m_lock);
    // Newest first, the unit's own port's first of all: the journal asked about first.
    std::stable_sort(listed.begin(), listed.end(), [&port](const StoredJournal& a, const StoredJournal& b) {
        const bool aHere = !port.isEmpty() && a.journal.port == port;
        const bool bHere = !port.isEmpty() && b.journal.port == port;
        return aHere != bHere ? aHere : a.journal.changed > b.journal.changed;
    });
    for (const StoredJournal& stored : listed) {
        if (!mayHaveWritten(stored.journal.phase) || m_ruledOut.contains(port + u'\n' + stored.path))
            continue;
        const bool mine = m_held && m_held->path() == stored.path;
        if (mine ? !m_pending : runningElsewhere(stored.path))
            continue; // its update runs on a unit
        open.push_back({stored.path, stored.journal, calibrations(stored.journal), m_watched == stored.path});
    }
    return open;
}

bool JournalKeeper::anyOpen() const {
    const std::vector<StoredJournal> listed = m_journals.list().open;
    return std::any_of(listed.cbegin(), listed.cend(),
                       [](const StoredJournal& stored) { return mayHaveWritten(stored.journal.phase); });
}

bool JournalKeeper::adopt(const OpenJournal& open) {
    std::lock_guard guard(m_lock);
    if (!m_held || m_held->path() != open.path) {
        std::optional<JournalLock> lock = JournalStore::lock(open.path);
        if (!lock)
            return false;
        m_held = std::move(lock);
    }
    m_journal = open.journal;
    m_pending = true;
    return true;
}

std::optional<UpdateJournal> JournalKeeper::pending() const {
    std::lock_guard guard(m_lock);
    if (!m_pending)
        return std::nullopt;
    return m_journal;
}

JournalCalibrations JournalKeeper::calibrations(const UpdateJournal& journal) const {
    JournalCalibrations known;
    known.fresh = m_fresh.find(journal.versionSha256);
    const QString digest = savedCalibrationDigest(journal);
    QFile copy(journal.storeEntry + u'/' + QFileInfo(contract::kWifiBoardData).fileName());
    if (!digest.isEmpty() && BackupStore::sha256(copy.fileName()) == digest && copy.open(QIODevice::ReadOnly))
        known.saved = copy.readAll();
    return known;
}

QString JournalKeeper::path() const {
    std::lock_guard guard(m_lock);
    return m_held ? m_held->path() : QString();
}

void JournalKeeper::markAnotherUnit(const QString& port) {
    std::lock_guard guard(m_lock);
    if (!m_pending)
        return;
    m_ruledOut << port + u'\n' + m_held->path();
    release();
}

void JournalKeeper::unitDeparted() {
    std::lock_guard guard(m_lock);
    m_watched.clear();
    m_ruledOut.clear();
    if (m_pending)
        release();
}

QStringList JournalKeeper::namedEntries() const {
    QStringList named;
    for (const StoredJournal& stored : m_journals.list().open)
        named << stored.journal.storeEntry << stored.journal.foundEntries;
    std::lock_guard guard(m_lock);
    if (m_held)
        named << m_journal.storeEntry << m_journal.foundEntries;
    return named;
}

void JournalKeeper::learnFresh(const QString& packageDigest, const QString& calibration) {
    m_fresh.learn(packageDigest, calibration);
}

bool JournalKeeper::found(const QString& entry) {
    std::lock_guard guard(m_lock);
    if (!m_held)
        return false;
    m_journal.foundEntries << entry;
    m_journal.changed = QDateTime::currentDateTimeUtc();
    return m_journals.write(*m_held, m_journal);
}

bool JournalKeeper::leftByPush(const QString& calibration) {
    std::lock_guard guard(m_lock);
    if (!m_held)
        return false;
    // What every written unit holds marks no unit as this journal's.
    if (m_journal.afterPush.contains(calibration) || m_fresh.find(m_journal.versionSha256) == calibration)
        return true;
    m_journal.afterPush << calibration;
    m_journal.changed = QDateTime::currentDateTimeUtc();
    return m_journals.write(*m_held, m_journal);
}

bool JournalKeeper::begin(UpdateJournal journal) {
    std::lock_guard guard(m_lock);
    journal.created = journal.changed = QDateTime::currentDateTimeUtc();
    std::optional<JournalLock> lock = m_journals.create(journal);
    if (!lock)
        return false;
    // A pending journal of another update stays open in the store; only its lock goes.
    m_held = std::move(lock);
    m_journal = std::move(journal);
    m_pending = false;
    m_watched = m_held->path();
    markRunning(m_watched, true);
    runlog::write("journal", QStringLiteral("%1 opened").arg(m_held->path()));
    return true;
}

std::optional<UpdateJournal> JournalKeeper::resume() {
    std::lock_guard guard(m_lock);
    if (!m_pending)
        return std::nullopt;
    m_pending = false;
    ++m_journal.resumes;
    m_journal.changed = QDateTime::currentDateTimeUtc();
    if (!m_journals.write(*m_held, m_journal))
        return std::nullopt;
    m_watched = m_held->path();
    markRunning(m_watched, true);
    runlog::write("journal", QStringLiteral("%1 resumed (%2)").arg(m_held->path()).arg(m_journal.resumes));
    return m_journal;
}

bool JournalKeeper::advance(JournalPhase phase, int image) {
    std::lock_guard guard(m_lock);
    if (!m_held)
        return false;
    m_journal.phase = phase;
    m_journal.image = image;
    m_journal.changed = QDateTime::currentDateTimeUtc();
    return m_journals.write(*m_held, m_journal);
}

bool JournalKeeper::saved(const std::vector<JournalFile>& files) {
    std::lock_guard guard(m_lock);
    if (!m_held)
        return false;
    m_journal.files = files;
    m_journal.phase = JournalPhase::Saved;
    m_journal.changed = QDateTime::currentDateTimeUtc();
    return m_journals.write(*m_held, m_journal);
}

bool JournalKeeper::close() {
    std::lock_guard guard(m_lock);
    if (!m_held)
        return false;
    const QString path = m_held->path();
    const bool closed = m_journals.close(std::move(*m_held), m_journal);
    release();
    runlog::write("journal", QStringLiteral("%1 closed: the data is back on the device").arg(path));
    return closed;
}

SetAsideJournal JournalKeeper::setAside(const QString& why) {
    std::lock_guard guard(m_lock);
    if (!m_held)
        return {};
    const QString path = m_held->path();
    release();
    return m_journals.setAside(path, why);
}

bool JournalKeeper::abandon() {
    std::lock_guard guard(m_lock);
    if (!m_held)
        return false;
    runlog::write("journal", QStringLiteral("%1: the device was not touched").arg(m_held->path()));
    dropCopies(m_journal.storeEntry);
    const bool closed = m_journals.close(std::move(*m_held), m_journal);
    release();
    return closed;
}

void JournalKeeper::keepPending() {
    std::lock_guard guard(m_lock);
    // Free for whichever unit shows its evidence next, this one included; only a station's
    // detection sees its unit leave, the one device is reconnected by its user.
    release();
    if (m_port.isEmpty())
        m_watched.clear();
}

void JournalKeeper::letGo() {
    std::lock_guard guard(m_lock);
    release();
}

bool JournalKeeper::dropFound(const QString& entry) {
    runlog::write("journal", QStringLiteral("%1 went: it held what the writing left on the unit").arg(entry));
    return dropCopies(entry);
}

int JournalKeeper::closeMatching(const std::vector<JournalFile>& onDevice) {
    std::lock_guard guard(m_lock);
    int closed = 0;
    for (const StoredJournal& stored : m_journals.list().open) {
        if (m_held && m_held->path() == stored.path && !m_pending)
            continue; // the running update's own
        if (!sameData(stored.journal.files, onDevice))
            continue;
        if (m_held && m_held->path() == stored.path)
            release();
        runlog::write("journal", QStringLiteral("%1: its data is on the device").arg(stored.path));
        closed += closeStored(stored, true) ? 1 : 0;
    }
    return closed;
}

std::vector<StoredJournal> JournalKeeper::discardAll() {
    std::lock_guard guard(m_lock);
    release();
    std::vector<StoredJournal> discarded;
    for (const StoredJournal& stored : m_journals.list().open) {
        std::optional<JournalLock> lock = JournalStore::lock(stored.path);
        if (!lock || !m_journals.close(std::move(*lock), stored.journal))
            continue;
        runlog::write("journal", QStringLiteral("%1 discarded; its copies stay in %2").arg(stored.path, stored.journal.storeEntry));
        discarded.push_back(stored);
    }
    return discarded;
}

void JournalKeeper::release() {
    if (m_held && !m_pending)
        markRunning(m_held->path(), false);
    m_held.reset();
    m_pending = false;
}

// Only an entry of this store's, never a path the journal could point anywhere else.
bool JournalKeeper::dropCopies(const QString& entry) const {
    const QString root = QDir::cleanPath(m_backups.root());
    const QString clean = QDir::cleanPath(entry);
    if (root.isEmpty() || !clean.startsWith(root + u'/') || QFileInfo(clean).isSymLink())
        return false;
    return QDir(clean).removeRecursively();
}

bool JournalKeeper::closeStored(const StoredJournal& stored, bool dropTheCopies) {
    std::optional<JournalLock> lock = JournalStore::lock(stored.path);
    if (!lock)
        return false;
    if (dropTheCopies)
        dropCopies(stored.journal.storeEntry);
    return m_journals.close(std::move(*lock), stored.journal);
}
