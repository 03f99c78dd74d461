#include "workflow/UpdateSlots.h"

bool UpdateSlots::take(const std::function<void()>& waiting) {
    std::unique_lock guard(m_lock);
    if (!m_closed && m_free == 0 && waiting) {
        guard.unlock();
        waiting();
        guard.lock();
    }
    // No timed wait: it hangs under libfaketime, and a slot always comes back within an
    // update's bounded steps.
    m_changed.wait(guard, [this] { return m_closed || m_free > 0; });
    if (m_closed)
        return false;
    --m_free;
    return true;
}

void UpdateSlots::give() {
    {
        std::lock_guard guard(m_lock);
        ++m_free;
    }
    m_changed.notify_one();
}

void UpdateSlots::close() {
    {
        std::lock_guard guard(m_lock);
        m_closed = true;
    }
    m_changed.notify_all();
}

bool UpdateSlots::closed() const {
    std::lock_guard guard(m_lock);
    return m_closed;
}
