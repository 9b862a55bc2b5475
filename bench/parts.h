#pragma once

#include "measure.h"

#include <QJsonObject>
#include <QList>
#include <QSize>
#include <QString>

// The measurements themselves. Each runs in a process of its own (the benchmark starts itself
// once per part), so that memory left behind by one flood, or by the baseline, never counts
// against the next, and a part that hangs can be ended without losing the others.

struct PartOptions {
    qint64 tcpBytes = 20'000'000;
    qint64 serialBytes = 2'000'000;
    int idleSeconds = 10;
    int soakCount = 1'000'000;
    int floodTimeoutSeconds = 120;
    // Bytes one baseline arrival may take; 0 takes whatever is buffered, as a naive terminal
    // does (and then a single huge arrival can keep the baseline in one call for minutes).
    qint64 baselineReadBuffer = 0;
    // The size of the program's own views, which the baseline's views copy.
    QSize networkView { 600, 200 };
    QSize serialView { 600, 400 };
};

// The figures of one flood, through the program or through the baseline.
struct FloodFigures {
    QString error;
    qint64 expected = 0; // bytes sent, all channels together
    qint64 logged = 0; // bytes the logs stand for
    bool complete = false;
    bool intact = false; // the logs are the payload, or a prefix of it after a time-out
    double seconds = 0;
    double mbps = 0;
    Lateness late;
    QList<int> arrivals; // per channel: the RECV counter, or the baseline's arrivals
    double rssBeforeMb = 0;
    double rssAfterMb = 0;
    // After the program's Clear of the flooded views: what the views' contents held. Negative
    // where not measured (the baseline).
    double rssClearedMb = -1;
    // Then after malloc_trim(): what of that the allocator merely kept rather than the program.
    double rssTrimmedMb = -1;
    double peakMb = 0;
    QSize viewSize;

    QJsonObject json() const;
    static FloodFigures fromJson(const QJsonObject &o);
};

// part: "idle", "soak", or a flood "<tcp-ascii-1|tcp-ascii-3|tcp-hex-1|tcp-hex-3|serial-ascii|
// serial-hex>:<app|baseline>". An empty object for an unknown part.
QJsonObject runPart(const QString &part, const PartOptions &options);

// How long a part's GUI thread may stay in one call (or past the flood time-out) before the part
// reports what it got to and ends: nothing can interrupt such a call.
constexpr int stuckGraceSeconds = 30;

// The one line on stdout by which a part hands its figures to the benchmark.
void printPartFigures(const QJsonObject &figures);
bool isPartFiguresLine(const QByteArray &line);
QJsonObject partFiguresFromLine(const QByteArray &line);

// What main() of the program does, plus one line on stdout (windowShownLine) once the shown
// window has been through the event loop; then it ends without the close question.
int startupChild(int argc, char *argv[]);
extern const char windowShownLine[];
