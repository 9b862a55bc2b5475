#pragma once

#include "modaldialoghelper.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

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

// The most CPU a window may take while a box of 0.3 s is up: a loop spinning on an error would
// take all of it; painting the box and what arrived before it takes a fraction, more when
// sanitized.
#ifdef TESKMANAGER_TESTS_SANITIZED
constexpr double maxCpuWhileBoxUp = 0.2;
#else
constexpr double maxCpuWhileBoxUp = 0.1;
#endif

// A marker queued behind everything the event loop holds now, due delayMs later: once it has
// passed, whatever the window had posted or was due to do by then, a box included, has happened.
inline bool passMarker(int delayMs = 0)
{
    QObject context;
    bool passed = false;
    QTimer::singleShot(delayMs, &context, [&] { passed = true; });
    return QTest::qWaitFor([&] { return passed; }, delayMs + 5000);
}

// Nearest-rank percentile of a sample (fraction 0.5 is the median); 0 for an empty one.
inline double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = size_t(std::ceil(fraction * double(values.size())));
    return values[std::min(values.size() - 1, rank > 0 ? rank - 1 : 0)];
}

// Measures how long the GUI thread goes without turning its event loop: a timer that should
// fire every interval records by how much each tick came late. A window that stalls for a
// second shows up as a tick a second late, whatever the stall was spent on. The figures may be
// read from another thread, also while the GUI thread is stuck in a call.
class ResponsivenessProbe {
public:
    // Measures from here on.
    explicit ResponsivenessProbe(int intervalMs = 10)
        : m_interval(intervalMs)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_clock.start();
        m_timer.start(intervalMs);
    }
    void stop()
    {
        if (m_running)
            tick(); // a stall still going on at the end counts as well
        m_running = false;
        m_timer.stop();
    }

    // Whether no gap between two ticks went beyond the interval by more than the bound (plus
    // what a case may add to it).
    bool keptUp(qint64 slackMs = 0) const { return worstMs() <= double(maxLatenessMs + slackMs); }
    // Each tick's lateness in ms, a stall still going on counted as far as it has gone.
    std::vector<double> latenessMs() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<double> late = m_late;
        if (m_running)
            late.push_back(std::max(0.0, sinceLastTickMs() - m_interval));
        return late;
    }
    double sinceLastTickMs() const { return double(m_clock.nsecsElapsed() - m_lastNs) / 1e6; }
    double worstMs() const
    {
        const std::vector<double> late = latenessMs();
        return late.empty() ? 0 : *std::max_element(late.begin(), late.end());
    }
    QString summary() const
    {
        const std::vector<double> late = latenessMs();
        return QStringLiteral("probe lateness p99 %1 ms, worst %2 ms over %3 ticks in %4 ms")
            .arg(percentile(late, 0.99), 0, 'f', 1)
            .arg(worstMs(), 0, 'f', 1)
            .arg(late.size())
            .arg(m_lastNs / 1000000);
    }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_late.push_back(std::max(0.0, double(now - m_lastNs) / 1e6 - m_interval));
        m_lastNs = now;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    const int m_interval;
    std::atomic<qint64> m_lastNs { 0 };
    std::atomic<bool> m_running { true };
    mutable std::mutex m_mutex;
    std::vector<double> m_late;
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

// The process's CPU time while a dialog that the helper holds back is up, and since the helper
// answered it: a window that waits for its user has to be idle.
class CpuWhileDialogUp {
public:
    explicit CpuWhileDialogUp(ModalDialogHelper &dialogs)
    {
        QObject::connect(&dialogs, &ModalDialogHelper::seen, &m_context,
                         [this] { m_atSeen = processCpuSeconds(); });
        QObject::connect(&dialogs, &ModalDialogHelper::answered, &m_context, [this] {
            m_atAnswer = processCpuSeconds();
            m_whileUp = m_atAnswer - m_atSeen;
        });
    }

    double whileUp() const { return m_whileUp; }
    double sinceAnswer() const { return processCpuSeconds() - m_atAnswer; }

private:
    QObject m_context;
    double m_atSeen = 0;
    double m_atAnswer = 0;
    double m_whileUp = 0;
};
