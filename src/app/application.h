#pragma once

// The names and the window icon every run of the window shares: the program and the benchmark
// call it right after their QApplication is made.
void setUpApplication();
