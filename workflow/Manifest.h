#pragma once
// The two files of a signed package: `manifest` (what was signed: the version file's SHA-256
// and every image's name, size and SHA-256) and `manifest.sig` (who signed it and the
// signature over the manifest's bytes). Text, one record a line, so a person can read them.

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace package {

inline const QString kManifestName = QStringLiteral("manifest");
inline const QString kSignatureName = QStringLiteral("manifest.sig");

struct ManifestImage {
    QString file;      // as the version file names it
    qint64 size = 0;
    QByteArray sha256; // 64 lowercase hex digits
};

struct Manifest {
    QByteArray versionSha256; // 64 lowercase hex digits
    std::vector<ManifestImage> images;

    const ManifestImage* find(const QString& file) const;
};

// One form only: a manifest reads back only when it is byte for byte what formatManifest
// writes, so a signed manifest has one meaning.
QByteArray formatManifest(const Manifest& manifest);
std::optional<Manifest> parseManifest(const QByteArray& bytes);

struct SignatureFile {
    QByteArray keyId;     // 16 lowercase hex digits
    QByteArray signature; // the raw 64 bytes of an Ed25519 signature
};

QByteArray formatSignature(const SignatureFile& signature);
std::optional<SignatureFile> parseSignature(const QByteArray& bytes);

} // namespace package
