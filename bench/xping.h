#pragma once

#include <QtGlobal>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

struct xcb_connection_t;

// How long a window in a real X server keeps its user waiting, as the window manager sees it: a
// _NET_WM_PING goes to the window from an X connection and a thread of its own, and the toolkit
// answers it on the GUI thread, so the round trip is the stall. The next ping leaves 10 ms after
// the previous one, or at its answer when that came later: a stall is one sample, however long.
class PingProbe {
public:
    explicit PingProbe(quint32 window);
    ~PingProbe();
    PingProbe(const PingProbe &) = delete;
    PingProbe &operator=(const PingProbe &) = delete;

    bool isValid() const { return m_thread.joinable(); }
    // Every round trip in ms, one still waiting counted as far as it has gone; thread-safe.
    std::vector<double> roundTripsMs() const;
    double waitingMs() const;

private:
    void run();
    bool awaitReply(quint32 serial);

    xcb_connection_t *m_connection = nullptr;
    quint32 m_window;
    quint32 m_protocols = 0;
    quint32 m_ping = 0;
    std::atomic<bool> m_stopping { false };
    std::atomic<qint64> m_sentNs { 0 };
    std::atomic<bool> m_waiting { false };
    mutable std::mutex m_mutex;
    std::vector<double> m_roundTrips;
    std::thread m_thread;
};

// Whether a window manager has announced itself on the display named by DISPLAY.
bool windowManagerRunning();
