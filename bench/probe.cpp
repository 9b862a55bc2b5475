#include "probe.h"

#include "modaldialoghelper.h"
#include "testenvironment.h"

#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>
#include <xcb/xcb.h>

qint64 monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Resident pages are the second field.
double rssMb(qint64 pid)
{
    const QString statmPath
        = pid ? QStringLiteral("/proc/%1/statm").arg(pid) : QStringLiteral("/proc/self/statm");
    const QList<QByteArray> statm = fileContents(statmPath).split(' ');
    return statm.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / 1e6;
}

void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool runEventsUntil(const std::function<bool()> &done, qint64 timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    return done();
}

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = size_t(std::ceil(fraction * double(values.size())));
    return values[std::min(values.size() - 1, rank > 0 ? rank - 1 : 0)];
}

namespace {

const int latenessIntervalMs = 10;

} // namespace

LatenessProbe::LatenessProbe()
{
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    m_clock.start();
    m_timer.start(latenessIntervalMs);
}

std::vector<double> LatenessProbe::latenessMs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<double> late = m_late;
    late.push_back(std::max(0.0, sinceLastTickMs() - latenessIntervalMs));
    return late;
}

double LatenessProbe::sinceLastTickMs() const
{
    return double(m_clock.nsecsElapsed() - m_lastNs) / 1e6;
}

void LatenessProbe::tick()
{
    const qint64 now = m_clock.nsecsElapsed();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_late.push_back(std::max(0.0, double(now - m_lastNs) / 1e6 - latenessIntervalMs));
    m_lastNs = now;
}

CpuAroundBox::CpuAroundBox(ModalDialogHelper &dialogs)
{
    QObject::connect(&dialogs, &ModalDialogHelper::seen, &m_context, [this] {
        m_cpuAtSeen = processCpuSeconds();
        m_seenNs = monotonicNs();
    });
    QObject::connect(&dialogs, &ModalDialogHelper::answered, &m_context, [this] {
        m_cpuAtAnswer = processCpuSeconds();
        m_answeredNs = monotonicNs();
    });
}

qint64 CpuAroundBox::sinceAnswerMs() const
{
    return m_answeredNs ? (monotonicNs() - m_answeredNs) / 1'000'000 : 0;
}

QJsonObject CpuAroundBox::figures() const
{
    if (!m_answeredNs)
        return {};
    auto percent = [](double cpuSeconds, qint64 ns) { return cpuSeconds / double(ns) * 1e11; };
    return { { "box_up_cpu_percent",
               percent(m_cpuAtAnswer - m_cpuAtSeen, m_answeredNs - m_seenNs) },
             { "after_cpu_percent",
               percent(processCpuSeconds() - m_cpuAtAnswer, monotonicNs() - m_answeredNs) } };
}

quint32 xAtom(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, quint16(std::strlen(name)), name), nullptr);
    const quint32 result = reply ? reply->atom : 0;
    std::free(reply);
    return result;
}

quint32 windowOfProcess(qint64 pid)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    quint32 found = 0;
    if (!xcb_connection_has_error(connection)) {
        const quint32 clientList = xAtom(connection, "_NET_CLIENT_LIST");
        const quint32 pidAtom = xAtom(connection, "_NET_WM_PID");
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        auto property = [&](xcb_window_t window, quint32 atom, quint32 type) {
            return xcb_get_property_reply(
                connection, xcb_get_property(connection, 0, window, atom, type, 0, 1024), nullptr);
        };
        if (xcb_get_property_reply_t *clients = property(root, clientList, XCB_ATOM_WINDOW)) {
            const auto *windows
                = static_cast<const xcb_window_t *>(xcb_get_property_value(clients));
            const int count = xcb_get_property_value_length(clients) / int(sizeof(xcb_window_t));
            for (int i = 0; i < count && !found; ++i) {
                if (xcb_get_property_reply_t *owner
                    = property(windows[i], pidAtom, XCB_ATOM_CARDINAL)) {
                    if (xcb_get_property_value_length(owner) == 4
                        && *static_cast<const quint32 *>(xcb_get_property_value(owner))
                            == quint32(pid))
                        found = windows[i];
                    std::free(owner);
                }
            }
            std::free(clients);
        }
    }
    xcb_disconnect(connection);
    return found;
}

QString windowSize(quint32 window)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    QString size;
    if (xcb_get_geometry_reply_t *geometry
        = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr)) {
        size = QStringLiteral("%1x%2").arg(geometry->width).arg(geometry->height);
        std::free(geometry);
    }
    if (xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, window), nullptr)) {
        if (attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            size += QStringLiteral(" hidden");
        std::free(attributes);
    }
    xcb_disconnect(connection);
    return size;
}

PingProbe::PingProbe(quint32 window)
    : m_connection(xcb_connect(nullptr, nullptr))
    , m_window(window)
{
    if (xcb_connection_has_error(m_connection))
        return;
    m_protocols = xAtom(m_connection, "WM_PROTOCOLS");
    m_ping = xAtom(m_connection, "_NET_WM_PING");
    // The client answers by sending the ping to the root window: Qt 5 for structure listeners,
    // the window manager's way for substructure ones.
    const quint32 mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    xcb_change_window_attributes(m_connection, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(m_connection);
    m_thread = std::thread(&PingProbe::run, this);
}

PingProbe::~PingProbe()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
    xcb_disconnect(m_connection);
}

