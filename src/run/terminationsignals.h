#pragma once

#include <functional>

// Runs `handler` on the main thread when the process gets SIGTERM, SIGINT or SIGHUP (a logout, a
// Ctrl+C in the terminal, a closed terminal), so that the run can end as it would from the menu.
void onTerminationSignals(std::function<void()> handler);
