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
    const uint64_t total = package::verifyImages(dir, entries, sequential ? 1 : 0).total;
    std::printf("%.6f %llu\n", timer.nsecsElapsed() / 1e9, static_cast<unsigned long long>(total));
    return total > 0 ? 0 : 1;
}
