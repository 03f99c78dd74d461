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
        const BusTurns::Place place(&turns, port);
        const BusTurns::Hold hold(place, [&, id] {
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
        const BusTurns::Place place(&turns, QStringLiteral("2-1"));
        const BusTurns::Hold hold(place, [] { ADD_FAILURE() << "bus 2 waited"; });
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

// A unit between two images keeps its place: its next image goes before a unit that began
// later, though that one has waited longer. Otherwise the turns go round and all end together.
TEST(BusTurns, AUnitBetweenItsImagesKeepsItsPlace) {
    BusTurns turns(1);
    const BusTurns::Place first(&turns, QStringLiteral("1-2.1"));
    const BusTurns::Place second(&turns, QStringLiteral("1-2.2"));
    const BusTurns::Place third(&turns, QStringLiteral("1-2.3"));
    std::atomic<bool> thirdQueued{false};
    std::atomic<bool> firstQueued{false};
    std::mutex orderLock;
    std::vector<int> order;
    const auto write = [&](const BusTurns::Place& place, int id, std::atomic<bool>* queued) {
        const BusTurns::Hold hold(place, [queued] { *queued = true; });
        std::lock_guard guard(orderLock);
        order.push_back(id);
    };
    std::thread laterUnit;
    std::thread nextImage;
    {
        const BusTurns::Hold image(second, [] { ADD_FAILURE() << "the bus was free"; });
        laterUnit = std::thread(write, std::cref(third), 3, &thirdQueued);
        waitFor(thirdQueued);
        nextImage = std::thread(write, std::cref(first), 1, &firstQueued);
        waitFor(firstQueued);
    }
    laterUnit.join();
    nextImage.join();
    EXPECT_EQ(order, (std::vector<int>{1, 3}));

    // A turn given back once the image is across lets the next send while the unit stores it.
    BusTurns::Hold sending(first, [] { ADD_FAILURE() << "the bus was free"; });
    sending.release();
    const BusTurns::Hold next(second, [] { ADD_FAILURE() << "waited for a turn given back"; });
    sending.release(); // given back once only
}

// The one device has no turns: it writes at once.
TEST(BusTurns, NoTurnsHoldAtOnce) {
    bool waited = false;
    const BusTurns::Place place(nullptr, QStringLiteral("1-1"));
    const BusTurns::Hold hold(place, [&] { waited = true; });
    EXPECT_FALSE(waited);
}

} // namespace
