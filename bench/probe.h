#pragma once

#include "responsiveness.h"

#include <QJsonObject>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QWidget;
struct xcb_connection_t;

// Shared by every process on the machine, so a child's moments compare with its parent's.
qint64 monotonicNs();

// Resident memory of this process in MB.
double rssMb();

// Unlike QTest::qWait, which sleeps between slices, an event loop that only timers wake.
void runEventsFor(int ms);

// How long a window in a real X server keeps its user waiting, as the window manager sees it: a
// _NET_WM_PING goes to the window from an X connection and a thread of its own, and the toolkit
// answers it on the GUI thread, so the round trip is the stall. The next ping leaves 10 ms after
// the previous one, or at its answer when that came later: a stall is one sample, however long.
class PingProbe {
public:
    explicit PingProbe(quint32 window);
    ~PingProbe();

    // Every round trip in ms, one still waiting counted as far as it has gone; thread-safe.
    std::vector<double> roundTripsMs() const;
    double waitingMs() const;

private:
    void run();
    bool awaitReply(quint32 serial);

    xcb_connection_t *m_connection;
    quint32 m_window;
    quint32 m_protocols = 0;
    quint32 m_ping = 0;
    std::atomic<bool> m_stopping { false };
    std::atomic<qint64> m_sentNs { 0 }; // 0 while no ping waits for its answer
    mutable std::mutex m_mutex;
    std::vector<double> m_roundTrips;
    std::thread m_thread;
};

// The stalls of a window from now on: in X the round trip of a ping to it, offscreen the
// lateness of a 10 ms timer. Both may be read from another thread.
class StallProbe {
public:
    StallProbe(bool x, QWidget *window);
    ~StallProbe();

    // How long the window has kept the probe waiting so far.
    double ongoingMs() const;
    // p50, p99, max and the count of samples.
    QJsonObject figures() const;

private:
    const std::unique_ptr<ResponsivenessProbe> m_timer;
    const std::unique_ptr<PingProbe> m_ping;
};
