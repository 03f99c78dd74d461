// hotspot-package verify [--keys DIR] DIR: the application's start-up check of a package, line by line:
// which lines the application uses (writes), ignores or refuses the package for. Every
// walked image is checked instead of stopping at the first refusal; the verdict is the same.

#include "Commands.h"
#include "workflow/Manifest.h"
#include "workflow/SignedCheck.h"
#include "workflow/PackageReader.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <algorithm>

namespace {

int usage(const QString& message) {
    QTextStream(stderr) << "hotspot-package verify: " << message << "\n"
                        << "usage: hotspot-package verify [--keys DIR] DIR   (a package folder or a bundle)\n";
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
        return verdict + QStringLiteral(": listed %1 bytes, file has %2").arg(entry.size).arg(check.actualSize);
    case package::ImageVerdict::Md5Mismatch:
        return verdict + QStringLiteral(": listed %1, file has %2")
                             .arg(QString::fromUtf8(entry.md5, qstrnlen(entry.md5, sizeof entry.md5)),
                                  check.actualMd5);
    case package::ImageVerdict::Absent:
        return verdict + QStringLiteral(", not written");
    case package::ImageVerdict::Ok:
        return entry.size > 0 ? QStringLiteral("%1 bytes").arg(entry.size)
                              : QStringLiteral("empty, nothing to write");
    default:
        return check.why.isEmpty() ? verdict : verdict + QStringLiteral(": ") + check.why;
    }
}

QString entryText(const ImageEntry& entry) {
    return QString::fromUtf8(entry.name) + QStringLiteral("  ") + QString::fromUtf8(entry.file);
}

// Why a line that fills no table entry is ignored.
QString ignoredLineReason(const package::ImageLine& line) {
    switch (line.kind) {
    case package::LineKind::Comment: return QStringLiteral("comment");
    case package::LineKind::FieldCount: return QStringLiteral("%1 fields, 4 needed").arg(line.fields);
    case package::LineKind::TableFull:
        return QStringLiteral("after the %1th image line").arg(kImageTableMaxFilled);
    default: return {};
    }
}

QString signatureText(const package::PackageJudgement& judgement) {
    switch (judgement.signature) {
    case package::SignatureState::Unsigned:
        return QStringLiteral("unsigned");
    case package::SignatureState::Good:
        return QStringLiteral("good, key %1").arg(QString::fromLatin1(judgement.keyId));
    default:
        return QStringLiteral("refused: ") + judgement.why;
    }
}

} // namespace

PackageReport checkPackageFolder(const QString& folder, const package::TrustedKeys& keys, QTextStream& out,
                                 QTextStream& err) {
    PackageReport report;
    const QString versionPath = folder + QStringLiteral("/version");
    QString unreadable;
    const std::optional<QByteArray> bytes = package::readFileBytes(versionPath, -1, &unreadable);
    const std::optional<QString> text = bytes ? package::decodeText(*bytes) : std::nullopt;
    if (!bytes) {
        err << "FAILED: " << versionPath << " " << unreadable << "\n";
        return report;
    }
    if (!text) {
        err << "FAILED: " << versionPath << " cannot be read as text (not UTF-8 / UTF-16 with BOM)\n";
        return report;
    }
    const QStringList pieces = package::cutPieces(*text);
    if (pieces.size() < package::kMinPieces) {
        err << "FAILED: " << versionPath << " has no line end: it needs a version line and image lines\n";
        return report;
    }
    out << "version line: " << pieces.front().trimmed() << "\n";

    const std::vector<package::ImageLine> lines = package::classifyImageLines(pieces);
    const std::vector<ImageEntry> entries = package::entriesOf(lines);
    // The application's own check, but every walked image is checked, so each bad one is named.
    const package::PackageJudgement checked =
        package::checkPackage(folder, *bytes, entries, keys, 0, package::ImageHasher::Stop::Never);
    const std::vector<package::ImageCheck>& checks = checked.checks;
    const std::size_t walked = checks.size();
    const package::Selection& selection = checked.selection;
    out << "signature: " << signatureText(checked) << "\n";
    for (const QString& name : {package::kManifestName, package::kSignatureName})
        if (QFileInfo(QDir(folder).filePath(name)).isFile())
            report.signedFiles << name;
    // The entries as the application's table marks them.
    std::vector<ImageEntry> table = entries;
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i].verified = selection.verified[i];

    // One line of report per image line, in the file's order.
    int failures = 0;
    std::size_t index = 0;
    for (const package::ImageLine& line : lines) {
        if (line.kind == package::LineKind::Blank)
            continue;
        if (line.kind != package::LineKind::Entry) {
            out << "ignored  " << line.text << "  (" << ignoredLineReason(line) << ")\n";
            continue;
        }
        const std::size_t i = index++;
        if (i < walked) {
            const package::ImageVerdict verdict = checks[i].verdict;
            const QString file = QString::fromUtf8(entries[i].file);
            failures += package::refuses(verdict);
            if (verdict == package::ImageVerdict::Ok)
                report.presentFiles.append(file);
            if (verdict == package::ImageVerdict::Absent)
                report.missingFiles.append(file);
            // A good image of a refused package is "ok": fine itself, but nothing is written.
            const bool good = verdict == package::ImageVerdict::Ok && entries[i].size > 0;
            const char* use = package::refuses(verdict) ? "refused  "
                              : shouldWrite(table[i])   ? "used     "
                              : good                    ? "ok       "
                                                        : "ignored  ";
            out << use << entryText(entries[i]) << "  (" << describe(checks[i], entries[i]) << ")\n";
        } else if (i == walked) {
            out << "ignored  " << line.text << "  (no partition name: this and every later image line are not used)\n";
        } else {
            out << "ignored  " << entryText(entries[i]) << "  (after a line without partition name)\n";
        }
    }
    if (!report.missingFiles.isEmpty())
        out << "MISSING: " << report.missingFiles.size() << " listed image(s) not in the package: "
            << report.missingFiles.join(QStringLiteral(", "))
            << " (the application passes over them; install refuses the package without --allow-missing)\n";
    const auto used = std::count_if(table.begin(), table.end(), shouldWrite);
    const uint64_t total = selection.total;
    if (failures > 0) {
        err << "FAILED: " << failures << " image(s) do not match the version file\n";
        return report;
    }
    if (checked.signatureRefuses()) {
        err << "FAILED: " << checked.why << "\n";
        return report;
    }
    if (total == 0) {
        err << "FAILED: no image with content is present (the application refuses such a package)\n";
        return report;
    }
    out << "OK: " << used << " image(s) to write, " << total << " bytes\n";
    report.accepted = true;
    return report;
}

int runVerify(const QStringList& args) {
    QCommandLineParser parser;
    parser.addOption(keysOption());
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
    const QString folder = packageFolder(given);
    // A bundle's own keys judge its package; a package folder is judged by this program's.
    const QString bundle = folder != QDir(given).path() ? given : ownBundle();
    const std::optional<package::TrustedKeys> keys = trustedKeys(parser, bundle);
    if (!keys)
        return usage(QStringLiteral("no folder %1").arg(parser.value(QStringLiteral("keys"))));
    return checkPackageFolder(folder, *keys, out, err).accepted ? 0 : 1;
}
