#include "bridge/InstanceGuard.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>
#include <vector>

// What passes over a connection, one line each:
//   holder → caller on connect: "<window|terminal> <start, seconds since the epoch>"
//   caller → holder: "raise"; holder → caller: "raised" or "no".

namespace {

// How long a refused start waits for each answer: the holder answers from its event loop,
// and the whole refusal must stay well under two seconds.
constexpr int kAnswerMs = 700;

constexpr char kWindow[] = "window";
constexpr char kTerminal[] = "terminal";
constexpr char kRaise[] = "raise\n";
constexpr char kRaised[] = "raised";

constexpr char kLockFile[] = "/lock";
constexpr char kSocketFile[] = "/socket-";

socklen_t abstractAddress(const QByteArray& name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    // The leading NUL puts the name in the abstract namespace, out of the file system.
    const size_t length = std::min<size_t>(size_t(name.size()), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.constData(), length);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
}

// A user's socket in the guard's folder; 0 when its path does not fit an address.
socklen_t folderAddress(const QString& folder, uid_t uid, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(folder + QLatin1String(kSocketFile) + QString::number(uid));
    if (size_t(path.size()) >= sizeof address.sun_path)
        return 0;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()) + 1);
}

// The users whose sockets are in the guard's folder: one of them holds the guard.
std::vector<uid_t> socketOwners(const QString& folder) {
    std::vector<uid_t> owners;
    const QString prefix = QString::fromLatin1(kSocketFile).mid(1);
    for (const QString& name : QDir(folder).entryList({prefix + u'*'}, QDir::System | QDir::Hidden)) {
        bool ok = false;
        const uint uid = name.mid(prefix.size()).toUInt(&ok);
        if (ok)
            owners.push_back(uid_t(uid));
    }
    return owners;
}

void sendLine(int fd, const QByteArray& line) {
    // Short lines into a fresh socket's buffer; a caller that went away just misses them.
    [[maybe_unused]] const ssize_t n = ::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL);
}

// One line from `fd`, waiting at most `ms`; nullopt on time-out or end.
std::optional<QByteArray> readLine(int fd, int ms) {
    QByteArray line;
    const QDeadlineTimer deadline(ms);
    while (line.size() < 128) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(deadline.remainingTime())) <= 0)
            return std::nullopt;
        char c = 0;
        const ssize_t n = ::recv(fd, &c, 1, 0);
        if (n <= 0)
            return std::nullopt;
        if (c == '\n')
            return line;
        line.append(c);
    }
    return std::nullopt;
}

std::optional<ucred> peer(int fd) {
    ucred cred{};
    socklen_t length = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0)
        return std::nullopt;
    return cred;
}

} // namespace

QByteArray InstanceGuard::defaultName() {
    return QByteArrayLiteral("io.github.hotspotupdater.HotspotUpdater");
}

QString InstanceGuard::defaultFolder() {
    return QStringLiteral("/var/lib/hotspot-updater");
}

QString InstanceGuard::group() {
    return QStringLiteral("plugdev");
}

InstanceGuard::InstanceGuard(QByteArray name, QString folder, QObject* parent)
    : QObject(parent), m_name(std::move(name)), m_folder(std::move(folder)) {}

InstanceGuard::~InstanceGuard() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_lock >= 0)
        ::close(m_lock);
}

bool InstanceGuard::take(Face face) {
    if (held())
        return true;
    m_inUse = m_denied = false;
    m_broken.clear();
    m_face = face;
    switch (takeLock()) {
    case Lock::Broken:
        return false;
    case Lock::Held:
        m_inUse = true;
        return false;
    case Lock::Denied:
        m_denied = true;
        return false;
    case Lock::Taken:
        // Without its socket the lock still guards; later starts just learn less.
        listen(true);
        break;
    case Lock::Absent:
        if (!listen(false))
            return false;
        break;
    }
    m_since = QDateTime::currentDateTimeUtc();
    return true;
}

