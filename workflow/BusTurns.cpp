#include "workflow/BusTurns.h"

QString BusTurns::busOf(const QString& port) {
    return port.section(u'-', 0, 0);
}

BusTurns::Place::Place(BusTurns* turns, const QString& port) : m_turns(turns), m_bus(busOf(port)) {
    if (m_turns)
        m_ticket = m_turns->ticket();
}

BusTurns::Hold::Hold(const Place& place, const std::function<void()>& waiting) : m_place(place) {
    if (m_place.m_turns)
        m_place.m_turns->take(m_place.m_bus, m_place.m_ticket, waiting);
}

BusTurns::Hold::~Hold() {
    release();
}

void BusTurns::Hold::release() {
    if (m_held && m_place.m_turns)
        m_place.m_turns->give(m_place.m_bus);
    m_held = false;
}

uint64_t BusTurns::ticket() {
    std::lock_guard guard(m_lock);
    return m_nextTicket++;
}

void BusTurns::take(const QString& bus, uint64_t ticket, const std::function<void()>& waiting) {
    std::unique_lock guard(m_lock);
    Bus& b = m_busses[bus];
    b.waiting.insert(ticket);
    const auto myTurn = [&] { return *b.waiting.begin() == ticket && b.writing < m_perBus; };
    if (!myTurn() && waiting) {
        guard.unlock();
        waiting();
        guard.lock();
    }
    // No timed wait (it hangs under libfaketime); a turn comes back within one bounded flash.
    m_changed.wait(guard, myTurn);
    b.waiting.erase(b.waiting.begin());
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
