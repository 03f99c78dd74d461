#include "bridge/DiskSync.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

bool syncToDisk(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}
