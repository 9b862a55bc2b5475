#pragma once

#include <QJsonObject>
#include <QString>

// A busy bench for as long as asked: the real program, started with its command line, has its
// serial port open on a pty and its three network channels connected to one server on
// 127.0.0.1; the device and each connection send 20 lines a second, and every channel sends its
// command every 100 ms. Measured: the program's CPU time, its RSS at the start and the end, its
// stalls in X, and whether its logs hold every line the peers sent and every command.
struct BusyOptions {
    bool x = false;
    qint64 seconds = 300;
    // Empty: the teskmanager built beside the bench.
    QString program;
};

QJsonObject busy(const BusyOptions &options);

// The bench table's rows for it: label, cell format and target.
struct BusyRow {
    const char *label;
    const char *format;
    const char *target;
};
extern const BusyRow busyRows[4];
