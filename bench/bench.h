#pragma once

#include <QJsonObject>
#include <QSize>
#include <QStringList>

#include <ctime>

struct Options {
    bool x = false; // in a real X server with a window manager, or else offscreen
    bool smoke = false;
    bool json = false;
    QStringList only;
    QString child; // the section that this process measures, in a child of the run
    QStringList tables; // earlier runs' --json files, combined into one table
    qint64 tcpBytes = 20'000'000;
    qint64 serialBytes = 2'000'000;
    int idleSeconds = 5;
    int soakCount = 30'000;
    int startupRuns = 10;
    int exitRuns = 3;
    int floodTimeout = 90;
    // How long one call may keep the GUI thread before the flood reports what it got to and
    // ends: nothing can interrupt such a call.
    int stuckSeconds = 15;
    qint64 naiveReadBuffer = 0; // 0: the naive view takes whatever is buffered
    QSize view; // the program's view, which the naive view copies
};

bool parseOptions(const QStringList &args, Options &options);

// Shared by every process on the machine, so a child's moments compare with its parent's.
inline qint64 monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The line by which a child hands its figures to the run.
extern const char figuresPrefix[];
void printFigures(const QJsonObject &figures);

// In a child, after the application is set up: measures options.child.
QJsonObject measure(const Options &options);
