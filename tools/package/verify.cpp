// hotspot-package verify DIR: the application's start-up check of a package, but naming
// every image that fails and why instead of stopping at the first.

#include "Commands.h"
#include "workflow/PackageReader.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace {

int usage(const QString& message) {
    QTextStream(stderr) << "hotspot-package verify: " << message << "\n"
                        << "usage: hotspot-package verify DIR   (a package folder or a bundle)\n";
    return 2;
}

// A bundle keeps its package in Contents/Resources; a package folder holds it directly.
QString packageFolder(const QString& dir) {
    const QString resources = QDir(dir).filePath(QStringLiteral("Contents/Resources"));
    if (QFileInfo(resources + QStringLiteral("/version")).isFile())
        return resources;
    return QDir(dir).path();
}

QString describe(const package::ImageCheck& check, const ImageEntry& entry) {
    const QString verdict = QString::fromLatin1(package::verdictText(check.verdict));
    switch (check.verdict) {
    case package::ImageVerdict::SizeMismatch:
        return verdict + QStringLiteral(" (listed %1 bytes, file has %2)").arg(entry.size).arg(check.actualSize);
    case package::ImageVerdict::Md5Mismatch:
        return verdict + QStringLiteral(" (listed %1, file has %2)")
                             .arg(QString::fromUtf8(entry.md5, qstrnlen(entry.md5, sizeof entry.md5)),
                                  check.actualMd5);
    default:
        return verdict;
    }
}

} // namespace

bool checkPackageFolder(const QString& folder, QTextStream& out, QTextStream& err, QStringList* presentFiles) {
    const QString versionPath = folder + QStringLiteral("/version");
    const std::optional<QString> text = package::readVersionText(versionPath);
    if (!text) {
        err << "FAILED: " << versionPath << " cannot be read as text (missing, unreadable, or not "
            << "UTF-8 / UTF-16 with BOM)\n";
        return false;
    }
    const QStringList pieces = package::cutPieces(*text);
    if (pieces.size() < package::kMinPieces) {
        err << "FAILED: " << versionPath << " has no line end: it needs a version line and image lines\n";
        return false;
    }
    out << "version line: " << pieces.front().trimmed() << "\n";

    const std::vector<ImageEntry> entries = package::readImageLines(pieces);
    uint64_t total = 0;
    int failures = 0;
    int checked = 0;
    for (const ImageEntry& entry : entries) {
        // The application's walk ends at the first entry without a partition name.
        if (entry.name[0] == '\0') {
            out << "entry without partition name: later lines are not used\n";
            break;
        }
        const package::ImageCheck check = package::checkImage(folder, entry);
        out << QString::fromUtf8(entry.name) << "  " << QString::fromUtf8(entry.file) << "  "
            << describe(check, entry) << "\n";
        switch (check.verdict) {
        case package::ImageVerdict::Ok:
            ++checked;
            total += static_cast<uint64_t>(entry.size);
            if (presentFiles)
                presentFiles->append(QString::fromUtf8(entry.file));
            break;
        case package::ImageVerdict::Absent: break;
        default: ++failures;
        }
    }
    if (failures > 0) {
        err << "FAILED: " << failures << " image(s) do not match the version file\n";
        return false;
    }
    if (total == 0) {
        err << "FAILED: no image with content is present (the application refuses such a package)\n";
        return false;
    }
    out << "OK: " << checked << " image(s), " << total << " bytes\n";
    return true;
}

int runVerify(const QStringList& args) {
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("dir"), QStringLiteral("Package folder or bundle."));
    if (!parser.parse(QStringList{QStringLiteral("verify")} + args))
        return usage(parser.errorText());
    if (parser.positionalArguments().size() != 1)
        return usage(QStringLiteral("give exactly one package folder"));
    const QString given = parser.positionalArguments().first();
    if (!QFileInfo(given).isDir())
        return usage(QStringLiteral("no folder %1").arg(given));

    QTextStream out(stdout);
    QTextStream err(stderr);
    return checkPackageFolder(packageFolder(given), out, err, nullptr) ? 0 : 1;
}