std::optional<QString> InstanceGuard::untrustedFolder() const {
    struct stat folder {};
    if (::lstat(QFile::encodeName(m_folder).constData(), &folder) != 0)
        return QStringLiteral("cannot read %1: %2").arg(m_folder, QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISDIR(folder.st_mode))
        return QStringLiteral("%1 is not a folder").arg(m_folder);
    // Without the sticky bit any member could unlink or replace the lock.
    if ((folder.st_mode & S_ISVTX) == 0 || (folder.st_mode & S_IWOTH) != 0)
        return QStringLiteral("%1 lets others replace its lock (mode %2): it must be sticky and closed to others "
                              "(chmod 3770 %1)")
            .arg(m_folder)
            .arg(folder.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return std::nullopt;
}

std::optional<QString> InstanceGuard::untrustedLock(int fd, const struct stat& folder) const {
    const QString path = m_folder + QLatin1String(kLockFile);
    struct stat lock {};
    if (::fstat(fd, &lock) != 0 || !S_ISREG(lock.st_mode))
        return QStringLiteral("%1 is not a regular file").arg(path);
    if (lock.st_uid != folder.st_uid)
        return QStringLiteral("%1 belongs to user %2, not to the folder's owner %3")
            .arg(path, RunningInstance::userName(lock.st_uid), RunningInstance::userName(folder.st_uid));
    if ((lock.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("%1 can be written by others (mode %2)").arg(path).arg(lock.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return std::nullopt;
}

InstanceGuard::Lock InstanceGuard::takeLock() {
    if (!QFileInfo(m_folder).exists())
        return Lock::Absent;
    if (const std::optional<QString> why = untrustedFolder()) {
        m_broken = *why;
        return Lock::Broken;
    }
    struct stat folder {};
    if (::stat(QFile::encodeName(m_folder).constData(), &folder) != 0)
        return Lock::Absent;
    // Read access is enough for flock; close-on-exec, so that an adb server started by us
    // does not keep the guard after we end. Never created here: the package makes it root's.
    const QString lockPath = m_folder + QLatin1String(kLockFile);
    const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM)
            return Lock::Denied;
        m_broken = errno == ELOOP ? QStringLiteral("%1 is a symbolic link").arg(lockPath)
                   : errno == ENOENT
                       ? QStringLiteral("%1 is missing (the package makes it)").arg(lockPath)
                       : QStringLiteral("cannot open %1: %2").arg(lockPath, QString::fromLocal8Bit(std::strerror(errno)));
        return Lock::Broken;
    }
    if (const std::optional<QString> why = untrustedLock(fd, folder)) {
        ::close(fd);
        m_broken = *why;
        return Lock::Broken;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return Lock::Held;
    }
    m_lock = fd;
    return Lock::Taken;
}

bool InstanceGuard::listen(bool inFolder) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    const socklen_t length = inFolder ? folderAddress(m_folder, ::geteuid(), address) : abstractAddress(m_name, address);
    // This user's socket left by a killed holder: ours to replace, since we hold the lock.
    if (inFolder && length > 0)
        ::unlink(address.sun_path);
    if (length == 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(fd, 8) != 0) {
        m_inUse = !inFolder && errno == EADDRINUSE;
        ::close(fd);
        return false;
    }
    // The group may ask who holds the guard; the folder keeps everyone else out.
    if (inFolder)
        ::chmod(address.sun_path, 0660);
    m_fd = fd;
    auto* notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { accept(); });
    return true;
}

void InstanceGuard::accept() {
    const int connection = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (connection < 0)
        return;
    sendLine(connection, QByteArray(m_face == Face::Window ? kWindow : kTerminal) + ' ' +
                             QByteArray::number(m_since.toSecsSinceEpoch()) + '\n');
    auto* notifier = new QSocketNotifier(connection, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, connection, notifier] { answer(connection, notifier); });
}

