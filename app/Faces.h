#pragma once
// The application's two front ends on the one controller. Each runs its event loop until the
// termination sequence has run and returns the exit status; what it creates lives until the
// process ends (detached workers may still be using it).

int runWindow(int& argc, char** argv);
int runTerminal(int& argc, char** argv);
