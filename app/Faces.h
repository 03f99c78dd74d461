#pragma once
// The application's two front ends on the one controller. Each runs its event loop until the
// termination sequence has run and returns the exit status; what it creates lives until the
// process ends (detached workers may still be using it).

#include <functional>

class AppDelegate;

int runWindow(int& argc, char** argv);
int runTerminal(int& argc, char** argv);

// What both share once their face and controller exist: launch (then `afterLaunch`), the
// event loop with the termination signals handled, the termination sequence, and the
// workers' way out. Returns the event loop's status.
int runController(AppDelegate& delegate, const std::function<void()>& afterLaunch = {});
