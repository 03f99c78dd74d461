#pragma once
// Where one device's session stands, and the moves between those places: every change of a
// session's state goes through this table.

#include <cstdint>

enum class SessionState : int32_t {
    Checking = 0,  // the package is being checked
    Searching = 1, // looking for the device
    Offered = 2,   // Start, or Finish, or the question whose unit it is
    Updating = 3,  // an update runs, or one ended that can be tried again (Retry)
    Finished = 4,  // nothing more to do here: Close (a station's unit: until it leaves)
};

// The moves a session makes; any other is refused. Staying where it is is no move.
constexpr bool isAllowedMove(SessionState from, SessionState to) {
    using S = SessionState;
    if (from == to)
        return true;
    switch (from) {
    case S::Checking:
        return to == S::Searching || to == S::Finished; // the check passed, or failed
    case S::Searching:
        return to == S::Offered || to == S::Finished; // an update offered, or up to date
    case S::Offered:
        return to == S::Updating || to == S::Searching; // pressed, or the device left
    case S::Updating:
        return to == S::Finished || to == S::Searching; // the update ended, or Retry
    case S::Finished:
        return to == S::Searching; // a station's unit left: its port waits for the next one
    }
    return false;
}

constexpr int32_t stateNumber(SessionState state) { return static_cast<int32_t>(state); }
