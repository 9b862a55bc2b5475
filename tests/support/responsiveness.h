#pragma once

#include <QObject>
#include <QTest>
#include <QTimer>

// A marker queued behind everything the event loop holds now, due delayMs later: once it has
// passed, whatever the window had posted or was due to do by then, a box included, has happened.
inline bool passMarker(int delayMs = 0)
{
    QObject context;
    bool passed = false;
    QTimer::singleShot(delayMs, &context, [&] { passed = true; });
    return QTest::qWaitFor([&] { return passed; }, delayMs + 5000);
}
