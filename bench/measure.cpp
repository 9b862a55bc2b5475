#include "measure.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <cmath>

#include <sys/resource.h>

namespace {

double statusFieldMb(const QByteArray &status, const char *field)
{
    const int at = status.indexOf(field);
    if (at < 0)
        return 0;
    const int end = status.indexOf('\n', at);
    const QByteArray line = status.mid(at + int(qstrlen(field)), end - at - int(qstrlen(field)));
    return line.simplified().split(' ').value(0).toDouble() * 1024.0 / 1e6;
}

} // namespace

Memory memoryNow()
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray status = file.readAll();
    return { statusFieldMb(status, "VmRSS:"), statusFieldMb(status, "VmHWM:") };
}

void resetPeakMemory()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    if (file.open(QIODevice::WriteOnly))
        file.write("5");
}

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = size_t(std::ceil(fraction * double(values.size())));
    return values[std::min(values.size() - 1, rank > 0 ? rank - 1 : 0)];
}

FloodWait::FloodWait(std::function<bool()> done, int timeoutMs)
    : m_done(std::move(done))
    , m_timeoutMs(timeoutMs)
{
    m_probe.setTimerType(Qt::PreciseTimer);
    m_probe.setInterval(10);
    connect(&m_probe, &QTimer::timeout, this, &FloodWait::tick);
}

FloodWait::~FloodWait()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
        m_finished.notify_all();
    }
    if (m_watchdog.joinable())
        m_watchdog.join();
}

void FloodWait::setStuckHandler(std::function<void()> handler, int graceMs)
{
    m_stuckHandler = std::move(handler);
    m_graceMs = graceMs;
}

bool FloodWait::run(const std::function<void()> &begin)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lateMs.clear();
    }
    m_timedOut = false;
    m_running = true;
    m_clock.start();
    m_lastTickNs = 0;
    if (m_stuckHandler)
        m_watchdog = std::thread(&FloodWait::watch, this);
    m_probe.start();
    begin();
    if (m_running)
        m_loop.exec();
    return !m_timedOut;
}

double FloodWait::secondsNow() const
{
    return m_running ? double(m_clock.nsecsElapsed()) / 1e9 : m_seconds;
}

Lateness FloodWait::latenessNow() const
{
    std::vector<double> late;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        late = m_lateMs;
    }
    // A stall still going on counts as far as it has gone.
    if (m_running) {
        const double pending = double(m_clock.nsecsElapsed() - m_lastTickNs) / 1e6 - 10.0;
        if (pending > 0)
            late.push_back(pending);
    }
    Lateness result;
    result.p50 = percentile(late, 0.50);
    result.p99 = percentile(late, 0.99);
    result.max = late.empty() ? 0 : *std::max_element(late.begin(), late.end());
    result.samples = int(late.size());
    return result;
}

void FloodWait::tick()
{
    const qint64 now = m_clock.nsecsElapsed();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lateMs.push_back(std::max(0.0, double(now - m_lastTickNs) / 1e6 - 10.0));
    }
    m_lastTickNs = now;
    check();
}

void FloodWait::check()
{
    if (!m_running)
        return;
    if (m_done())
        finish(false);
    else if (m_clock.elapsed() > m_timeoutMs)
        finish(true);
}

void FloodWait::finish(bool timedOut)
{
    const qint64 now = m_clock.nsecsElapsed();
    m_seconds = double(now) / 1e9;
    std::lock_guard<std::mutex> lock(m_mutex);
    const double pending = double(now - m_lastTickNs) / 1e6 - 10.0;
    if (pending > 0)
        m_lateMs.push_back(pending);
    m_running = false;
    m_timedOut = timedOut;
    m_probe.stop();
    m_loop.quit();
    m_finished.notify_all();
}

void FloodWait::watch()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const qint64 graceNs = qint64(m_graceMs) * 1000000;
    const qint64 deadlineNs = qint64(m_timeoutMs) * 1000000 + graceNs;
    while (
        !m_finished.wait_for(lock, std::chrono::milliseconds(250), [this] { return !m_running; })) {
        const qint64 now = m_clock.nsecsElapsed();
        if (now - m_lastTickNs > graceNs || now > deadlineNs) {
            lock.unlock();
            m_stuckHandler();
            return;
        }
    }
}
