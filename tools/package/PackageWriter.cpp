#include "PackageWriter.h"
#include "workflow/Manifest.h"
#include "workflow/PackageReader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// Limits of the application's image table.
constexpr int kMaxImages = 32;
constexpr int kMaxPartition = 31;
constexpr int kMaxFile = 1023;
constexpr int kMaxVersion = 255;

bool plainField(const QString& text)
{
    return !text.isEmpty() && !text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r'));
}

QString checkImage(const PackageImage& image)
{
    if (!plainField(image.partition) || image.partition.startsWith(QLatin1Char('#'))
        || image.partition.toUtf8().size() > kMaxPartition)
        return QStringLiteral("bad partition name '%1' (1 to %2 bytes, no comma or line end)")
            .arg(image.partition).arg(kMaxPartition);
    if (!plainField(image.file) || image.file.toUtf8().size() > kMaxFile)
        return QStringLiteral("bad file name '%1'").arg(image.file);
    if (!package::isPlainImageName(image.file))
        return QStringLiteral("image file name '%1' is not a plain file name of the package's folder").arg(image.file);
    return {};
}

} // namespace

PackageResult writePackage(const QString& dir, const QString& version, const QList<PackageImage>& images)
{
    PackageResult result;
    const QString line = version.trimmed();
    if (line.isEmpty() || line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r'))
        || line.toUtf8().size() > kMaxVersion) {
        result.error = QStringLiteral("the version must be one line of 1 to %1 bytes").arg(kMaxVersion);
        return result;
    }
    if (images.isEmpty() || images.size() > kMaxImages) {
        result.error = QStringLiteral("a package holds 1 to %1 images").arg(kMaxImages);
        return result;
    }
    QByteArray text = line.toUtf8() + '\n';
    for (const PackageImage& image : images) {
        if (const QString bad = checkImage(image); !bad.isEmpty()) {
            result.error = bad;
            return result;
        }
        const QString path = QDir(dir).filePath(image.file);
        const package::RegularFile regular = package::RegularFile::open(path);
        QFile file;
        if (!regular.isOpen() || !file.open(regular.fd(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
            result.error = QStringLiteral("cannot read %1: %2").arg(path, regular.isOpen() ? file.errorString() : regular.error());
            return result;
        }
        QCryptographicHash md5(QCryptographicHash::Md5);
        if (!md5.addData(&file)) {
            result.error = QStringLiteral("cannot read %1").arg(path);
            return result;
        }
        text += QStringLiteral("%1,%2,%3,%4\n")
                    .arg(image.partition, image.file)
                    .arg(file.size())
                    .arg(QString::fromLatin1(md5.result().toHex()))
                    .toUtf8();
    }
    QSaveFile out(QDir(dir).filePath(QStringLiteral("version")));
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit()) {
        result.error = QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString());
        return result;
    }
    result.ok = true;
    return result;
}

QList<PackageImage> imagesInFolder(const QString& dir)
{
    QList<PackageImage> images;
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& info : entries) {
        // The package's own files are no images.
        if (info.fileName() == QLatin1String("version") || info.fileName() == package::kManifestName ||
            info.fileName() == package::kSignatureName)
            continue;
        images.append({info.completeBaseName(), info.fileName()});
    }
    return images;
}
