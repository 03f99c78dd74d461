#pragma once
// Reading and checking the firmware package: the `version` file and the images it lists.
// Shared by the application's start-up check and `hotspot-package verify`, so it knows
// nothing of the controller.

#include "workflow/ImageTable.h"
#include "workflow/RegularFile.h"

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace package {

// The `version` file's place below the bundle.
QString versionFilePath(const QString& bundlePath);

// Decodes the file's bytes as text: UTF-8 (with or without BOM, so ASCII too) or, with
// their BOM, UTF-16 and UTF-32 in either byte order. nullopt when the bytes are not valid
// in that encoding or hold a NUL character: such a file is not a text file.
std::optional<QString> decodeText(const QByteArray& bytes);

// A package file read whole (at most `limit` bytes when limit >= 0); nullopt, with `error`
// saying why when given, unless it is a regular file (not a link, FIFO or device) that reads.
std::optional<QByteArray> readFileBytes(const QString& path, qint64 limit = -1, QString* error = nullptr);
// The file read whole and decoded; nullopt when it cannot be read or decoded.
std::optional<QString> readVersionText(const QString& path);

// Pieces of the text cut at every CR and every LF, empty pieces kept (they count for the
// "at least two pieces" rule; the image lines skip them).
QStringList cutPieces(const QString& text);

// Fewer than two pieces: the file has no line end at all.
constexpr qsizetype kMinPieces = 2;

// Bounded copy of `utf8` into a field of N bytes, always NUL-terminated, rest zeroed.
template <std::size_t N>
void copyField(char (&dest)[N], const QByteArray& utf8);

// What reading makes of one piece after the version line.
enum class LineKind {
    Blank,      // empty piece (also the one between CR and LF)
    Comment,    // first character "#"
    FieldCount, // not exactly four comma-separated fields
    Entry,      // fills the next table entry
    TableFull,  // an image line after the table's last entry
};

struct ImageLine {
    QString text;
    LineKind kind = LineKind::Blank;
    int fields = 0;     // comma-separated fields, for FieldCount
    ImageEntry entry{}; // for Entry
};

// Every piece after the version line, classified in order.
std::vector<ImageLine> classifyImageLines(const QStringList& pieces);

// The image lines of pieces 1.. as table entries: exactly four comma-separated fields,
// not trimmed, at most kImageTableMaxFilled entries. Comments and empty pieces skipped.
std::vector<ImageEntry> readImageLines(const QStringList& pieces);
// The same from lines already classified.
std::vector<ImageEntry> entriesOf(const std::vector<ImageLine>& lines);

// The check's walk covers the entries before the first one without a partition name;
// later entries are neither checked nor written.
std::size_t walkLength(const std::vector<ImageEntry>& entries);

// Result of checking one listed image against its file.
enum class ImageVerdict {
    Ok,
    Absent,       // no file: skipped, not a failure
    SizeMismatch, // present with another size
    Unreadable,   // present but cannot be read (or is not a regular file)
    Md5Mismatch,  // read, but the digest differs (letter case ignored)
    UnsafeName,   // a folder in the name, "..", an absolute path, or one of the package's own files
};

// An image name a version file may give: a plain file name of the package's folder, not one
// of the package's own files. A name that could reach outside the folder is refused wherever
// a package is made, signed, checked or installed.
[[nodiscard]] bool isPlainImageName(const QString& name);

struct ImageCheck {
    ImageVerdict verdict = ImageVerdict::Ok;
    QString path;           // where the image was looked for
    qint64 actualSize = -1; // when the file was there
    QString actualMd5;      // when it was read
    QByteArray actualSha256; // when it was read and asked for (hex)
    QString why;            // for Unreadable and UnsafeName: what is wrong with the file
    QString copy;           // the private copy of exactly the bytes that were hashed, when asked for
};

// Path of an image file named in the table: resources + "/" + file.
QString imagePath(const QString& resourcesDir, const ImageEntry& entry);
// `withSha256`: the file's SHA-256 too, from the same read. `copyTo`: a new file that receives
// the bytes as they are hashed, kept only when the image is Ok (its path in `copy`).
ImageCheck checkImage(const QString& resourcesDir, const ImageEntry& entry, bool withSha256 = false,
                      const QString& copyTo = QString());

// Digests of a file in lowercase hex, from one read; nullopt when it cannot be read.
struct FileDigests {
    QString md5;
    QByteArray sha256; // empty unless asked for
};
std::optional<FileDigests> fileDigests(const QString& path, bool withSha256);
// `copy`, when given, receives every byte read; a failed write fails the whole.
std::optional<FileDigests> fileDigests(const RegularFile& file, bool withSha256, QIODevice* copy = nullptr);
// MD5 digest of a file as 32 lowercase hex digits; nullopt when it cannot be read.
std::optional<QString> md5Hex(const QString& path);

// Human-readable name of a verdict, for reports.
const char* verdictText(ImageVerdict verdict);

// Absent files are passed over; every other verdict but Ok refuses the whole package.
inline bool refuses(ImageVerdict verdict) {
    return verdict != ImageVerdict::Ok && verdict != ImageVerdict::Absent;
}

// The package check's judgement, from the verdicts of the walked entries in table order
// (the walk may stop after the first refusing one).
struct Selection {
    uint64_t total = 0;         // bytes of the images to write; 0 unless some verified image has
                                // content and none refuses
    std::vector<bool> verified; // per entry of the table; false past the walk
};
Selection select(const std::vector<ImageEntry>& entries, const std::vector<ImageVerdict>& walkedVerdicts);

} // namespace package

template <std::size_t N>
void package::copyField(char (&dest)[N], const QByteArray& utf8) {
    static_assert(N > 0);
    std::size_t n = static_cast<std::size_t>(utf8.size());
    if (n > N - 1)
        n = N - 1;
    for (std::size_t i = 0; i < N; ++i)
        dest[i] = i < n ? utf8.constData()[i] : '\0';
}
