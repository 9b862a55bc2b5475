#pragma once

#include "modaldialoghelper.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
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
        if (m_timer.isActive())
            tick(); // a stall still going on at the end counts as well
        m_timer.stop();
    }

    // Whether no gap between two ticks went beyond the interval by more than the bound (plus
    // what a case may add to it).
    bool keptUp(qint64 slackMs = 0) const { return m_worst <= maxLatenessMs + slackMs; }
    QString summary() const
    {
        return QStringLiteral("worst probe lateness %1 ms over %2 ticks in %3 ms")
            .arg(m_worst)
            .arg(m_ticks)
            .arg(m_last);
    }

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
