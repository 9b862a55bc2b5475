#pragma once

// The names and the window icon every run of the window shares: the program and the benchmark
// call it right after their QApplication is made.
void setUpApplication();

#include <functional>

// Runs `handler` on the GUI thread when the process gets SIGTERM, SIGINT or SIGHUP (a logout, a
// Ctrl+C in the terminal, a closed terminal), so that the run can end as it would from the menu.
void onTerminationSignals(std::function<void()> handler);
