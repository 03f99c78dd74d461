#include "workflow/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace package {

QString notRegularText(mode_t mode) {
    const char* kind = S_ISDIR(mode)                    ? "a folder"
                       : S_ISFIFO(mode)                 ? "a FIFO"
                       : S_ISSOCK(mode)                 ? "a socket"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                       : S_ISLNK(mode)                  ? "a symbolic link"
                                                        : "not a plain file";
    return QStringLiteral("is not a regular file (%1)").arg(QLatin1String(kind));
}

RegularFile RegularFile::open(const QString& path, Links links, int dir) {
    RegularFile file;
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer for ever.
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (links == Links::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::openat(dir, QFile::encodeName(path).constData(), flags);
    if (fd < 0) {
        file.m_absent = errno == ENOENT;
        file.m_error = errno == ELOOP && links == Links::Refuse ? QStringLiteral("is a symbolic link")
                       : errno == ENOENT                        ? QStringLiteral("does not exist")
                                                                : QString::fromLocal8Bit(std::strerror(errno));
        return file;
    }
    if (::fstat(fd, &file.m_status) != 0 || !S_ISREG(file.m_status.st_mode)) {
        file.m_error = notRegularText(file.m_status.st_mode);
        ::close(fd);
        return file;
    }
    file.m_fd = fd;
    return file;
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_absent(other.m_absent), m_error(std::move(other.m_error)),
      m_status(other.m_status) {}

RegularFile::~RegularFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<QByteArray> RegularFile::readAll(qint64 limit) const {
    QFile file;
    if (m_fd < 0 || ::lseek(m_fd, 0, SEEK_SET) != 0 ||
        !file.open(m_fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle))
        return std::nullopt;
    QByteArray bytes = limit < 0 ? file.readAll() : file.read(limit);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

} // namespace package
