#include "bridge/JournalStore.h"

#include "bridge/DiskSync.h"
#include "bridge/PrivateFolder.h"
#include "bridge/RunLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <mutex>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kSuffix = QStringLiteral(".json");

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

QString utcStamp(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

// Closes a descriptor at the end of a scope.
struct FileHandle {
    int fd;
    ~FileHandle() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Why an open journal must not be trusted; empty when it is a private file of ours.
QString ownershipFault(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return QStringLiteral("not a regular file");
    if (status.st_uid != ::geteuid())
        return QStringLiteral("it belongs to user %1").arg(status.st_uid);
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("others may change it");
    if (status.st_size > JournalStore::kMaxBytes)
        return QStringLiteral("%1 bytes is too large").arg(status.st_size);
    return {};
}

// The journal at `path`, or why it was refused. Never follows a link, never blocks on a pipe.
// A journal that is gone (another unit's keeper closed it since the listing) sets `vanished`.
JournalReading readTrusted(const QString& path, bool& vanished) {
    const FileHandle file{
        ::open(native(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    vanished = file.fd < 0 && errno == ENOENT;
    if (file.fd < 0)
        return {std::nullopt, errno == ELOOP
                                  ? QStringLiteral("a symbolic link")
                                  : QStringLiteral("cannot be read: %1")
                                        .arg(QString::fromLocal8Bit(std::strerror(errno)))};
    if (const QString fault = ownershipFault(file.fd); !fault.isEmpty())
        return {std::nullopt, fault};
    QFile reader;
    if (!reader.open(file.fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return {std::nullopt, QStringLiteral("cannot be read")};
    return parseJournal(reader.read(JournalStore::kMaxBytes + 1));
}

} // namespace

JournalLock::JournalLock(JournalLock&& other) noexcept
    : m_path(std::move(other.m_path)), m_fd(std::exchange(other.m_fd, -1)) {}

JournalLock& JournalLock::operator=(JournalLock&& other) noexcept {
    if (this != &other) {
        hold(std::exchange(other.m_fd, -1));
        m_path = std::move(other.m_path);
    }
    return *this;
}

JournalLock::~JournalLock() {
    hold(-1);
}

void JournalLock::hold(int fd) {
    if (m_fd >= 0)
        ::close(m_fd); // the last descriptor of its open file: the flock goes with it
    m_fd = fd;
}

bool JournalStore::ready() const {
    return QDir().mkpath(QFileInfo(m_folder).path()) && ensurePrivateDir(m_folder);
}

std::optional<JournalLock> JournalStore::create(const UpdateJournal& journal) const {
    if (!ready())
        return std::nullopt;
    // The process id keeps two instances that start in the same second apart, and the lock
    // two units of one station: the name is free from the look until the rename.
    static std::mutex naming;
    std::lock_guard guard(naming);
    const QString base =
        QStringLiteral("%1/update-%2-%3").arg(m_folder, utcStamp(journal.created)).arg(::getpid());
    for (int n = 0; n < 100; ++n) {
        const QString path = base + (n == 0 ? QString() : QStringLiteral("-%1").arg(n)) + kSuffix;
        struct stat status {};
        if (::lstat(native(path).constData(), &status) == 0)
            continue;
        JournalLock lock(path, -1);
        if (!write(lock, journal))
            return std::nullopt;
        return lock;
    }
    return std::nullopt;
}

bool JournalStore::write(JournalLock& lock, const UpdateJournal& journal) const {
    QSaveFile file(lock.path());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The new file is locked before it takes the journal's name; the descriptor outlives the
    // QSaveFile, so the lock stays once the old file is gone.
    FileHandle locked{::fcntl(file.handle(), F_DUPFD_CLOEXEC, 0)};
    if (locked.fd < 0 || ::flock(locked.fd, LOCK_EX | LOCK_NB) != 0) {
        file.cancelWriting();
        return false;
    }
    const QByteArray bytes = journal.toJson();
    if (file.write(bytes) != bytes.size() ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        !file.commit()) // fsync, then rename
        return false;
    lock.hold(std::exchange(locked.fd, -1));
    return syncToDisk(m_folder);
}

std::optional<JournalLock> JournalStore::lock(const QString& path) {
    FileHandle file{
        ::open(native(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0 || ::flock(file.fd, LOCK_EX | LOCK_NB) != 0)
        return std::nullopt;
    // The file we locked may have been replaced or closed before the lock was ours.
    struct stat locked {
    }, named{};
    if (::fstat(file.fd, &locked) != 0 || ::lstat(native(path).constData(), &named) != 0 ||
        locked.st_dev != named.st_dev || locked.st_ino != named.st_ino)
        return std::nullopt;
    return JournalLock(path, std::exchange(file.fd, -1));
}

JournalCheck JournalStore::read(const QString& path) const {
    bool vanished = false;
    JournalReading reading = readTrusted(path, vanished);
    if (reading.journal)
        return {std::move(reading.journal), {}};
    if (vanished)
        return {std::nullopt, {}, true};
    return {std::nullopt, setAside(path, reading.error)};
}

SetAsideJournal JournalStore::setAside(const QString& path, const QString& why) const {
    const QString base =
        path + QStringLiteral(".set-aside-") + utcStamp(QDateTime::currentDateTimeUtc());
    QString target = base;
    struct stat status {};
    for (int n = 1; n < 100 && ::lstat(native(target).constData(), &status) == 0; ++n)
        target = base + QStringLiteral("-%1").arg(n);
    // rename moves a link itself, never what it points to.
    if (::rename(native(path).constData(), native(target).constData()) != 0 ||
        !syncToDisk(m_folder)) {
        runlog::write(
            "journal",
            QStringLiteral("%1 is not trusted (%2) and could not be set aside").arg(path, why));
        return {path, {}, why};
    }
    runlog::write("journal",
                  QStringLiteral("%1 is not trusted (%2): set aside as %3").arg(path, why, target));
    return {path, target, why};
}

JournalListing JournalStore::list() const {
    JournalListing listing;
    if (!ready())
        return listing;
    const QDir dir(m_folder);
    const QStringList names = dir.entryList(
        {QLatin1Char('*') + kSuffix},
        QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        JournalCheck check = read(dir.filePath(name));
        if (check.vanished)
            continue;
        if (!check.journal)
            listing.setAside.push_back(std::move(check.setAside));
        else if (check.journal->phase != JournalPhase::Done)
            listing.open.push_back({dir.filePath(name), std::move(*check.journal)});
    }
    return listing;
}

std::optional<QStringList> JournalStore::openAttempts() const {
    QStringList ids;
    const QDir dir(m_folder);
    const QStringList names = dir.entryList({QLatin1Char('*') + kSuffix},
                                            QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool vanished = false;
        const JournalReading reading = readTrusted(dir.filePath(name), vanished);
        if (vanished)
            continue;
        if (!reading.journal)
            return std::nullopt;
        if (reading.journal->phase != JournalPhase::Done)
            ids << reading.journal->attempt;
    }
    return ids;
}

bool JournalStore::close(JournalLock lock, UpdateJournal journal) const {
    if (::unlink(native(lock.path()).constData()) == 0)
        return syncToDisk(m_folder);
    journal.phase = JournalPhase::Done;
    return write(lock, journal);
}
