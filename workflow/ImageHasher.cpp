#include "workflow/ImageHasher.h"

#include <QThread>
#include <algorithm>
#include <atomic>
#include <thread>

namespace package {

namespace {

bool failed(const ImageCheck& check) {
    return check.verdict != ImageVerdict::Ok && check.verdict != ImageVerdict::Absent;
}

// Lowers `bound` to `index` unless it is already lower.
void lowerTo(std::atomic<std::size_t>& bound, std::size_t index) {
    std::size_t seen = bound.load();
    while (index < seen && !bound.compare_exchange_weak(seen, index)) {
    }
}

} // namespace

ImageHasher::ImageHasher(int threads)
    : m_threads(threads > 0 ? threads : std::max(1, QThread::idealThreadCount())) {}

std::vector<ImageCheck> ImageHasher::check(const QString& resourcesDir,
                                           const std::vector<ImageEntry>& entries) const {
    std::vector<ImageCheck> checks(entries.size());
    std::atomic<std::size_t> next{0};
    // The earliest failure so far: entries after it no longer matter and are not started.
    std::atomic<std::size_t> firstFailure{entries.size()};

    auto work = [&] {
        for (std::size_t i = next++; i < entries.size(); i = next++) {
            if (i > firstFailure.load())
                continue;
            checks[i] = checkImage(resourcesDir, entries[i]);
            if (failed(checks[i]))
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

uint64_t verifiedTotal(const std::vector<ImageCheck>& checks, const std::vector<ImageEntry>& entries) {
    uint64_t total = 0;
    for (std::size_t i = 0; i < checks.size() && i < entries.size(); ++i) {
        if (checks[i].verdict == ImageVerdict::Absent)
            continue;
        if (checks[i].verdict != ImageVerdict::Ok)
            return 0;
        total += static_cast<uint64_t>(entries[i].size);
    }
    return total;
}

} // namespace package
