#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <sys/resource.h>

// GCC tells by a macro, clang by a feature test. Qt defines a __has_feature that answers 0
// for compilers without one, so the macro has to be asked first.
#if defined(__SANITIZE_ADDRESS__)
#define TESKMANAGER_TESTS_SANITIZED
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESKMANAGER_TESTS_SANITIZED
#endif
#endif

// The longest the window may go without turning its event loop. A sanitized build runs the same
// code about twenty times slower, so it gets more room; the plain run holds the real bound.
#ifdef TESKMANAGER_TESTS_SANITIZED
constexpr qint64 maxLatenessMs = 1500;
#else
constexpr qint64 maxLatenessMs = 500;
#endif

// Measures how long the GUI thread goes without turning its event loop: a timer that should
// fire every interval records by how much each tick came late. A window that stalls for a
// second shows up as a tick a second late, whatever the stall was spent on.
class ResponsivenessProbe {
public:
    explicit ResponsivenessProbe(int intervalMs = 10)
        : m_interval(intervalMs)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(intervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }

    void start()
    {
        m_worst = 0;
        m_ticks = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    void stop()
    {
        if (m_timer.isActive())
            tick(); // a stall still going on at the end counts as well
        m_timer.stop();
    }

    // The largest gap between two ticks beyond the interval, in milliseconds.
    qint64 worstLatenessMs() const { return m_worst; }
    int ticks() const { return m_ticks; }

private:
    void tick()
    {
        const qint64 now = m_clock.elapsed();
        m_worst = qMax(m_worst, now - m_last - m_interval);
        m_last = now;
        ++m_ticks;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    const int m_interval;
    qint64 m_last = 0;
    qint64 m_worst = 0;
    int m_ticks = 0;
};

// User plus system time the process has used so far: a busy loop shows up here even when every
// timer still fires on time.
inline double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
