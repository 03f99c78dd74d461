#pragma once
// A station's images on their way to the units: at most so many sent at once per USB bus,
// the others waiting by the order in which their units began writing. A USB 2.0 bus shares
// its rate among all the devices on it, whatever hubs lie between, so more sends at once only
// spread it thinner: every unit would end with the batch. Few at a time, and a unit that began
// going before those that have not, the first units end early and the batch no later, as long
// as enough are under way to keep the bus busy between one unit's images.

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>

class BusTurns {
public:
    // Sends at once per bus. A turn ends as the unit begins to store what it received; the
    // second covers the gaps between one unit's images. Measured on the simulated hub
    // (docs/benchmarks.md); not yet on a real one.
    static constexpr int kPerBus = 2;

    explicit BusTurns(int perBus = kPerBus) : m_perBus(perBus) {}

    // The bus a port path is on ("1-2.3" is on bus 1).
    static QString busOf(const QString& port);

    class Hold;

    // A unit's place in line for all its images, taken as it begins writing. Were it to line
    // up again behind everyone after each image, the turns would go round and every unit
    // would end with the batch.
    class Place {
    public:
        Place(BusTurns* turns, const QString& port);

    private:
        friend class Hold;
        BusTurns* m_turns;
        QString m_bus;
        uint64_t m_ticket = 0;
    };

    // Holds a turn on the bus of a place for a scope, or until release(); calls `waiting`
    // first when it must wait. Without turns (one device) it holds at once.
    class Hold {
    public:
        Hold(const Place& place, const std::function<void()>& waiting);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

        // The image is across: the unit stores it off the bus, and the next may send.
        void release();

    private:
        const Place& m_place;
        bool m_held = true;
    };

private:
    struct Bus {
        int writing = 0;
        std::set<uint64_t> waiting; // the tickets of those waiting, earliest place first
    };

    uint64_t ticket();
    void take(const QString& bus, uint64_t ticket, const std::function<void()>& waiting);
    void give(const QString& bus);

    const int m_perBus;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<QString, Bus> m_busses; // under m_lock
    uint64_t m_nextTicket = 0;       // under m_lock
};
