// hotspot-package install [--allow-missing] [--allow-downgrade] [--keys DIR] PKGDIR [BUNDLE]: puts a
// package into a bundle's resources. The package is checked as the application in that bundle
// checks it (with exactly its keys), copied into a staging folder beside the resources, checked
// again there, and only then moved in: the bundle holds the old package, no package, or the
// whole new one, never a part. It holds the one-per-machine guard meanwhile: no updater reads
// the package while it changes.

#include "Commands.h"
#include "bridge/InstanceGuard.h"
#include "bridge/DiskSync.h"
#include "workflow/Manifest.h"
#include "workflow/PackageReader.h"
#include "workflow/VersionCompare.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const QString kVersion = QStringLiteral("version");
const QString kStagingPrefix = QStringLiteral(".package-");

int usage(const QString& message) {
    QTextStream(stderr) << "hotspot-package install: " << message << "\n"
                        << "usage: hotspot-package install [--allow-missing] [--allow-downgrade] [--keys DIR] PKGDIR [BUNDLE]\n"
                        << "  BUNDLE defaults to the bundle this program belongs to.\n";
    return 2;
}

int fail(const QString& message) {
    QTextStream(stderr) << "hotspot-package install: " << message << "\n";
    return 1;
}

// The pieces of a package's version file; empty when it has no readable one.
QStringList versionPieces(const QString& folder) {
    const std::optional<QString> text = package::readVersionText(folder + QLatin1Char('/') + kVersion);
    const QStringList pieces = text ? package::cutPieces(*text) : QStringList();
    return pieces.size() >= package::kMinPieces ? pieces : QStringList();
}

// The image files the bundle's current package lists (none when it has no readable one).
QStringList currentPackageFiles(const QString& resources) {
    QStringList files;
    for (const ImageEntry& entry : package::readImageLines(versionPieces(resources)))
        files << QString::fromUtf8(entry.file);
    return files;
}

// Why the package would take the bundle back to an older firmware; empty when it would not
// (or the bundle has no package to compare with).
QString downgradeText(const QString& source, const QString& resources) {
    const QStringList fresh = versionPieces(source);
    const QStringList current = versionPieces(resources);
    if (fresh.isEmpty() || current.isEmpty())
        return {};
    const QString from = version::ofPackage(current.front());
    const QString to = version::ofPackage(fresh.front());
    if (version::compare(to, from) >= 0)
        return {};
    return QStringLiteral("the package's version %1 is older than the bundle's %2").arg(to, from);
}

struct Allowed {
    bool missing = false;
    bool downgrade = false;
};

// Why the image files would not be the bundle's to hold; empty when they would: never a file of
// the bundle itself (a tool, a string table, a picture).
QString foreignFile(const QStringList& files, const QString& resources, const QStringList& oldFiles) {
    for (const QString& file : files) {
        if (!package::isPlainImageName(file))
            return QStringLiteral("image file name '%1' is not a plain file name").arg(file);
        if (QFileInfo::exists(resources + QLatin1Char('/') + file) && !oldFiles.contains(file))
            return QStringLiteral("image file '%1' would replace a file of the bundle").arg(file);
    }
    return {};
}

// Why the package may not go into the bundle; empty when it may. First the application's
// check with the bundle's keys (its report on out), then that of --keys' keys too, the version
// order, the images it lacks and the bundle's own files (`oldFiles` are its package's).
QString refusal(const QString& source, const QString& resources, const QStringList& oldFiles,
                const package::TrustedKeys& keys, const std::optional<package::TrustedKeys>& given, Allowed allowed,
                QTextStream& out, PackageReport* report) {
    QTextStream err(stderr);
    out << "checking " << source << "\n";
    *report = checkPackageFolder(source, keys, out, err);
    if (!report->accepted)
        return QStringLiteral("the package is refused");
    if (given) {
        out << "checking " << source << " with the given keys too\n";
        QString discard;
        QTextStream quiet(&discard);
        if (!checkPackageFolder(source, *given, quiet, err).accepted)
            return QStringLiteral("the package is refused");
    }
    if (const QString older = downgradeText(source, resources); !older.isEmpty() && !allowed.downgrade)
        return older + QStringLiteral("; give --allow-downgrade to install it anyway");
    // The application would write only part of the firmware: only on request.
    if (!report->missingFiles.isEmpty() && !allowed.missing)
        return QStringLiteral("the package lacks %1 listed image(s) (%2); give --allow-missing to install it anyway")
            .arg(report->missingFiles.size())
            .arg(report->missingFiles.join(QStringLiteral(", ")));
    return foreignFile(report->presentFiles, resources, oldFiles);
}

