#include "workflow/CheckedCopies.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace {

const QString kPrefix = QStringLiteral("hotspot-updater-images-");

// Folders of this user's processes that ended without removing theirs (killed): a package's
// worth of disk each.
void removeLeftovers() {
    const QDir temp(QDir::tempPath());
    for (const QFileInfo& info : temp.entryInfoList({kPrefix + QLatin1Char('*')}, QDir::Dirs | QDir::NoSymLinks)) {
        bool isNumber = false;
        const qint64 pid = info.fileName().mid(kPrefix.size()).section(u'-', 0, 0).toLongLong(&isNumber);
        if (isNumber && info.ownerId() == ::getuid() && !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)))
            QDir(info.filePath()).removeRecursively();
    }
}

// The process's folder, named after it, removed by its destructor when the process ends.
const QTemporaryDir* processFolder() {
    static const QTemporaryDir folder = [] {
        removeLeftovers();
        return QTemporaryDir(QDir::tempPath() + u'/' + kPrefix + QString::number(::getpid()) + QStringLiteral("-XXXXXX"));
    }();
    return folder.isValid() ? &folder : nullptr;
}

} // namespace

CheckedCopies::CheckedCopies(QTemporaryDir&& dir) : m_dir(std::move(dir)), m_path(m_dir.path()) {}

std::shared_ptr<const CheckedCopies> CheckedCopies::make() {
    const QTemporaryDir* parent = processFolder();
    if (!parent)
        return nullptr;
    // QTemporaryDir makes its folder 0700.
    QTemporaryDir dir(parent->filePath(QStringLiteral("check-XXXXXX")));
    if (!dir.isValid())
        return nullptr;
    return std::shared_ptr<const CheckedCopies>(new CheckedCopies(std::move(dir)));
}
