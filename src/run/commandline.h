#pragma once

#include "options.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// One option of the command line: its names, what its value looks like (none for a switch), the
// line of --help, and how a value goes into the run's options.
struct CommandLineOption {
    QStringList names;
    QString valueName;
    QString description;
    // Takes one value (an empty one for a switch); what is wrong with it, or nothing.
    std::function<QString(const QString &value, RunOptions &options)> read;
    // May be given more than once (each value says what it is for); else a second value is
    // refused rather than silently winning.
    bool repeatable;
};

// The two programs that read a command line: the window, and the run of scripts without one.
enum class Program { Window, Run };

// The program's own options, in the order --help lists them.
QList<CommandLineOption> commandLineOptions(Program program = Program::Window);

// What the command line asks of this run. It is read before any application object exists, so
// that help, version and mistakes need no display.
struct CommandLine {
    RunOptions options;
    // Set when the run ends at once after printing text: 0 for help and version (text for
    // standard output), 2 for a mistake (text for standard error).
    std::optional<int> exitCode;
    QString text;
};

// Reads the arguments as main() receives them, the program's name first.
CommandLine parseCommandLine(const QStringList &arguments, Program program = Program::Window);
