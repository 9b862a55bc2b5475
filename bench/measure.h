#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Resident memory of this process in MB (10^6 bytes): now, and the peak since the last reset.
struct Memory {
    double rssMb = 0;
    double peakMb = 0;
};
Memory memoryNow();
// Makes the peak start again from the current resident size (a no-op where the kernel lacks it).
void resetPeakMemory();
// User plus system CPU time of the whole process so far, in seconds.
double cpuSeconds();

struct Lateness {
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    int samples = 0;
};

// Nearest-rank percentile of an unsorted sample; 0 for an empty one.
double percentile(std::vector<double> values, double fraction);

// Waits for a flood to be taken in while a 10 ms precise timer on the GUI thread measures how
// late the event loop lets it run: the lateness of a tick is its gap to the previous one minus
// 10 ms. run() returns when done() holds (checked on every tick and on every check() call, which
// arrival hooks make) or when the time-out has passed.
//
// A single append can keep the GUI thread away for minutes, and then the time-out is never
// checked. For that case a watchdog thread calls the stuck handler once the probe has not run
// for the grace period, or the time-out plus the grace has passed; the handler runs on the
// watchdog thread, may use only the thread-safe members below (and files), and is expected to
// report and end the process.
class FloodWait : public QObject {
    Q_OBJECT

public:
    FloodWait(std::function<bool()> done, int timeoutMs);
    ~FloodWait() override;

    void setStuckHandler(std::function<void()> handler, int graceMs);
    // Thread-safe: the figures so far, the stall in progress included.
    double secondsNow() const;
    Lateness latenessNow() const;

    // Starts the probe and the clock, calls begin() (which releases the flood) and runs an
    // event loop until done or timed out; true when done.
    bool run(const std::function<void()> &begin);

    double seconds() const { return m_seconds; }
    bool timedOut() const { return m_timedOut; }
    Lateness lateness() const { return latenessNow(); }

public slots:
    void check();

private:
    void tick();
    void finish(bool timedOut);
    void watch();

    std::function<bool()> m_done;
    int m_timeoutMs;
    QTimer m_probe;
    QElapsedTimer m_clock;
    QEventLoop m_loop;
    std::atomic<qint64> m_lastTickNs { 0 };
    std::atomic<bool> m_running { false };
    bool m_timedOut = false;
    double m_seconds = 0;

    mutable std::mutex m_mutex;
    std::vector<double> m_lateMs;
    std::condition_variable m_finished;
    std::function<void()> m_stuckHandler;
    int m_graceMs = 0;
    std::thread m_watchdog;
};
