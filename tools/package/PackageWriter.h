#pragma once
// Writes a package's version file: the version line, then one "partition,file,size,md5"
// line per image, in flashing order.

#include <QList>
#include <QString>

struct PackageImage {
    QString partition;
    QString file; // relative to the package folder
};

struct PackageResult {
    bool ok = false;
    QString error;
};

// Checks names and files, digests every image and writes DIR/version atomically.
PackageResult writePackage(const QString& dir, const QString& version, const QList<PackageImage>& images);

// Every regular file of dir except "version", sorted by name; the partition is the name
// without its extension.
QList<PackageImage> imagesInFolder(const QString& dir);