// Copies a regular file of the package, never waiting on a FIFO or following a link.
bool copyPackageFile(const QString& from, const QString& to) {
    const package::RegularFile source = package::RegularFile::open(from);
    QFile in;
    QFile out(to);
    if (!source.isOpen() || !in.open(source.fd(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle) ||
        !out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    constexpr qint64 kChunk = 1 << 20;
    for (QByteArray chunk = in.read(kChunk); !chunk.isEmpty(); chunk = in.read(kChunk))
        if (out.write(chunk) != chunk.size())
            return false;
    return in.error() == QFileDevice::NoError && out.flush();
}

// rename(2): replaces the target in one step on the same file system.
bool moveInto(const QString& from, const QString& to, QString* error) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    *error = QStringLiteral("cannot move %1 to %2: %3").arg(from, to, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

// Staging folders of an install that was interrupted.
void removeStaleStaging(const QString& resources) {
    const QStringList stale = QDir(resources).entryList({kStagingPrefix + QLatin1Char('*')},
                                                        QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : stale)
        QDir(resources + QLatin1Char('/') + name).removeRecursively();
}

} // namespace

int runInstall(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption allowMissing(QStringLiteral("allow-missing"),
                                          QStringLiteral("Install a package that lacks some listed images."));
    const QCommandLineOption allowDowngrade(QStringLiteral("allow-downgrade"),
                                            QStringLiteral("Install a package older than the bundle's."));
    parser.addOption(allowMissing);
    parser.addOption(allowDowngrade);
    parser.addOption(keysOption());
    if (!parser.parse(QStringList{QStringLiteral("install")} + args))
        return usage(parser.errorText());
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty() || positional.size() > 2)
        return usage(QStringLiteral("give the package folder and, optionally, the bundle"));
    const QString source = positional.at(0);
    const QString bundle = positional.size() == 2 ? positional.at(1) : ownBundle();
    if (bundle.isEmpty())
        return usage(QStringLiteral("this program is not inside a bundle: give the bundle"));
    if (!QFileInfo(source).isDir())
        return usage(QStringLiteral("no folder %1").arg(source));
    const QString resources = QDir(bundle).filePath(QStringLiteral("Contents/Resources"));
    if (!QFileInfo(resources).isDir())
        return usage(QStringLiteral("%1 is not a bundle (no Contents/Resources)").arg(bundle));
    if (!QFileInfo(resources).isWritable())
        return fail(QStringLiteral("cannot write to %1 (an installed bundle needs sudo)").arg(resources));

    // The bundle's application judges with these keys alone: so does install. --keys adds a
    // check of its own and never lets in what the bundle's keys refuse.
    const bool keysGiven = parser.isSet(QStringLiteral("keys"));
    const std::optional<package::TrustedKeys> withGiven =
        keysGiven ? trustedKeys(parser, bundle) : std::optional<package::TrustedKeys>();
    if (keysGiven && !withGiven)
        return usage(QStringLiteral("no folder %1").arg(parser.value(QStringLiteral("keys"))));
    const package::TrustedKeys keys = loadKeys(installedKeys(bundle));

    // Held until this process ends: no updater starts and reads a package that is changing.
    InstanceGuard guard;
    if (const std::optional<RunningInstance> running =
            takeGuard(guard, InstanceGuard::Face::Terminal, "hotspot-package install")) {
        if (!running->brokenGuard().isEmpty())
            return fail(QStringLiteral("the updaters' guard cannot be trusted: %1; the bundle is unchanged")
                            .arg(running->brokenGuard()));
        if (running->isForbidden())
            return fail(QStringLiteral("this user may not take the updaters' guard in %1 (not in the group %2); "
                                       "the bundle is unchanged")
                            .arg(guard.folder(), InstanceGuard::group()));
        return fail(QStringLiteral("an updater is running on this machine (since %1, by %2); close it first; "
                                   "the bundle is unchanged")
                        .arg(running->since().toLocalTime().toString(QStringLiteral("HH:mm")), running->user()));
    }

    QTextStream out(stdout);
    PackageReport report;
    const Allowed allowed{parser.isSet(allowMissing), parser.isSet(allowDowngrade)};
    const QStringList oldFiles = currentPackageFiles(resources);
    QString refused = refusal(source, resources, oldFiles, keys, withGiven, allowed, out, &report);
    if (!refused.isEmpty())
        return fail(refused + QStringLiteral("; the bundle is unchanged"));

    removeStaleStaging(resources);
    QTemporaryDir staging(resources + QLatin1Char('/') + kStagingPrefix + QStringLiteral("XXXXXX"));
    if (!staging.isValid())
        return fail(QStringLiteral("cannot make a staging folder in %1: %2").arg(resources, staging.errorString()));
    for (const QString& file : report.presentFiles + report.signedFiles + QStringList{kVersion}) {
        const QString copy = staging.filePath(file);
        if (!copyPackageFile(QDir(source).filePath(file), copy) || !syncToDisk(copy))
            return fail(QStringLiteral("cannot copy %1 into %2 (disk full?); the bundle is unchanged").arg(file, resources));
        QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                        QFileDevice::ReadOther);
    }
    // What goes in is what was copied: the source may change after its check (another package
    // put in its place), so every check is made again on the copy, and the copy alone moves in.
    out << "checking the copy\n";
    QString discard;
    QTextStream quiet(&discard);
    PackageReport copied;
    refused = refusal(staging.path(), resources, oldFiles, keys, withGiven, allowed, quiet, &copied);
    if (refused.isEmpty() && (copied.presentFiles != report.presentFiles || copied.signedFiles != report.signedFiles))
        refused = QStringLiteral("the package changed while it was copied");
    if (!refused.isEmpty())
        return fail(QStringLiteral("the copy: %1; the bundle is unchanged").arg(refused));
    const QStringList& files = copied.presentFiles;
    const QStringList moved = files + copied.signedFiles; // every file but the version file

    // From here the old package is withdrawn first and the new version file comes last, so
    // an interruption leaves no package (the application says so) rather than a mixed one.
    QString error;
    const QString versionPath = resources + QLatin1Char('/') + kVersion;
    if (QFileInfo::exists(versionPath) && !QFile::remove(versionPath))
        return fail(QStringLiteral("cannot remove the old %1; the bundle is unchanged").arg(versionPath));
    // The old signature goes with the old package; the new one's arrives with its images.
    for (const QString& name : {package::kSignatureName, package::kManifestName})
        if (!copied.signedFiles.contains(name))
            QFile::remove(resources + QLatin1Char('/') + name);
    for (const QString& file : moved)
        if (!moveInto(staging.filePath(file), resources + QLatin1Char('/') + file, &error))
            return fail(error + QStringLiteral("; the bundle holds no package now: run the install again"));
    if (!moveInto(staging.filePath(kVersion), versionPath, &error))
        return fail(error + QStringLiteral("; the bundle holds no package now: run the install again"));
    syncToDisk(resources);

    for (const QString& old : oldFiles)
        if (!files.contains(old) && package::isPlainImageName(old))
            QFile::remove(resources + QLatin1Char('/') + old);
    out << "installed the package into " << resources << "\n";
    return 0;
}
