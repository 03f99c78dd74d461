// hotspot-package keygen DIR and sign PKGDIR --key KEY: a package maker's key pair, and the
// manifest and its signature that let an installed program know who made a package.

#include "Commands.h"
#include "workflow/ImageHasher.h"
#include "workflow/Manifest.h"
#include "workflow/PackageKeys.h"
#include "workflow/SignedCheck.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace {

int usage(const QString& command, const QString& message) {
    QTextStream(stderr) << "hotspot-package " << command << ": " << message << "\n"
                        << "usage: hotspot-package keygen DIR\n"
                        << "       hotspot-package sign PKGDIR --key KEY\n";
    return 2;
}

int fail(const QString& message) {
    QTextStream(stderr) << "hotspot-package: " << message << "\n";
    return 1;
}

bool writeAtomically(const QString& path, const QByteArray& bytes, QString* error) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
}

// The manifest of a package the application takes whole: every walked image present, each
// read once for both digests.
std::optional<package::Manifest> manifestOf(const QString& dir, QString* error) {
    QString unreadable = QStringLiteral("cannot be read as text");
    const std::optional<QByteArray> bytes = package::readFileBytes(dir + QStringLiteral("/version"), -1, &unreadable);
    const std::optional<QString> text = bytes ? package::decodeText(*bytes) : std::nullopt;
    if (!text) {
        *error = QStringLiteral("%1/version %2").arg(dir, unreadable);
        return std::nullopt;
    }
    const std::vector<ImageEntry> entries = package::readImageLines(package::cutPieces(*text));
    const package::ImagesChecked checked = package::checkImages(dir, entries, 0, package::ImageHasher::Stop::AtFirstFailure, true);
    package::Manifest manifest;
    manifest.versionSha256 = package::sha256Hex(*bytes);
    for (std::size_t i = 0; i < checked.checks.size(); ++i) {
        const package::ImageCheck& check = checked.checks[i];
        const QString file = QString::fromUtf8(entries[i].file);
        if (check.verdict != package::ImageVerdict::Ok) {
            const QString verdict = QString::fromLatin1(package::verdictText(check.verdict));
            *error = QStringLiteral("image %1: %2 (run verify); a package is signed only when all its images are right")
                         .arg(file, check.why.isEmpty() ? verdict : verdict + QStringLiteral(", ") + check.why);
            return std::nullopt;
        }
        if (!manifest.find(file))
            manifest.images.push_back({file, check.actualSize, check.actualSha256});
    }
    if (checked.selection.total == 0) {
        *error = QStringLiteral("the package has no image with content");
        return std::nullopt;
    }
    return manifest;
}

} // namespace

int runKeygen(const QStringList& args) {
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-')))
        return usage(QStringLiteral("keygen"), QStringLiteral("give the folder for the key pair"));
    const QString dir = args.first();
    if (!QDir().mkpath(dir))
        return fail(QStringLiteral("cannot make the folder %1").arg(dir));
    QString error;
    const std::optional<QByteArray> id = package::generateKeyPair(dir, &error);
    if (!id)
        return fail(error);
    const QString base = QDir(dir).filePath(QString::fromLatin1(*id));
    QTextStream(stdout) << "key " << *id << "\n"
                        << "secret key: " << base << ".key (signs packages: keep it off the build machine)\n"
                        << "public key: " << base << ".pub (goes into the bundle's keys folder)\n";
    return 0;
}

int runSign(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption key(QStringLiteral("key"), QStringLiteral("The secret key file."), QStringLiteral("key"));
    parser.addOption(key);
    if (!parser.parse(QStringList{QStringLiteral("sign")} + args))
        return usage(QStringLiteral("sign"), parser.errorText());
    if (parser.positionalArguments().size() != 1 || !parser.isSet(key))
        return usage(QStringLiteral("sign"), QStringLiteral("give the package folder and --key"));
    const QString dir = parser.positionalArguments().first();
    if (!QFileInfo(dir).isDir())
        return usage(QStringLiteral("sign"), QStringLiteral("no folder %1").arg(dir));

    QString error;
    const std::optional<package::Manifest> manifest = manifestOf(dir, &error);
    if (!manifest)
        return fail(error);
    const QByteArray manifestBytes = package::formatManifest(*manifest);
    const std::optional<package::Signed> signature = package::signWithKeyFile(parser.value(key), manifestBytes, &error);
    if (!signature)
        return fail(error);
    // The signature last: until it is written, an old one does not match the new manifest.
    if (!writeAtomically(QDir(dir).filePath(package::kManifestName), manifestBytes, &error) ||
        !writeAtomically(QDir(dir).filePath(package::kSignatureName),
                         package::formatSignature({signature->keyId, signature->signature}), &error))
        return fail(error);
    QTextStream(stdout) << "signed " << manifest->images.size() << " image(s) of " << dir << " with key "
                        << signature->keyId << "\n";
    return 0;
}
