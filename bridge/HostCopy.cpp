#include "bridge/HostCopy.h"

#include <QFile>

#include <cstdio>
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

bool install(const QString& pulled, const QString& fixed) {
    const QByteArray from = QFile::encodeName(pulled);
    struct stat status {};
    if (::lstat(from.constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    if (::chmod(from.constData(), 0600) != 0)
        return false;
    return std::rename(from.constData(), QFile::encodeName(fixed).constData()) == 0;
}

} // namespace hostcopy
