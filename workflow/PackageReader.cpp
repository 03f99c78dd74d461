#include "workflow/PackageReader.h"
#include "workflow/Manifest.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>
#include <memory>
#include <openssl/evp.h>
#include <cstdlib>
#include <unistd.h>

namespace package {

QString versionFilePath(const QString& bundlePath) {
    return bundlePath + QStringLiteral("/Contents/Resources/version");
}

namespace {

QStringConverter::Encoding encodingFromBom(const QByteArray& b) {
    auto starts = [&b](std::initializer_list<unsigned char> bom) {
        if (b.size() < static_cast<qsizetype>(bom.size()))
            return false;
        qsizetype i = 0;
        for (unsigned char c : bom)
            if (static_cast<unsigned char>(b[i++]) != c)
                return false;
        return true;
    };
    // UTF-32 first: its little-endian mark begins like UTF-16's.
    if (starts({0xFF, 0xFE, 0x00, 0x00}))
        return QStringConverter::Utf32LE;
    if (starts({0x00, 0x00, 0xFE, 0xFF}))
        return QStringConverter::Utf32BE;
    if (starts({0xFF, 0xFE}))
        return QStringConverter::Utf16LE;
    if (starts({0xFE, 0xFF}))
        return QStringConverter::Utf16BE;
    return QStringConverter::Utf8; // its BOM, if any, is skipped by the decoder
}

} // namespace

std::optional<QString> decodeText(const QByteArray& bytes) {
    // Stateless: a sequence cut at the end of the file is an error, not left pending.
    QStringDecoder decoder(encodingFromBom(bytes), QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    // The UTF-16 decoder lets unpaired surrogates through: check them too.
    if (decoder.hasError() || !text.isValidUtf16())
        return std::nullopt;
    if (text.contains(QChar(u'\0')))
        return std::nullopt;
    return text;
}

std::optional<QByteArray> readFileBytes(const QString& path, qint64 limit, QString* error) {
    const RegularFile file = RegularFile::open(path);
    std::optional<QByteArray> bytes = file.readAll(limit);
    if (!bytes && error)
        *error = file.isOpen() ? QStringLiteral("cannot be read") : file.error();
    return bytes;
}

bool isPlainImageName(const QString& name) {
    return !name.isEmpty() && !name.contains(u'/') && !name.startsWith(u'.') && name != QStringLiteral("version") &&
           name != kManifestName && name != kSignatureName;
}

std::optional<QString> readVersionText(const QString& path) {
    const std::optional<QByteArray> bytes = readFileBytes(path);
    return bytes ? decodeText(*bytes) : std::nullopt;
}

QStringList cutPieces(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[\\r\\n]"));
    return text.split(separators, Qt::KeepEmptyParts);
}

std::vector<ImageLine> classifyImageLines(const QStringList& pieces) {
    std::vector<ImageLine> lines;
    std::size_t filled = 0;
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        ImageLine line;
        line.text = pieces[i];
        if (line.text.isEmpty()) {
            line.kind = LineKind::Blank;
        } else if (line.text.front() == u'#') {
            line.kind = LineKind::Comment;
        } else if (filled == static_cast<std::size_t>(kImageTableMaxFilled)) {
            line.kind = LineKind::TableFull;
        } else {
            const QStringList fields = line.text.split(u',', Qt::KeepEmptyParts);
            line.fields = static_cast<int>(fields.size());
            if (fields.size() != 4) {
                line.kind = LineKind::FieldCount;
            } else {
                line.kind = LineKind::Entry;
                copyField(line.entry.name, fields[0].toUtf8());
                copyField(line.entry.file, fields[1].toUtf8());
                // strtol with base 0: "0x200" is 512, "010" is 8, leading blanks allowed.
                line.entry.size =
                    static_cast<int64_t>(std::strtol(fields[2].toUtf8().constData(), nullptr, 0));
                copyField(line.entry.md5, fields[3].toUtf8());
                ++filled;
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<ImageEntry> readImageLines(const QStringList& pieces) {
    return entriesOf(classifyImageLines(pieces));
}

std::vector<ImageEntry> entriesOf(const std::vector<ImageLine>& lines) {
    std::vector<ImageEntry> entries;
    for (const ImageLine& line : lines)
        if (line.kind == LineKind::Entry)
            entries.push_back(line.entry);
    return entries;
}

std::size_t walkLength(const std::vector<ImageEntry>& entries) {
    std::size_t n = 0;
    while (n < entries.size() && entries[n].name[0] != '\0')
        ++n;
    return n;
}

Selection select(const std::vector<ImageEntry>& entries, const std::vector<ImageVerdict>& walkedVerdicts) {
    Selection s;
    s.verified.assign(entries.size(), false);
    const std::size_t walked = std::min(walkLength(entries), walkedVerdicts.size());
    for (std::size_t i = 0; i < walked; ++i) {
        if (refuses(walkedVerdicts[i]))
            return Selection{0, std::vector<bool>(entries.size(), false)};
        if (walkedVerdicts[i] == ImageVerdict::Ok) {
            s.verified[i] = true;
            s.total += static_cast<uint64_t>(entries[i].size);
        }
    }
    if (s.total == 0)
        s.verified.assign(entries.size(), false);
    return s;
}

QString imagePath(const QString& resourcesDir, const ImageEntry& entry) {
    return resourcesDir + u'/' + QString::fromUtf8(entry.file, qstrnlen(entry.file, sizeof entry.file));
}

namespace {

// The file's digests and, when `copyTo` is given, its bytes copied into that new file in the
// same read: what was hashed is what was copied. nullopt with `why` when either fails (no copy
// is left then).
std::optional<FileDigests> hashAndCopy(const RegularFile& file, bool withSha256, const QString& copyTo, QString* why) {
    QFile copy(copyTo);
    const bool copying = !copyTo.isEmpty();
    if (copying && !copy.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *why = QStringLiteral("cannot keep a private copy in %1: %2").arg(copyTo, copy.errorString());
        return std::nullopt;
    }
    std::optional<FileDigests> digests = fileDigests(file, withSha256, copying ? &copy : nullptr);
    if (digests && (!copying || copy.flush()))
        return digests;
    *why = copy.error() == QFileDevice::NoError
               ? QStringLiteral("cannot be read")
               : QStringLiteral("cannot keep a private copy in %1: %2").arg(copyTo, copy.errorString());
    if (copying)
        copy.remove();
    return std::nullopt;
}

} // namespace

ImageCheck checkImage(const QString& resourcesDir, const ImageEntry& entry, bool withSha256, const QString& copyTo) {
    ImageCheck check;
    check.path = imagePath(resourcesDir, entry);
    if (!isPlainImageName(QString::fromUtf8(entry.file, qstrnlen(entry.file, sizeof entry.file)))) {
        check.verdict = ImageVerdict::UnsafeName;
        check.why = QStringLiteral("not a plain file name of the package's folder");
        return check;
    }
    const RegularFile file = RegularFile::open(check.path);
    if (!file.isOpen()) {
        check.verdict = file.absent() ? ImageVerdict::Absent : ImageVerdict::Unreadable;
        check.why = file.error();
        return check;
    }
    check.actualSize = file.status().st_size;
    if (check.actualSize != entry.size) {
        check.verdict = ImageVerdict::SizeMismatch;
        return check;
    }
    const std::optional<FileDigests> digests = hashAndCopy(file, withSha256, copyTo, &check.why);
    if (!digests) {
        check.verdict = ImageVerdict::Unreadable;
        return check;
    }
    check.actualMd5 = digests->md5;
    check.actualSha256 = digests->sha256;
    const QString expected = QString::fromUtf8(entry.md5, qstrnlen(entry.md5, sizeof entry.md5));
    check.verdict = digests->md5.compare(expected, Qt::CaseInsensitive) == 0 ? ImageVerdict::Ok
                                                                             : ImageVerdict::Md5Mismatch;
    if (check.verdict == ImageVerdict::Ok)
        check.copy = copyTo;
    else if (!copyTo.isEmpty())
        QFile::remove(copyTo);
    return check;
}

std::optional<FileDigests> fileDigests(const QString& path, bool withSha256) {
    return fileDigests(RegularFile::open(path, RegularFile::Links::Follow), withSha256);
}

std::optional<FileDigests> fileDigests(const RegularFile& regular, bool withSha256, QIODevice* copy) {
    QFile file;
    if (!regular.isOpen() || ::lseek(regular.fd(), 0, SEEK_SET) != 0 ||
        !file.open(regular.fd(), QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle))
        return std::nullopt;
    using Context = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;
    Context md5(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    Context sha256(withSha256 ? EVP_MD_CTX_new() : nullptr, EVP_MD_CTX_free);
    if (!md5 || EVP_DigestInit_ex(md5.get(), EVP_md5(), nullptr) != 1 ||
        (withSha256 && (!sha256 || EVP_DigestInit_ex(sha256.get(), EVP_sha256(), nullptr) != 1)))
        return std::nullopt;
    // Large reads: the digest does not depend on the read size, the speed does.
    constexpr qint64 kChunk = 1 << 20;
    QByteArray buffer(kChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), kChunk);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        const auto size = static_cast<std::size_t>(n);
        if (EVP_DigestUpdate(md5.get(), buffer.constData(), size) != 1 ||
            (sha256 && EVP_DigestUpdate(sha256.get(), buffer.constData(), size) != 1) ||
            (copy && copy->write(buffer.constData(), n) != n))
            return std::nullopt;
    }
    auto hex = [](EVP_MD_CTX* context) -> std::optional<QByteArray> {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context, digest, &length) != 1)
            return std::nullopt;
        return QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length)).toHex();
    };
    const std::optional<QByteArray> md5Digest = hex(md5.get());
    const std::optional<QByteArray> sha256Digest = sha256 ? hex(sha256.get()) : QByteArray();
    if (!md5Digest || !sha256Digest)
        return std::nullopt;
    return FileDigests{QString::fromLatin1(*md5Digest), *sha256Digest};
}

std::optional<QString> md5Hex(const QString& path) {
    const std::optional<FileDigests> digests = fileDigests(path, false);
    return digests ? std::optional(digests->md5) : std::nullopt;
}

const char* verdictText(ImageVerdict verdict) {
    switch (verdict) {
    case ImageVerdict::Ok: return "ok";
    case ImageVerdict::Absent: return "missing";
    case ImageVerdict::SizeMismatch: return "size mismatch";
    case ImageVerdict::Unreadable: return "unreadable";
    case ImageVerdict::Md5Mismatch: return "MD5 mismatch";
    case ImageVerdict::UnsafeName: return "unsafe file name";
    }
    return "?";
}

} // namespace package
