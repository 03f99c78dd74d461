#include "workflow/KeyFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace package {

QString writableByOthers(const QString& path, const struct stat& status, const std::vector<uid_t>& owners) {
    if (status.st_uid != 0 && std::find(owners.begin(), owners.end(), status.st_uid) == owners.end())
        return QStringLiteral("%1 belongs to uid %2, neither root nor the user").arg(path).arg(status.st_uid);
    if (status.st_mode & S_IWOTH)
        return QStringLiteral("%1 is writable by others").arg(path);
    if (status.st_mode & S_IWGRP)
        return QStringLiteral("%1 is writable by its group").arg(path);
    return {};
}

KeyFolder KeyFolder::open(const QString& folder, const std::vector<uid_t>& owners) {
    KeyFolder result;
    const QString real = QFileInfo(folder).canonicalFilePath();
    if (real.isEmpty()) {
        result.m_error = QStringLiteral("%1 cannot be opened: %2").arg(folder, QString::fromLocal8Bit(std::strerror(ENOENT)));
        return result;
    }
    int fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    QString path = QStringLiteral("/");
    if (fd < 0)
        result.m_error = QStringLiteral("/ cannot be opened");
    const QStringList steps = real.split(u'/', Qt::SkipEmptyParts);
    for (qsizetype i = 0; fd >= 0; ++i) {
        struct stat status {};
        if (::fstat(fd, &status) != 0) {
            result.m_error = QStringLiteral("%1 cannot be judged").arg(path);
            break;
        }
        const bool last = i == steps.size();
        // Above the key folder a sticky folder of root's is safe: nobody else may replace our entry.
        const bool stickyAbove = !last && status.st_uid == 0 && (status.st_mode & S_ISVTX);
        const QString why = writableByOthers(path, status, owners);
        if (!why.isEmpty() && !stickyAbove) {
            result.m_error = why;
            break;
        }
        if (last) {
            result.m_fd = std::exchange(fd, -1);
            return result;
        }
        const int next = ::openat(fd, QFile::encodeName(steps[i]).constData(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (next < 0)
            result.m_error = QStringLiteral("%1 cannot be opened without following a link: %2")
                                 .arg(QDir(path).filePath(steps[i]), QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        fd = next;
        path = QDir(path).filePath(steps[i]);
    }
    if (fd >= 0)
        ::close(fd);
    return result;
}

KeyFolder::KeyFolder(KeyFolder&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_error(std::move(other.m_error)) {}

KeyFolder::~KeyFolder() {
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace package
