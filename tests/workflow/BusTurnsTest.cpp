#include "workflow/BusTurns.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

void waitFor(const std::atomic<bool>& flag) {
    while (!flag)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Two writes at once on bus 1; the next ones wait and get their turns in the order they came,
// told first that they wait. Bus 2 is another bus: nobody there waits for bus 1.
TEST(BusTurns, AtMostSoManyPerBusTheRestInArrivalOrder) {
    EXPECT_EQ(BusTurns::busOf(QStringLiteral("1-2.3")), QStringLiteral("1"));
    EXPECT_EQ(BusTurns::busOf(QStringLiteral("12-1")), QStringLiteral("12"));

    BusTurns turns(2);
    std::mutex orderLock;
    std::vector<int> order;
    std::atomic<bool> release[6] = {};
    std::atomic<bool> queued[6] = {};
    std::atomic<int> waited{0};
    const auto writing = [&] {
        std::lock_guard guard(orderLock);
        return order.size();
    };
    const auto until = [&](size_t count) {
        while (writing() < count)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    auto writer = [&](int id, QString port) {
        const BusTurns::Hold hold(&turns, port, [&, id] {
            ++waited;
            queued[id] = true;
        });
        {
            std::lock_guard guard(orderLock);
            order.push_back(id);
        }
        waitFor(release[id]);
    };
    std::vector<std::thread> writers;
    writers.emplace_back(writer, 1, QStringLiteral("1-2.1"));
    until(1);
    writers.emplace_back(writer, 2, QStringLiteral("1-2.2"));
    until(2);
    for (int id : {3, 4, 5}) {
        writers.emplace_back(writer, id, QStringLiteral("1-2.%1").arg(id));
        waitFor(queued[id]); // in line before the next one comes
    }
    std::thread otherBus([&] {
        const BusTurns::Hold hold(&turns, QStringLiteral("2-1"), [] { ADD_FAILURE() << "bus 2 waited"; });
    });
    otherBus.join();
    EXPECT_EQ(writing(), 2u); // bus 1 stays at two while they write
    for (int id = 1; id <= 3; ++id) {
        release[id] = true; // one ends: the first in line writes
        until(size_t(id) + 2);
    }
    release[4] = release[5] = true;
    for (std::thread& t : writers)
        t.join();
    EXPECT_EQ(waited, 3);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
}

// The one device has no turns: it writes at once.
TEST(BusTurns, NoTurnsHoldAtOnce) {
    bool waited = false;
    const BusTurns::Hold hold(nullptr, QStringLiteral("1-1"), [&] { waited = true; });
    EXPECT_FALSE(waited);
}

} // namespace
