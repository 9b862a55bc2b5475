#pragma once

#include "setup.h"

#include <QJsonObject>

// The window's stalls while peers and the device misbehave.
QJsonObject hostile(const BenchOptions &o);
// A flood through ser2net (RFC 2217) beside the same flood from the pty; remote opens timed.
QJsonObject remoteSerial(const BenchOptions &o);

// Measures the section named by o.child ("idle", "tcp-hex-3:naive" ...) in this process.
QJsonObject measureSection(const BenchOptions &o);
