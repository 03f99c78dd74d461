#include "app/InstanceGuard.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
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

socklen_t abstractAddress(const QByteArray& name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    // The leading NUL puts the name in the abstract namespace, out of the file system.
    const size_t length = std::min<size_t>(size_t(name.size()), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.constData(), length);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
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

InstanceGuard::InstanceGuard(QByteArray name, QObject* parent) : QObject(parent), m_name(std::move(name)) {}

InstanceGuard::~InstanceGuard() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InstanceGuard::take(Face face) {
    if (m_fd >= 0)
        return true;
    // Close-on-exec: an adb server started by us must not keep the guard after we end.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    const socklen_t length = abstractAddress(m_name, address);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(fd, 8) != 0) {
        m_inUse = errno == EADDRINUSE;
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_face = face;
    m_since = QDateTime::currentDateTimeUtc();
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

std::optional<RunningInstance> RunningInstance::find(const QByteArray& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    // A holder whose queue is full (its event loop busy) gets a moment, not for ever.
    const timeval wait{0, kAnswerMs * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    sockaddr_un address{};
    const socklen_t length = abstractAddress(name, address);
    const std::optional<ucred> holder =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 ? peer(fd) : std::nullopt;
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
      m_face(other.m_face) {}

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

QString RunningInstance::user() const {
    if (m_uid == uid_t(-1))
        return QStringLiteral("?");
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(m_uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(m_uid);
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
        if (!guard.inUse()) {
            // No socket for us at all (a sandbox): nothing to guard with; say so and go on.
            std::fprintf(stderr, "%s: cannot tell whether another updater is running\n", program);
            return std::nullopt;
        }
        if (std::optional<RunningInstance> running = RunningInstance::find(guard.name()))
            return running;
    }
    return RunningInstance::unknown();
}
