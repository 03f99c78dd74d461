#include "workflow/SignedCheck.h"

#include "workflow/Manifest.h"

#include <QCryptographicHash>
#include <QFile>

#include <sys/stat.h>

namespace package {

namespace {

// The signature files are small; a larger file is no signature file.
constexpr qint64 kMaxSignedFile = 1 << 20;

std::optional<QByteArray> readSmall(const QString& path, QString* error) {
    return readFileBytes(path, kMaxSignedFile + 1, error);
}

// Anything by that name, even a FIFO or a dangling link: the package says it is signed.
bool carries(const QString& dir, const QString& name) {
    struct stat status {};
    return ::lstat(QFile::encodeName(dir + u'/' + name).constData(), &status) == 0;
}

void refuse(PackageJudgement& judgement, SignatureState state, const QString& why) {
    judgement.signature = state;
    judgement.why = why;
}

// The manifest, when a trusted key signed it; else the judgement says why not.
std::optional<Manifest> signedManifest(const QString& dir, const TrustedKeys& keys, PackageJudgement& judgement) {
    for (const QString& name : {kSignatureName, kManifestName}) {
        if (!carries(dir, name)) {
            refuse(judgement, SignatureState::Missing, QStringLiteral("the package is not signed (no %1)").arg(name));
            return std::nullopt;
        }
    }
    QString sigError;
    QString manifestError;
    const std::optional<QByteArray> sigBytes = readSmall(dir + u'/' + kSignatureName, &sigError);
    const std::optional<QByteArray> manifestBytes = readSmall(dir + u'/' + kManifestName, &manifestError);
    if (!sigBytes || !manifestBytes) {
        refuse(judgement, SignatureState::Malformed,
               sigBytes ? QStringLiteral("%1 %2").arg(kManifestName, manifestError)
                        : QStringLiteral("%1 %2").arg(kSignatureName, sigError));
        return std::nullopt;
    }
    const std::optional<SignatureFile> signature = parseSignature(*sigBytes);
    if (!signature) {
        refuse(judgement, SignatureState::Malformed, QStringLiteral("%1 is not a signature").arg(kSignatureName));
        return std::nullopt;
    }
    judgement.keyId = signature->keyId;
    const PublicKey* key = keys.find(signature->keyId);
    if (!key) {
        refuse(judgement, SignatureState::UntrustedKey,
               QStringLiteral("signed by key %1, which is not trusted").arg(QString::fromLatin1(signature->keyId)));
        return std::nullopt;
    }
    if (!verifySignature(*key, *manifestBytes, signature->signature)) {
        refuse(judgement, SignatureState::BadSignature,
               QStringLiteral("the signature does not match the %1").arg(kManifestName));
        return std::nullopt;
    }
    std::optional<Manifest> manifest = parseManifest(*manifestBytes);
    if (!manifest)
        refuse(judgement, SignatureState::BadManifest, QStringLiteral("the signed %1 cannot be read").arg(kManifestName));
    else
        judgement.signature = SignatureState::Good;
    return manifest;
}

// Every walked image against its signed record, in table order; the first difference counts.
void compareImages(const Manifest& manifest, const std::vector<ImageEntry>& entries, PackageJudgement& judgement) {
    QStringList seen;
    for (std::size_t i = 0; i < judgement.checks.size(); ++i) {
        const ImageCheck& check = judgement.checks[i];
        const QString file = QString::fromUtf8(entries[i].file, qstrnlen(entries[i].file, sizeof entries[i].file));
        const ManifestImage* record = manifest.find(file);
        seen << file;
        if (check.verdict == ImageVerdict::Absent) {
            if (record) {
                refuse(judgement, SignatureState::ImageMissing, QStringLiteral("the signed image %1 is missing").arg(file));
                return;
            }
            continue;
        }
        if (check.verdict == ImageVerdict::Unreadable)
            continue; // refused by the image check itself
        if (!record || record->size != check.actualSize ||
            (check.verdict != ImageVerdict::SizeMismatch && record->sha256 != check.actualSha256)) {
            refuse(judgement, SignatureState::ImageChanged, QStringLiteral("the image %1 is not the signed one").arg(file));
            return;
        }
    }
    // A walk cut short by a bad image is refused anyway; a whole one covers every signed image.
    if (judgement.checks.size() < walkLength(entries))
        return;
    for (const ManifestImage& image : manifest.images)
        if (!seen.contains(image.file)) {
            refuse(judgement, SignatureState::ImageMissing,
                   QStringLiteral("the signed image %1 is not in the package").arg(image.file));
            return;
        }
}

} // namespace

QByteArray sha256Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

PackageJudgement checkPackage(const QString& resourcesDir, const QByteArray& versionBytes,
                              const std::vector<ImageEntry>& entries, const TrustedKeys& keys, int threads,
                              ImageHasher::Stop stop, const QString& copyDir) {
    PackageJudgement judgement;
    std::optional<Manifest> manifest;
    if (keys.empty() && (keys.required() || carries(resourcesDir, kSignatureName))) {
        refuse(judgement, SignatureState::NoTrustedKey,
               QStringLiteral("no trusted key could be read: %1").arg(keys.whyNone()));
    } else if (!keys.empty()) {
        manifest = signedManifest(resourcesDir, keys, judgement);
        if (manifest && manifest->versionSha256 != sha256Hex(versionBytes))
            refuse(judgement, SignatureState::VersionChanged, QStringLiteral("the version file is not the signed one"));
    }
    // A package refused already gets no copies: nothing of it will be written.
    ImagesChecked checked = checkImages(resourcesDir, entries, threads, stop, manifest.has_value(),
                                        judgement.signatureRefuses() ? QString() : copyDir);
    judgement.checks = std::move(checked.checks);
    judgement.selection = std::move(checked.selection);
    if (manifest && judgement.signature == SignatureState::Good)
        compareImages(*manifest, entries, judgement);
    if (judgement.signatureRefuses())
        judgement.selection = Selection{0, std::vector<bool>(entries.size(), false)};
    return judgement;
}

} // namespace package
