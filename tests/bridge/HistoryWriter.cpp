// A station in miniature for the history tests: writes attempts into a local record (and, given a
// server, runs the sender beside it), as an update writes them: at its start, at a phase, at its end.
// Usage: history_writer <record> <count> <tag> [server-url]
// Prints "<attempts> <total ms> <slowest write ms>"; exits 1 at the first failed write.

#include "bridge/HistoryKeeper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QUuid>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 64;
    HistoryPlace place{args[1], args.size() > 4 ? args[4] : QString()};
    QString why;
    std::unique_ptr<HistoryKeeper> keeper = HistoryKeeper::open(place, &why);
    if (!keeper) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    const int count = args[2].toInt();
    QElapsedTimer total;
    total.start();
    qint64 slowest = 0;
    for (int i = 0; i < count; ++i) {
        Attempt a;
        a.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        a.started = QDateTime::currentDateTimeUtc();
        a.station = args[3];
        a.port = QStringLiteral("1-%1").arg(i % 7 + 1);
        a.versionBefore = QStringLiteral("1.0.3");
        a.outcome = QStringLiteral("running");
        for (const QString& phase : {QStringLiteral("saving"), QStringLiteral("image 3"), QStringLiteral("done")}) {
            a.phase = phase;
            if (phase == QLatin1String("done")) {
                a.result = 0;
                a.outcome = QStringLiteral("updated");
                a.ended = QDateTime::currentDateTimeUtc();
            }
            QElapsedTimer one;
            one.start();
            if (!keeper->write(a)) {
                std::fprintf(stderr, "%s\n", qPrintable(keeper->local().lastError()));
                return 1;
            }
            slowest = std::max(slowest, one.elapsed());
        }
        if (!place.server.isEmpty())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    std::printf("%d %lld %lld\n", count, static_cast<long long>(total.elapsed()), static_cast<long long>(slowest));
    return 0;
}
