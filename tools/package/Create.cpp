// hotspot-package create DIR --version TEXT [--image PARTITION=FILE ...]

#include "Commands.h"
#include "PackageWriter.h"
#include "workflow/PackageReader.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace {

int usage(const QString& message)
{
    QTextStream(stderr) << "hotspot-package create: " << message << "\n"
                        << "usage: hotspot-package create DIR --version TEXT [--image PARTITION=FILE ...]\n";
    return 2;
}

// An image given by a path (a folder, "..", or absolute) is copied in under its own name: the
// version file names only plain file names of the package's folder.
bool bringIntoFolder(const QString& dir, PackageImage* image, QString* error)
{
    const QFileInfo inside(QDir(dir).filePath(image->file));
    if (inside.isFile() && package::isPlainImageName(image->file))
        return true;
    const QFileInfo given(image->file);
    if (!given.isFile()) {
        *error = QStringLiteral("no image file %1").arg(image->file);
        return false;
    }
    const QString target = QDir(dir).filePath(given.fileName());
    if (given.canonicalFilePath() != QFileInfo(target).canonicalFilePath()) {
        QFile::remove(target);
        if (!QFile::copy(given.filePath(), target)) {
            *error = QStringLiteral("cannot copy %1 into %2").arg(given.filePath(), dir);
            return false;
        }
    }
    image->file = given.fileName();
    return true;
}

} // namespace

int runCreate(const QStringList& args)
{
    QCommandLineParser parser;
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Version line."), QStringLiteral("text"));
    const QCommandLineOption image(QStringLiteral("image"), QStringLiteral("Partition and image file, in flashing order."),
                                   QStringLiteral("partition=file"));
    parser.addOptions({version, image});
    parser.addPositionalArgument(QStringLiteral("dir"), QStringLiteral("Package folder."));
    if (!parser.parse(QStringList{QStringLiteral("create")} + args))
        return usage(parser.errorText());
    if (parser.positionalArguments().size() != 1)
        return usage(QStringLiteral("give exactly one package folder"));
    if (!parser.isSet(version))
        return usage(QStringLiteral("--version is required"));
    const QString dir = parser.positionalArguments().first();
    if (!QFileInfo(dir).isDir())
        return usage(QStringLiteral("no folder %1").arg(dir));

    QList<PackageImage> images;
    for (const QString& pair : parser.values(image)) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return usage(QStringLiteral("--image wants PARTITION=FILE, not '%1'").arg(pair));
        PackageImage entry{pair.left(eq), pair.mid(eq + 1)};
        QString error;
        if (!bringIntoFolder(dir, &entry, &error))
            return usage(error);
        images.append(entry);
    }
    if (images.isEmpty())
        images = imagesInFolder(dir);

    const PackageResult result = writePackage(dir, parser.value(version), images);
    if (!result.ok) {
        QTextStream(stderr) << "hotspot-package create: " << result.error << "\n";
        return 1;
    }
    QTextStream(stdout) << "wrote " << QDir(dir).filePath(QStringLiteral("version")) << " with "
                        << images.size() << " images\n";
    return 0;
}
