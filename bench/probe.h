#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QtGlobal>

#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class ModalDialogHelper;
class QWidget;
struct xcb_connection_t;

// Shared by every process on the machine, so a child's moments compare with its parent's.
qint64 monotonicNs();

// Resident memory in MB of this process, or of the one with that pid.
double rssMb(qint64 pid = 0);

// Unlike QTest::qWait, which sleeps between slices, an event loop that only timers wake.
void runEventsFor(int ms);
// The same until done holds, looked at every 5 ms, or the time-out; whether it held.
bool runEventsUntil(const std::function<bool()> &done, qint64 timeoutMs);

// User plus system time the process has used so far: a busy loop shows up here even when every
// timer still fires on time.
double processCpuSeconds();

// The X atom of that name.
quint32 xAtom(xcb_connection_t *connection, const char *name);

// The window that the window manager lists for the process, or 0.
quint32 windowOfProcess(qint64 pid);

// The window's size as the X server has it, "WxH", and "hidden" when it is not on the screen.
QString windowSize(quint32 window);

// Nearest-rank percentile of a sample (fraction 0.5 is the median); 0 for an empty one.
double percentile(std::vector<double> values, double fraction);

// How long the GUI thread goes without turning its event loop: a timer that should fire every
// 10 ms records by how much each tick came late. A window that stalls for a second shows up as a
// tick a second late, whatever the stall was spent on. The figures may be read from another
// thread, also while the GUI thread is stuck in a call.
class LatenessProbe {
public:
    LatenessProbe();

    // Each tick's lateness in ms, a stall still going on counted as far as it has gone.
    std::vector<double> latenessMs() const;
    double sinceLastTickMs() const;

private:
    void tick();

    QTimer m_timer;
    QElapsedTimer m_clock;
    std::atomic<qint64> m_lastNs { 0 };
    mutable std::mutex m_mutex;
    std::vector<double> m_late;
};

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
    const std::unique_ptr<LatenessProbe> m_timer;
    const std::unique_ptr<PingProbe> m_ping;
};

// When the thread that makes it has finished what it was doing, as a person at the desk tells:
// the log may hold every byte while the window still takes in what came, busy and behind. The
// thread's CPU time is sampled every 10 ms from a thread of its own; the work is over once 0.5 s
// at less than 2 % of a core above what the thread takes when idle have followed, and it ended at
// the last sample that took at least a fifth of a core. In the bench, the idle thread answers the
// stall probe and looks for boxes, which costs it about as much again.
class QuietWatch {
public:
    QuietWatch();
    ~QuietWatch();

    // The share of a core that the thread took from `fromNs` (a monotonicNs() moment) to now.
    double shareSince(qint64 fromNs) const;
    // When the work went on until after `fromNs`, once it is over; 0 while it is not.
    qint64 endedAfter(qint64 fromNs, double idleShare) const;

private:
    struct Sample {
        qint64 atNs;
        qint64 cpuNs;
    };

    clockid_t m_clock {};
    std::atomic<bool> m_stopping { false };
    mutable std::mutex m_mutex;
    std::vector<Sample> m_samples;
    std::thread m_thread;
};

// The process's CPU time, in per cent of one core, while a box that the helper holds back is up
// and from its answer on: a window that waits for its user has to be idle.
class CpuAroundBox {
public:
    explicit CpuAroundBox(ModalDialogHelper &dialogs);

    // 0 until the box has been answered.
    qint64 sinceAnswerMs() const;
    // box_up_cpu_percent and after_cpu_percent.
    QJsonObject figures() const;

private:
    QObject m_context;
    qint64 m_seenNs = 0;
    qint64 m_answeredNs = 0;
    double m_cpuAtSeen = 0;
    double m_cpuAtAnswer = 0;
};
