#pragma once

#include <QAbstractEventDispatcher>
#include <QEventLoop>
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

// Waits until the predicate holds with the event loop running all the while, as the program's
// own loop runs; false when it does not hold within timeoutMs. QTest::qWaitFor and the QTRY
// macros sleep 10 ms between rounds, which holds a flood over a pty to a few hundred kilobytes a
// second; this asks whenever the loop has nothing left to do, and at least every 10 ms.
template<class Predicate> bool loopUntil(Predicate ready, int timeoutMs = 5000)
{
    if (ready())
        return true;
    QEventLoop loop;
    QTimer poll;
    bool timedOut = false;
    auto check = [&] {
        if (ready())
            loop.quit();
    };
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &loop, check);
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    QTimer::singleShot(timeoutMs, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    poll.start(10);
    loop.exec();
    return !timedOut || ready();
}