void InstanceGuard::answer(int connection, QSocketNotifier* notifier) {
    char request[16] = {};
    const ssize_t n = ::recv(connection, request, sizeof request - 1, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    // Only the same user's window start may bring this window to the front.
    const std::optional<ucred> caller = peer(connection);
    const bool raise = n > 0 && std::strcmp(request, kRaise) == 0 && m_raise && caller && caller->uid == ::getuid();
    if (raise)
        m_raise();
    if (n > 0)
        sendLine(connection, raise ? QByteArray(kRaised) + '\n' : QByteArrayLiteral("no\n"));
    notifier->setEnabled(false);
    notifier->deleteLater();
    ::close(connection);
}

std::optional<RunningInstance> RunningInstance::find(const QByteArray& name, const QString& folder) {
    if (!QFileInfo(folder).isDir())
        return connectTo(name, folder, std::nullopt);
    // The socket that answers; one that claims another user's name is no holder.
    for (const uid_t owner : socketOwners(folder))
        if (std::optional<RunningInstance> running = connectTo(name, folder, owner))
            return running;
    return std::nullopt;
}

std::optional<RunningInstance> RunningInstance::connectTo(const QByteArray& name, const QString& folder,
                                                          std::optional<uid_t> owner) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    // A holder whose queue is full (its event loop busy) gets a moment, not for ever.
    const timeval wait{0, kAnswerMs * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    sockaddr_un address{};
    const socklen_t length = owner ? folderAddress(folder, *owner, address) : abstractAddress(name, address);
    const std::optional<ucred> holder =
        length > 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 ? peer(fd) : std::nullopt;
    if (!holder || (owner && holder->uid != *owner)) {
        ::close(fd);
        return std::nullopt;
    }
    RunningInstance running(fd);
    running.m_uid = holder->uid;
    running.m_pid = holder->pid;
    if (!running.readGreeting())
        running.m_since = running.processStart();
    return running;
}

RunningInstance::RunningInstance(RunningInstance&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_uid(other.m_uid), m_pid(other.m_pid), m_since(other.m_since),
      m_face(other.m_face), m_forbidden(other.m_forbidden), m_broken(std::move(other.m_broken)) {}

RunningInstance::~RunningInstance() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RunningInstance::readGreeting() {
    const std::optional<QByteArray> line = readLine(m_fd, kAnswerMs);
    const QList<QByteArray> fields = line ? line->split(' ') : QList<QByteArray>();
    bool ok = false;
    const qint64 seconds = fields.size() == 2 ? fields[1].toLongLong(&ok) : 0;
    if (!ok || (fields[0] != kWindow && fields[0] != kTerminal))
        return false;
    m_face = fields[0] == kWindow ? InstanceGuard::Face::Window : InstanceGuard::Face::Terminal;
    m_since = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    return true;
}

// When the holder is too busy to greet: its start from /proc (boot time + start ticks).
QDateTime RunningInstance::processStart() const {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(m_pid));
    QFile system(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly) || !system.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    // Field 22 (start time in clock ticks after boot), counted after the command's ")".
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const qint64 ticks = fields.size() > 19 ? fields[19].toLongLong() : -1;
    for (const QByteArray& entry : system.readAll().split('\n')) {
        if (ticks >= 0 && entry.startsWith("btime "))
            return QDateTime::fromSecsSinceEpoch(entry.mid(6).trimmed().toLongLong() + ticks / ::sysconf(_SC_CLK_TCK),
                                                 Qt::UTC);
    }
    return {};
}

QString RunningInstance::userName(uid_t uid) {
    if (uid == uid_t(-1))
        return QStringLiteral("?");
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

bool RunningInstance::askToRaise() {
    if (m_fd < 0 || ::send(m_fd, kRaise, std::strlen(kRaise), MSG_NOSIGNAL) < 0)
        return false;
    const std::optional<QByteArray> reply = readLine(m_fd, kAnswerMs);
    return reply && *reply == kRaised;
}

std::optional<RunningInstance> takeGuard(InstanceGuard& guard, InstanceGuard::Face face, const char* program) {
    // A holder that ends between our try and our call frees the guard for a second try.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (guard.take(face))
            return std::nullopt;
        if (guard.denied())
            return RunningInstance::forbidden();
        if (!guard.broken().isEmpty())
            return RunningInstance::broken(guard.broken());
        if (!guard.inUse()) {
            // No socket for us at all (a sandbox): nothing to guard with; say so and go on.
            std::fprintf(stderr, "%s: cannot tell whether another updater is running\n", program);
            return std::nullopt;
        }
        if (std::optional<RunningInstance> running = RunningInstance::find(guard.name(), guard.folder()))
            return running;
    }
    return RunningInstance::unknown();
}
