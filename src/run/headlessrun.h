#pragma once

struct RunOptions;

// A run of teskmanager-run, once its command line has been read and a core application made: a
// Session as the command line and the settings file ask, the script started once the links it
// asked for have opened or failed, the logs kept unless told otherwise. It shows nothing and asks
// nothing; what a window would show in a box goes to standard error. Returns the exit status:
// the script's verdict; 3 when a signal stopped it or its logs could not be written.
int runWithoutWindow(const RunOptions &options);
