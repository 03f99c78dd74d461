#pragma once
// One updater per machine. Where the package made its folder (root's, shared with the group
// that may reach the hotspots, closed to everyone else, sticky) and the root-owned lock in it,
// the guard is a lock on that file: no other user can take it first, no member of the group
// can unlink, replace or redirect it, it holds across network namespaces, and the kernel frees
// it when its holder ends, however it ends (kill -9 included). A lock that is a link, missing,
// of another owner than the folder's or writable by others is an error naming it, never a
// fallback. A development build without that folder
// falls back to a listening socket in the abstract Unix namespace. Either way the holder
// listens on a socket (in the folder, one per user: the sticky folder keeps each user's
// socket from every other, or the abstract one) that a later start connects to, to learn who
// holds the guard; a window start of the same user asks the running window to come
// to the front.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <sys/types.h>

class QSocketNotifier;

class InstanceGuard : public QObject {
public:
    enum class Face { Window, Terminal };

    // The one name and folder of the shipped application; tests pass their own.
    static QByteArray defaultName();
    static QString defaultFolder();
    // The group the package gives the folder: the users who may run the updater.
    static QString group();

    explicit InstanceGuard(QByteArray name = defaultName(), QString folder = defaultFolder(),
                           QObject* parent = nullptr);
    ~InstanceGuard() override;
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    // True when this process holds the guard now (or already did). Answers callers from the
    // event loop from then on.
    bool take(Face face);
    bool held() const { return m_lock >= 0 || m_fd >= 0; }
    // After a failed take: whether another process holds the guard (rather than no socket at all).
    bool inUse() const { return m_inUse; }
    // After a failed take: the folder's lock is closed to this user (not in the group).
    bool denied() const { return m_denied; }
    // After a failed take: why the folder or its lock cannot be trusted, naming it; empty
    // when they can.
    const QString& broken() const { return m_broken; }
    const QByteArray& name() const { return m_name; }
    const QString& folder() const { return m_folder; }
    int socket() const { return m_fd; }
    int lock() const { return m_lock; }

    // What brings the running window to the front; without it a request is refused.
    void setRaise(std::function<void()> raise) { m_raise = std::move(raise); }

private:
    enum class Lock { Taken, Held, Denied, Absent, Broken };
    // The folder and the lock as the package made them; else why not.
    std::optional<QString> untrustedFolder() const;
    std::optional<QString> untrustedLock(int fd, const struct stat& folder) const;
    Lock takeLock();
    bool listen(bool inFolder);
    void accept();
    void answer(int connection, QSocketNotifier* notifier);

    QByteArray m_name;
    QString m_folder;
    Face m_face = Face::Terminal;
    QDateTime m_since;
    int m_fd = -1;
    int m_lock = -1;
    bool m_inUse = false;
    bool m_denied = false;
    QString m_broken;
    std::function<void()> m_raise;
};

// The updater that holds the guard, as seen by a start that was refused.
class RunningInstance {
public:
    // Connects to the holder of the guard; nullopt when nobody answers (any more).
    static std::optional<RunningInstance> find(const QByteArray& name = InstanceGuard::defaultName(),
                                               const QString& folder = InstanceGuard::defaultFolder());
    // A holder that does not answer at all: nothing known but that it is there.
    static RunningInstance unknown() { return RunningInstance(-1); }
    // Not a holder: this user may not take the machine's guard at all.
    static RunningInstance forbidden() {
        RunningInstance refused(-1);
        refused.m_forbidden = true;
        return refused;
    }
    bool isForbidden() const { return m_forbidden; }
    // Not a holder: the guard's folder or lock cannot be trusted (`why` names it).
    static RunningInstance broken(QString why) {
        RunningInstance refused(-1);
        refused.m_broken = std::move(why);
        return refused;
    }
    const QString& brokenGuard() const { return m_broken; }

    RunningInstance(RunningInstance&& other) noexcept;
    RunningInstance& operator=(RunningInstance&&) = delete;
    ~RunningInstance();

    uid_t uid() const { return m_uid; } // from the kernel, not from what the holder says
    QString user() const { return userName(m_uid); }
    static QString userName(uid_t uid);
    QDateTime since() const { return m_since; }
    InstanceGuard::Face face() const { return m_face; }
    // Asks the running window to come to the front; true once it says it did.
    bool askToRaise();

private:
    explicit RunningInstance(int fd) : m_fd(fd) {}
    // The holder listening at `owner`'s socket in `folder`, or at the abstract `name`.
    static std::optional<RunningInstance> connectTo(const QByteArray& name, const QString& folder,
                                                    std::optional<uid_t> owner);
    bool readGreeting();
    QDateTime processStart() const;

    int m_fd = -1;
    uid_t m_uid = uid_t(-1);
    pid_t m_pid = 0;
    QDateTime m_since;
    InstanceGuard::Face m_face = InstanceGuard::Face::Terminal;
    bool m_forbidden = false;
    QString m_broken;
};

// Takes the host-wide guard for `face`, before anything touches the device or the package:
// nullopt when this process holds it now, otherwise the updater that does (or `forbidden()`
// for a user outside the folder's group). Without any socket (a sandbox) `program` says on
// standard error that it cannot tell, and goes on.
std::optional<RunningInstance> takeGuard(InstanceGuard& guard, InstanceGuard::Face face,
                                         const char* program = "hotspot-updater");
