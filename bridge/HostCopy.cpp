#include "bridge/HostCopy.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace hostcopy {

State inspect(const QString& path) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return State::Missing;
    if (S_ISREG(status.st_mode) && status.st_uid == ::geteuid())
        return State::Ours;
    return State::Foreign;
}

} // namespace hostcopy
