#include "workflow/Manifest.h"

#include <QList>

namespace package {

namespace {

const QByteArray kManifestHeader = "hotspot-package manifest 1";
constexpr qsizetype kSha256Hex = 64;
constexpr qsizetype kKeyIdHex = 16;
constexpr qsizetype kSignatureBytes = 64;

bool isLowerHex(const QByteArray& text, qsizetype length) {
    if (text.size() != length)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

// The lines of a text whose every line ends in LF; nullopt otherwise.
std::optional<QList<QByteArray>> linesOf(const QByteArray& bytes) {
    if (bytes.isEmpty() || !bytes.endsWith('\n'))
        return std::nullopt;
    QList<QByteArray> lines = bytes.chopped(1).split('\n');
    return lines;
}

// "<tag> <value>" with exactly one space after the tag.
std::optional<QByteArray> valueOf(const QByteArray& line, const QByteArray& tag) {
    if (!line.startsWith(tag + ' '))
        return std::nullopt;
    return line.mid(tag.size() + 1);
}

} // namespace

const ManifestImage* Manifest::find(const QString& file) const {
    for (const ManifestImage& image : images)
        if (image.file == file)
            return &image;
    return nullptr;
}

QByteArray formatManifest(const Manifest& manifest) {
    QByteArray out = kManifestHeader + '\n';
    out += "version " + manifest.versionSha256 + '\n';
    for (const ManifestImage& image : manifest.images)
        out += "image " + image.sha256 + ' ' + QByteArray::number(image.size) + ' ' + image.file.toUtf8() + '\n';
    return out;
}

std::optional<Manifest> parseManifest(const QByteArray& bytes) {
    const std::optional<QList<QByteArray>> lines = linesOf(bytes);
    if (!lines || lines->size() < 2 || lines->at(0) != kManifestHeader)
        return std::nullopt;
    Manifest manifest;
    const std::optional<QByteArray> version = valueOf(lines->at(1), "version");
    if (!version || !isLowerHex(*version, kSha256Hex))
        return std::nullopt;
    manifest.versionSha256 = *version;
    for (qsizetype i = 2; i < lines->size(); ++i) {
        const std::optional<QByteArray> rest = valueOf(lines->at(i), "image");
        if (!rest)
            return std::nullopt;
        // "<sha256> <size> <file>": the file name is the rest of the line and may hold spaces.
        const qsizetype afterDigest = rest->indexOf(' ');
        const qsizetype afterSize = rest->indexOf(' ', afterDigest + 1);
        if (afterDigest < 0 || afterSize < 0)
            return std::nullopt;
        ManifestImage image;
        image.sha256 = rest->left(afterDigest);
        const QByteArray size = rest->mid(afterDigest + 1, afterSize - afterDigest - 1);
        const QByteArray file = rest->mid(afterSize + 1);
        bool sizeOk = false;
        image.size = size.toLongLong(&sizeOk);
        image.file = QString::fromUtf8(file);
        if (!isLowerHex(image.sha256, kSha256Hex) || !sizeOk || image.size < 0 || file.isEmpty() ||
            file.contains('\0') || image.file.toUtf8() != file || manifest.find(image.file))
            return std::nullopt;
        manifest.images.push_back(std::move(image));
    }
    // Anything the writer would put differently (a "+", leading zeros) is not a manifest.
    if (formatManifest(manifest) != bytes)
        return std::nullopt;
    return manifest;
}

QByteArray formatSignature(const SignatureFile& signature) {
    return "key " + signature.keyId + "\nsignature " + signature.signature.toBase64() + '\n';
}

std::optional<SignatureFile> parseSignature(const QByteArray& bytes) {
    const std::optional<QList<QByteArray>> lines = linesOf(bytes);
    if (!lines || lines->size() != 2)
        return std::nullopt;
    const std::optional<QByteArray> keyId = valueOf(lines->at(0), "key");
    const std::optional<QByteArray> encoded = valueOf(lines->at(1), "signature");
    if (!keyId || !isLowerHex(*keyId, kKeyIdHex) || !encoded)
        return std::nullopt;
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(*encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != kSignatureBytes)
        return std::nullopt;
    SignatureFile signature{*keyId, decoded.decoded};
    if (formatSignature(signature) != bytes)
        return std::nullopt;
    return signature;
}

} // namespace package
