// Times the start-up package check over a package folder: reads its `version` file and
// checks every listed image, sequentially (each image after the other) or as the
// application does. Prints one line: "<seconds> <verified bytes>".
//
//   hotspot-bench-check DIR [--sequential]

#include "workflow/ImageHasher.h"
#include "workflow/PackageReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

namespace {

uint64_t sequentialTotal(const QString& dir, const std::vector<ImageEntry>& entries) {
    uint64_t total = 0;
    for (const ImageEntry& entry : entries) {
        const package::ImageCheck check = package::checkImage(dir, entry);
        if (check.verdict == package::ImageVerdict::Absent)
            continue;
        if (check.verdict != package::ImageVerdict::Ok)
            return 0;
        total += static_cast<uint64_t>(entry.size);
    }
    return total;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: hotspot-bench-check DIR [--sequential]\n");
        return 2;
    }
    const QString dir = args.at(1);
    const bool sequential = args.contains(QStringLiteral("--sequential"));

    QElapsedTimer timer;
    timer.start();
    const std::optional<QString> text = package::readVersionText(dir + QStringLiteral("/version"));
    if (!text) {
        std::fprintf(stderr, "hotspot-bench-check: no version file in %s\n", qPrintable(dir));
        return 1;
    }
    const std::vector<ImageEntry> entries = package::readImageLines(package::cutPieces(*text));
    const uint64_t total = sequential ? sequentialTotal(dir, entries)
                                      : package::verifiedTotal(package::ImageHasher().check(dir, entries),
                                                               entries);
    std::printf("%.6f %llu\n", timer.nsecsElapsed() / 1e9, static_cast<unsigned long long>(total));
    return total > 0 ? 0 : 1;
}
