#include "workflow/BusTurns.h"

QString BusTurns::busOf(const QString& port) {
    return port.section(u'-', 0, 0);
}

BusTurns::Hold::Hold(BusTurns* turns, const QString& port, const std::function<void()>& waiting)
    : m_turns(turns), m_bus(busOf(port)) {
    if (m_turns)
        m_turns->take(m_bus, waiting);
}

BusTurns::Hold::~Hold() {
    if (m_turns)
        m_turns->give(m_bus);
}

void BusTurns::take(const QString& bus, const std::function<void()>& waiting) {
    std::unique_lock guard(m_lock);
    Bus& b = m_busses[bus];
    const uint64_t ticket = m_nextTicket++;
    b.queue.push_back(ticket);
    const auto myTurn = [&] { return b.queue.front() == ticket && b.writing < m_perBus; };
    if (!myTurn() && waiting) {
        guard.unlock();
        waiting();
        guard.lock();
    }
    // No timed wait (it hangs under libfaketime); a turn comes back within one bounded flash.
    m_changed.wait(guard, myTurn);
    b.queue.pop_front();
    ++b.writing;
    // The next in line may fit too.
    m_changed.notify_all();
}

void BusTurns::give(const QString& bus) {
    {
        std::lock_guard guard(m_lock);
        --m_busses[bus].writing;
    }
    m_changed.notify_all();
}
