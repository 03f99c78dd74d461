#pragma once
// A folder of trusted keys, opened only when nobody but root and its owners could have put a
// key there: every folder from "/" down to it belongs to root or to one of `owners` and no
// group or other user may write it (as careful SSH servers judge authorized keys). A folder
// above it that is sticky and root's (/tmp) counts: others may add to it but not rename or
// remove what is ours. The walk follows no link, so what was judged is what is read.

#include <QString>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace package {

class KeyFolder {
public:
    // `folder` with its links resolved first; each step below is then opened without following one.
    [[nodiscard]] static KeyFolder open(const QString& folder, const std::vector<uid_t>& owners);

    KeyFolder(KeyFolder&& other) noexcept;
    KeyFolder& operator=(KeyFolder&&) = delete;
    KeyFolder(const KeyFolder&) = delete;
    ~KeyFolder();

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // Why its keys cannot be trusted: "/opt/x/keys is writable by others".
    const QString& error() const { return m_error; }

private:
    KeyFolder() = default;
    int m_fd = -1;
    QString m_error;
};

// Why a file or folder of this status may be changed by someone not in `owners` (nor root);
// empty when it may not.
QString writableByOthers(const QString& path, const struct stat& status, const std::vector<uid_t>& owners);

} // namespace package
