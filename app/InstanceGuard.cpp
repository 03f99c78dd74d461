#include "app/InstanceGuard.h"

#include <QDeadlineTimer>
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
constexpr char kSocketFile[] = "/socket";

socklen_t abstractAddress(const QByteArray& name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    // The leading NUL puts the name in the abstract namespace, out of the file system.
    const size_t length = std::min<size_t>(size_t(name.size()), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.constData(), length);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
}

// The socket in the guard's folder; 0 when its path does not fit an address.
socklen_t folderAddress(const QString& folder, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(folder + QLatin1String(kSocketFile));
    if (size_t(path.size()) >= sizeof address.sun_path)
        return 0;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return socklen_t(offsetof(sockaddr_un, sun_path) + size_t(path.size()) + 1);
}

// Where the holder listens: the folder's socket when the guard is the folder's lock.
socklen_t guardAddress(const QByteArray& name, const QString& folder, sockaddr_un& address) {
    return QFileInfo(folder).isDir() ? folderAddress(folder, address) : abstractAddress(name, address);
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
    m_face = face;
    switch (takeLock()) {
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

InstanceGuard::Lock InstanceGuard::takeLock() {
    if (!QFileInfo(m_folder).isDir())
        return Lock::Absent;
    // Read access is enough for flock; close-on-exec, so that an adb server started by us
    // does not keep the guard after we end.
    const QByteArray path = QFile::encodeName(m_folder + QLatin1String(kLockFile));
    const int fd = ::open(path.constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0640);
    if (fd < 0)
        return errno == EACCES || errno == EPERM ? Lock::Denied : Lock::Absent;
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
    const socklen_t length = inFolder ? folderAddress(m_folder, address) : abstractAddress(m_name, address);
    // A socket left by a killed holder: ours to replace, since we hold the lock.
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
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    // A holder whose queue is full (its event loop busy) gets a moment, not for ever.
    const timeval wait{0, kAnswerMs * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    sockaddr_un address{};
    const socklen_t length = guardAddress(name, folder, address);
    const std::optional<ucred> holder =
        length > 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 ? peer(fd) : std::nullopt;
    if (!holder) {
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
      m_face(other.m_face), m_forbidden(other.m_forbidden) {}

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
