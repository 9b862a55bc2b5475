#pragma once

#include "options.h"

#include <QString>
#include <QStringList>

#include <optional>

// What the command line asks of this run. It is read before any application object exists, so
// that help, version and mistakes need no display.
struct CommandLine {
    QStringList serialPorts; // every --serial-port, in the order given
    RunOptions options;
    // Set when the run ends at once after printing text: 0 for help and version (text for
    // standard output), 2 for a mistake (text for standard error).
    std::optional<int> exitCode;
    QString text;
};

// Reads the arguments as main() receives them, the program's name first.
CommandLine parseCommandLine(const QStringList &arguments);