std::vector<double> PingProbe::roundTripsMs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<double> all = m_roundTrips;
    if (m_sentNs)
        all.push_back(waitingMs());
    return all;
}

double PingProbe::waitingMs() const
{
    const qint64 sent = m_sentNs;
    return sent ? double(monotonicNs() - sent) / 1e6 : 0;
}

void PingProbe::run()
{
    xcb_client_message_event_t ping {};
    ping.response_type = XCB_CLIENT_MESSAGE;
    ping.format = 32;
    ping.window = m_window;
    ping.type = m_protocols;
    ping.data.data32[0] = m_ping;
    ping.data.data32[2] = m_window;
    for (quint32 serial = 1; !m_stopping; ++serial) {
        ping.data.data32[1] = serial; // the timestamp field, which the answer carries back
        const qint64 sent = m_sentNs = monotonicNs();
        xcb_send_event(m_connection, 0, m_window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(&ping));
        xcb_flush(m_connection);
        if (!awaitReply(serial))
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_roundTrips.push_back(double(monotonicNs() - sent) / 1e6);
            m_sentNs = 0;
        }
        std::this_thread::sleep_for(std::chrono::nanoseconds(sent + 10000000 - monotonicNs()));
    }
}

bool PingProbe::awaitReply(quint32 serial)
{
    pollfd readable { xcb_get_file_descriptor(m_connection), POLLIN, 0 };
    for (; !m_stopping && !xcb_connection_has_error(m_connection); ::poll(&readable, 1, 50)) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            const auto *message = reinterpret_cast<xcb_client_message_event_t *>(event);
            const bool answer = (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE
                && message->type == m_protocols && message->data.data32[0] == m_ping
                && message->data.data32[1] == serial;
            std::free(event);
            if (answer)
                return true;
        }
    }
    return false;
}

StallProbe::StallProbe(bool x, QWidget *window)
    : m_timer(x ? nullptr : new LatenessProbe)
    , m_ping(x ? new PingProbe(quint32(window->winId())) : nullptr)
{
}

StallProbe::~StallProbe() = default;

double StallProbe::ongoingMs() const
{
    return m_ping ? m_ping->waitingMs() : m_timer->sinceLastTickMs();
}

QJsonObject StallProbe::figures() const
{
    const std::vector<double> ms = m_ping ? m_ping->roundTripsMs() : m_timer->latenessMs();
    return { { "p50", percentile(ms, 0.5) },
             { "p99", percentile(ms, 0.99) },
             { "max", percentile(ms, 1) },
             { "samples", int(ms.size()) } };
}

namespace {
constexpr qint64 quietSampleNs = 10'000'000;
constexpr qint64 quietWindowNs = 500'000'000;
constexpr qint64 quietCpuNs = quietWindowNs / 50;
constexpr qint64 busySampleCpuNs = quietSampleNs / 5;

qint64 threadCpuNs(clockid_t clock)
{
    timespec now {};
    clock_gettime(clock, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}
} // namespace

QuietWatch::QuietWatch()
{
    pthread_getcpuclockid(pthread_self(), &m_clock);
    m_thread = std::thread([this] {
        while (!m_stopping) {
            const Sample sample { monotonicNs(), threadCpuNs(m_clock) };
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_samples.push_back(sample);
            }
            std::this_thread::sleep_for(std::chrono::nanoseconds(quietSampleNs));
        }
    });
}

QuietWatch::~QuietWatch()
{
    m_stopping = true;
    m_thread.join();
}

double QuietWatch::shareSince(qint64 fromNs) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto first = std::find_if(m_samples.begin(), m_samples.end(),
                                    [&](const Sample &sample) { return sample.atNs >= fromNs; });
    if (first == m_samples.end() || m_samples.back().atNs <= first->atNs)
        return 0;
    return double(m_samples.back().cpuNs - first->cpuNs)
        / double(m_samples.back().atNs - first->atNs);
}

qint64 QuietWatch::endedAfter(qint64 fromNs, double idleShare) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::vector<Sample> &s = m_samples;
    if (s.empty())
        return 0;
    const Sample &last = s.back();
    // The sample that opens the quiet window, which must lie after the moment asked about.
    auto opening = std::find_if(s.rbegin(), s.rend(), [&](const Sample &sample) {
        return sample.atNs <= last.atNs - quietWindowNs;
    });
    if (opening == s.rend() || opening->atNs < fromNs - 2 * quietSampleNs
        || last.cpuNs - opening->cpuNs
            >= quietCpuNs + qint64(idleShare * double(last.atNs - opening->atNs)))
        return 0;
    auto k = size_t(s.rend() - opening - 1);
    while (k > 0 && s[k].atNs > fromNs && s[k].cpuNs - s[k - 1].cpuNs < busySampleCpuNs)
        --k;
    return std::max(s[k].atNs, fromNs);
}
