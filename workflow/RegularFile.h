#pragma once
// A package or key file opened for reading. The open never blocks (a FIFO or a device is
// refused at once instead of waiting for a writer), the descriptor is closed across exec,
// and by default a link in the last component is not followed. What is judged (fstat) is
// what is read: one descriptor for both.

#include <QByteArray>
#include <QString>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

namespace package {

class RegularFile {
public:
    enum class Links { Refuse, Follow };

    // `path` relative to the folder `dir` when it is not absolute (AT_FDCWD: the working one).
    [[nodiscard]] static RegularFile open(const QString& path, Links links = Links::Refuse, int dir = AT_FDCWD);

    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&&) = delete;
    RegularFile(const RegularFile&) = delete;
    ~RegularFile();

    bool isOpen() const { return m_fd >= 0; }
    // Nothing at all by that name.
    bool absent() const { return m_absent; }
    // Why it is not open, for messages: "does not exist", "is not a regular file (a FIFO)", ...
    const QString& error() const { return m_error; }
    int fd() const { return m_fd; }
    const struct stat& status() const { return m_status; }

    // The content from the start, at most `limit` bytes when limit >= 0.
    std::optional<QByteArray> readAll(qint64 limit = -1) const;

private:
    RegularFile() = default;

    int m_fd = -1;
    bool m_absent = false;
    QString m_error;
    struct stat m_status {};
};

// "is not a regular file (a FIFO)" and the like, for a file of that mode.
QString notRegularText(mode_t mode);

} // namespace package
