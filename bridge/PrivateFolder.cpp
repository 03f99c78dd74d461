#include "bridge/PrivateFolder.h"

#include "bridge/RunLog.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

bool ensurePrivateDir(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(native.constData(), &status) != 0)
        return ::mkdir(native.constData(), 0700) == 0;
    if (S_ISDIR(status.st_mode) && status.st_uid != ::geteuid()) {
        runlog::write("store",
                      QStringLiteral("%1 belongs to user %2, not to us: nothing is written there")
                          .arg(path)
                          .arg(status.st_uid));
        return false;
    }
    return S_ISDIR(status.st_mode) && ::chmod(native.constData(), 0700) == 0;
}
