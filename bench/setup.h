#pragma once

#include <QByteArray>
#include <QSize>
#include <QStringList>

class QWidget;
class WindowFixture;

// What a run measures and how much of it; main fills it from the command line.
struct BenchOptions {
    bool x = false; // in a real X server with a window manager, or else offscreen
    bool smoke = false;
    bool json = false;
    QStringList only;
    QString child; // the section that this process measures, in a child of the run
    QStringList tables; // earlier runs' --json files, combined into one table
    qint64 tcpBytes = 20'000'000;
    qint64 serialBytes = 2'000'000;
    qint64 idleMs = 5000;
    qint64 soakCount = 30'000;
    qint64 startupRuns = 10;
    qint64 exitRuns = 3;
    qint64 floodTimeout = 90;
    // How long one call may keep the GUI thread before the flood reports what it got to and
    // ends: nothing can interrupt such a call.
    qint64 stuckSeconds = 15;
    qint64 naiveReadBuffer = 0; // 0: the naive view takes whatever is buffered
    qint64 busySeconds = 300;
    QString program; // the teskmanager that the busy section runs
    QSize view; // the program's view, which the naive view copies
};

// The floods in the order a run measures them, each against the naive view: the network on one
// or three channels and the serial line, in ASCII and in hex.
extern const QStringList floodSections;

// The floods in the order a run measures them, each against the naive view: the network on one
// or three channels and the serial line, in ASCII and in hex.
extern const QStringList floodSections;

// Lets the window finish what it was doing before a measurement: ms long, a tenth of that in a
// smoke run, whose figures only show that the section still runs.
void settle(const BenchOptions &o, int ms);
// One size in every mode and Qt version (their offscreen screens differ), so that views, and
// with them the figures, compare.
bool showWindow(QWidget *window, bool x);
// The window shown, the serial port open on the pty when asked; false when either failed.
bool setUp(WindowFixture &fixture, const BenchOptions &o, bool openSerial = true);
// Text lines of letters, digits and spaces (about 75 characters a line): nothing that a
// rendering or the serial view's clean-up changes, so each log must equal the payload.
QByteArray textPayload(qint64 size, quint32 seed);
// How a log compares with what was sent: "exact", "prefix" (some is missing) or "ALTERED".
const char *verdict(bool intact, bool complete);
