#include "workflow/ImageHasher.h"

#include <QThread>
#include <algorithm>
#include <atomic>
#include <thread>

namespace package {

namespace {

// Lowers `bound` to `index` unless it is already lower.
void lowerTo(std::atomic<std::size_t>& bound, std::size_t index) {
    std::size_t seen = bound.load();
    while (index < seen && !bound.compare_exchange_weak(seen, index)) {
    }
}

} // namespace

ImageHasher::ImageHasher(int threads)
    : m_threads(threads > 0 ? threads : std::max(1, QThread::idealThreadCount())) {}

std::vector<ImageCheck> ImageHasher::check(const QString& resourcesDir, const std::vector<ImageEntry>& entries,
                                           Stop stop, bool withSha256, const QString& copyDir) const {
    std::vector<ImageCheck> checks(entries.size());
    std::atomic<std::size_t> next{0};
    // The earliest failure so far: entries after it no longer matter and are not started.
    std::atomic<std::size_t> firstFailure{entries.size()};

    auto work = [&] {
        for (std::size_t i = next++; i < entries.size(); i = next++) {
            if (i > firstFailure.load())
                continue;
            // One copy per entry: an image listed twice is never written by two threads at once.
            const QString copy = copyDir.isEmpty() ? QString() : copyDir + QStringLiteral("/%1.img").arg(i);
            checks[i] = checkImage(resourcesDir, entries[i], withSha256, copy);
            if (stop == Stop::AtFirstFailure && refuses(checks[i].verdict))
                lowerTo(firstFailure, i);
        }
    };
    const std::size_t helpers =
        std::min<std::size_t>(static_cast<std::size_t>(m_threads), entries.size()) - (entries.empty() ? 0 : 1);
    std::vector<std::thread> pool;
    pool.reserve(helpers);
    for (std::size_t t = 0; t < helpers; ++t)
        pool.emplace_back(work);
    work(); // the calling thread takes its share
    for (std::thread& t : pool)
        t.join();

    const std::size_t end = std::min(firstFailure.load() + 1, entries.size());
    checks.resize(end);
    return checks;
}

ImagesChecked checkImages(const QString& resourcesDir, const std::vector<ImageEntry>& entries, int threads,
                          ImageHasher::Stop stop, bool withSha256, const QString& copyDir) {
    const std::vector<ImageEntry> walked(entries.begin(), entries.begin() + walkLength(entries));
    ImagesChecked result;
    result.checks = ImageHasher(threads).check(resourcesDir, walked, stop, withSha256, copyDir);
    std::vector<ImageVerdict> verdicts;
    for (const ImageCheck& check : result.checks)
        verdicts.push_back(check.verdict);
    result.selection = select(entries, verdicts);
    return result;
}

Selection verifyImages(const QString& resourcesDir, const std::vector<ImageEntry>& entries, int threads) {
    return checkImages(resourcesDir, entries, threads).selection;
}

} // namespace package
