#pragma once

#include "setup.h"

#include <QJsonObject>

// The window's stalls while peers and the device misbehave.
QJsonObject hostile(const BenchOptions &o);

// Measures the section named by o.child ("idle", "tcp-hex-3:naive" ...) in this process.
QJsonObject measureSection(const BenchOptions &o);
