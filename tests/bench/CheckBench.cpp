// Times the start-up package check over a package folder: reads its `version` file and
// checks every listed image, sequentially (each image after the other) or as the
// application does; with --keys, as the application does with those keys trusted (a signed
// package); with --copies, each good image also copied into a private folder in the same read,
// as the application does so that the update writes what was checked. Prints one line:
// "<seconds> <verified bytes>".
//
//   hotspot-bench-check DIR [--sequential] [--keys KEYDIR] [--copies]

#include "workflow/PackageReader.h"
#include "workflow/SignedCheck.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: hotspot-bench-check DIR [--sequential] [--keys KEYDIR] [--copies]\n");
        return 2;
    }
    const QString dir = args.at(1);
    const bool sequential = args.contains(QStringLiteral("--sequential"));
    const qsizetype keysAt = args.indexOf(QStringLiteral("--keys"));
    package::TrustedKeys::Source keys;
    if (keysAt > 0 && keysAt + 1 < args.size())
        keys.add(args.at(keysAt + 1));

    QElapsedTimer timer;
    timer.start();
    const std::optional<QByteArray> bytes = package::readFileBytes(dir + QStringLiteral("/version"));
    const std::optional<QString> text = bytes ? package::decodeText(*bytes) : std::nullopt;
    if (!text) {
        std::fprintf(stderr, "hotspot-bench-check: no version file in %s\n", qPrintable(dir));
        return 1;
    }
    const std::vector<ImageEntry> entries = package::readImageLines(package::cutPieces(*text));
    const package::TrustedKeys trusted = package::TrustedKeys::load(keys, [](const QString& line) {
        std::fprintf(stderr, "hotspot-bench-check: %s\n", qPrintable(line));
    });
    QTemporaryDir copies;
    const package::PackageJudgement judgement =
        package::checkPackage(dir, *bytes, entries, trusted, sequential ? 1 : 0, package::ImageHasher::Stop::AtFirstFailure,
                              args.contains(QStringLiteral("--copies")) ? copies.path() : QString());
    if (judgement.signatureRefuses())
        std::fprintf(stderr, "hotspot-bench-check: %s\n", qPrintable(judgement.why));
    const uint64_t total = judgement.selection.total;
    std::printf("%.6f %llu\n", timer.nsecsElapsed() / 1e9, static_cast<unsigned long long>(total));
    return total > 0 ? 0 : 1;
}
