#include "bridge/FreshCalibrations.h"

#include "bridge/PrivateFolder.h"
#include "bridge/RunLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::mutex FreshCalibrations::s_lock;

namespace {

constexpr qint64 kMaxBytes = 1 << 20;

// Only a private file of ours is believed: what it says decides whose data goes where.
QJsonObject readOwn(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat status {};
    QFile file;
    QJsonObject json;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
        (status.st_mode & (S_IWGRP | S_IWOTH)) == 0 && status.st_size <= kMaxBytes &&
        file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        json = QJsonDocument::fromJson(file.readAll()).object();
    ::close(fd);
    return json;
}

} // namespace

std::optional<QString> FreshCalibrations::find(const QString& packageDigest) const {
    std::lock_guard guard(s_lock);
    const QJsonValue digest = readOwn(m_file).value(packageDigest);
    if (packageDigest.isEmpty() || !digest.isString())
        return std::nullopt;
    return digest.toString();
}

bool FreshCalibrations::learn(const QString& packageDigest, const QString& calibrationDigest) {
    std::lock_guard guard(s_lock);
    QJsonObject json = readOwn(m_file);
    if (packageDigest.isEmpty() || json.value(packageDigest).toString() == calibrationDigest)
        return !packageDigest.isEmpty();
    json.insert(packageDigest, calibrationDigest);
    QSaveFile file(m_file);
    const QByteArray bytes = QJsonDocument(json).toJson();
    const QString folder = QFileInfo(m_file).path();
    const bool written = QDir().mkpath(folder) && ensurePrivateDir(folder) && file.open(QIODevice::WriteOnly) &&
                         file.write(bytes) == bytes.size() &&
                         file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) && file.commit();
    runlog::write("journal", written ? QStringLiteral("a unit written with package %1 holds calibration %2")
                                           .arg(packageDigest.left(12), calibrationDigest.left(12))
                                     : QStringLiteral("%1 could not be written").arg(m_file));
    return written;
}
