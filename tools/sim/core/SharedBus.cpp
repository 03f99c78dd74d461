#include "core/SharedBus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace sim {

namespace {

// Often enough that a share follows the others within a tenth of a second.
constexpr double kSliceSeconds = 0.075;
constexpr const char* kSuffix = ".transfer";

int lockedFile(const QString& path, int lockMode)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    while (::flock(fd, lockMode) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

// This tool's entry: locked under a private name first, so no reader ever finds it unlocked.
class Entry {
public:
    explicit Entry(const QString& folder)
    {
        QDir().mkpath(folder);
        const QString stem = QStringLiteral("%1/%2").arg(folder).arg(::getpid());
        const QString joining = stem + QStringLiteral(".joining");
        m_fd = lockedFile(joining, LOCK_EX);
        m_path = stem + QLatin1String(kSuffix);
        if (m_fd >= 0 && ::rename(QFile::encodeName(joining).constData(), QFile::encodeName(m_path).constData()) != 0) {
            ::unlink(QFile::encodeName(joining).constData());
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Entry()
    {
        if (m_fd < 0)
            return;
        ::unlink(QFile::encodeName(m_path).constData()); // gone before the lock is
        ::close(m_fd);
    }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace

SharedBus::SharedBus(const QString& stateDir, double megabytesPerSecond)
    : m_folder(QDir(stateDir).filePath(QString::fromLatin1(kBusTransfersDir))),
      m_bytesPerSecond(megabytesPerSecond * 1e6)
{
}

int SharedBus::activeTransfers() const
{
    int active = 0;
    const QDir folder(m_folder);
    for (const QString& name : folder.entryList({QLatin1String("*") + QLatin1String(kSuffix)}, QDir::Files)) {
        const QString path = folder.filePath(name);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(QFile::encodeName(path).constData()); // its tool is gone
        else
            ++active;
        ::close(fd);
    }
    return active;
}

void SharedBus::transfer(qint64 bytes) const
{
    if (m_bytesPerSecond <= 0 || bytes <= 0)
        return;
    const Entry entry(m_folder);
    double left = double(bytes);
    QElapsedTimer clock;
    clock.start();
    while (left > 0) {
        const double share = m_bytesPerSecond / std::max(1, activeTransfers());
        const qint64 before = clock.nsecsElapsed();
        QThread::usleep(static_cast<unsigned long>(std::min(kSliceSeconds, left / share) * 1e6) + 1);
        // What passed, not what was asked: an oversleep moves bytes too.
        left -= share * double(clock.nsecsElapsed() - before) / 1e9;
    }
}

} // namespace sim
