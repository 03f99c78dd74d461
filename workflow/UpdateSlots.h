#pragma once
// A station's bound on updates running at once: an update takes a slot before it touches its
// device and gives it back when it ends; the others wait their turn. Once closed (the station
// is ending), nobody waiting gets one.

#include <condition_variable>
#include <functional>
#include <mutex>

class UpdateSlots {
public:
    explicit UpdateSlots(int count) : m_free(count) {}

    // Blocks until a slot is free, calling `waiting` first when none is; false once the slots
    // are closed.
    bool take(const std::function<void()>& waiting = {});
    void give();
    // Wakes every waiter with no slot; later takes fail at once.
    void close();
    bool closed() const;

    // Holds a slot for a scope.
    class Hold {
    public:
        // Without slots (the one device) it holds at once.
        Hold(UpdateSlots* turns, const std::function<void()>& waiting)
            : m_turns(turns), m_held(!turns || turns->take(waiting)) {}
        ~Hold() {
            if (m_turns && m_held)
                m_turns->give();
        }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        bool held() const { return m_held; }

    private:
        UpdateSlots* m_turns;
        bool m_held;
    };

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    int m_free;
    bool m_closed = false;
};
