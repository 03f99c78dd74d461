#pragma once
// One updater per machine. The guard is a listening socket in the abstract Unix namespace:
// one name for every user of the host, no folder that must be writable, and the kernel frees
// it when its holder ends, however it ends (kill -9 included). A later start connects to it
// to learn who holds it; a window start of the same user asks the running window to come to
// the front.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <sys/types.h>

class QSocketNotifier;

class InstanceGuard : public QObject {
public:
    enum class Face { Window, Terminal };

    // The one name of the shipped application; tests pass names of their own.
    static QByteArray defaultName();

    explicit InstanceGuard(QByteArray name = defaultName(), QObject* parent = nullptr);
    ~InstanceGuard() override;
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    // True when this process holds the guard now (or already did). Answers callers from the
    // event loop from then on.
    bool take(Face face);
    bool held() const { return m_fd >= 0; }
    // After a failed take: whether another process holds the name (rather than no socket at all).
    bool inUse() const { return m_inUse; }
    const QByteArray& name() const { return m_name; }
    int socket() const { return m_fd; }

    // What brings the running window to the front; without it a request is refused.
    void setRaise(std::function<void()> raise) { m_raise = std::move(raise); }

private:
    void accept();
    void answer(int connection, QSocketNotifier* notifier);

    QByteArray m_name;
    Face m_face = Face::Terminal;
    QDateTime m_since;
    int m_fd = -1;
    bool m_inUse = false;
    std::function<void()> m_raise;
};

// The updater that holds the guard, as seen by a start that was refused.
class RunningInstance {
public:
    // Connects to the holder of `name`; nullopt when nobody holds it (any more).
    static std::optional<RunningInstance> find(const QByteArray& name = InstanceGuard::defaultName());
    // A holder that does not answer at all: nothing known but that it is there.
    static RunningInstance unknown() { return RunningInstance(-1); }

    RunningInstance(RunningInstance&& other) noexcept;
    RunningInstance& operator=(RunningInstance&&) = delete;
    ~RunningInstance();

    uid_t uid() const { return m_uid; } // from the kernel, not from what the holder says
    QString user() const;
    QDateTime since() const { return m_since; }
    InstanceGuard::Face face() const { return m_face; }
    // Asks the running window to come to the front; true once it says it did.
    bool askToRaise();

private:
    explicit RunningInstance(int fd) : m_fd(fd) {}
    bool readGreeting();
    QDateTime processStart() const;

    int m_fd = -1;
    uid_t m_uid = uid_t(-1);
    pid_t m_pid = 0;
    QDateTime m_since;
    InstanceGuard::Face m_face = InstanceGuard::Face::Terminal;
};

// Takes the host-wide guard for `face`, before anything touches the device or the package:
// nullopt when this process holds it now, otherwise the updater that does. Without any socket
// (a sandbox) `program` says on standard error that it cannot tell, and goes on.
std::optional<RunningInstance> takeGuard(InstanceGuard& guard, InstanceGuard::Face face,
                                         const char* program = "hotspot-updater");
