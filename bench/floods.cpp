#include "floods.h"

#include "probe.h"
#include "report.h"
#include "windowfixture.h"

#include <QFileInfo>
#include <QJsonArray>

#include <chrono>
#include <thread>

#include <unistd.h>

namespace {

void checkLogs(QJsonObject &f, const std::vector<FloodedLog> &logs, bool hex,
               const QByteArray &payload)
{
    qint64 logged = 0;
    bool intact = true;
    for (const FloodedLog &log : logs) {
        // Hex renderings are digit pairs with spaces and line breaks between.
        const QByteArray text = fileContents(log.path);
        const QByteArray bytes = hex ? QByteArray::fromHex(text) : text;
        logged += bytes.size();
        intact = intact && payload.startsWith(bytes);
    }
    f.insert("bytes_logged", double(logged));
    f.insert("logs", verdict(intact, logged == payload.size() * qint64(logs.size())));
}

// The window's channels first to last, as flood() watches them.
std::vector<FloodedLog> windowLogs(WindowFixture &fixture, int first, int last)
{
    std::vector<FloodedLog> list;
    for (int c = first; c <= last; ++c)
        list.push_back(
            // The core's own count: asking the window's counter would catch its view up at every
            // look, and the bench would measure its own probe instead of the program.
            { fixture.logPath(c), [&fixture, c] { return fixture.channel(c).receivedCount(); },
              c == serial });
    return list;
}

} // namespace

bool connectNetwork(WindowFixture &fixture, int channels, const FloodPeer &peer, bool hex)
{
    for (int c = 1; c <= channels; ++c) {
        fixture.setHexMode(c, hex);
        if (!fixture.connectTo(c, peer.peer.port()) || !peer.connected(c))
            return false;
    }
    return true;
}

QJsonObject flood(const BenchOptions &o, QWidget *window, const std::vector<FloodedLog> &logs,
                  bool hex, const QByteArray &payload, const std::function<void()> &start,
                  const std::function<void()> &over, bool untilQuiet)
{
    settle(o, 300);
    QJsonObject f { { "rss_before_mb", rssMb() },
                    { "bytes_sent", double(payload.size() * qint64(logs.size())) } };
    // Hex adds two characters per byte and a line break per network arrival; the serial log
    // breaks its lines at a line feed's pair instead.
    auto done = [&] {
        return std::all_of(logs.begin(), logs.end(), [&](const FloodedLog &log) {
            const qint64 n = payload.size();
            return QFileInfo(log.path).size()
                == (hex ? 3 * n + (log.serial ? 0 : log.arrivals()) : n);
        });
    };

    StallProbe stalls(o.x, window);
    const QuietWatch quiet;
    // What the bench itself costs the idle window, with the probe running, as the wait for the
    // quiet below costs it.
    const qint64 idleFromNs = monotonicNs();
    runEventsUntil([] { return false; }, o.smoke ? 50 : 500);
    const double idleShare = quiet.shareSince(idleFromNs);
    f.insert("bench_idle_cpu_percent", 100 * idleShare);
    QElapsedTimer clock;
    clock.start();
    const qint64 startNs = monotonicNs();
    qint64 logNs = 0;
    qint64 quietNs = 0;
    auto figuresNow = [&](QJsonObject g) {
        // A person sees the flood over once the window has taken it all in, not once its log has.
        const qint64 endNs = quietNs ? quietNs : startNs + clock.nsecsElapsed();
        const double seconds = double(endNs - startNs) / 1e9;
        g.insert("seconds", seconds);
        if (logNs)
            g.insert("log_seconds", double(logNs - startNs) / 1e9);
        g.insert("stall", stalls.figures());
        g.insert("rss_after_mb", rssMb());
        checkLogs(g, logs, hex, payload);
        g.insert("mb_per_s", g.value("bytes_logged").toDouble() / 1e6 / seconds);
        return g;
    };
    std::atomic<bool> finished { false };
    JoiningThread watchdog([&] { finished = true; });
    watchdog.start([&] {
        while (!finished) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!finished
                && (stalls.ongoingMs() > o.stuckSeconds * 1000.0
                    || clock.elapsed() > (o.floodTimeout + o.stuckSeconds) * 1000)) {
                QJsonObject g = figuresNow(f);
                g.insert("stuck", true);
                printFigures(g);
                std::_Exit(3);
            }
        }
    });

    start();
    // Not QTest::qWaitFor, which sleeps between its looks.
    if (runEventsUntil(done, o.floodTimeout * 1000) && untilQuiet) {
        logNs = monotonicNs();
        runEventsUntil([&] { return (quietNs = quiet.endedAfter(logNs, idleShare)) != 0; },
                       o.floodTimeout * 1000);
    }
    if (over)
        over();
    f = figuresNow(f);
    watchdog.join();
    f.insert("timed_out", !done());
    QJsonArray arrivals;
    for (const FloodedLog &log : logs)
        arrivals.append(log.arrivals());
    f.insert("arrivals", arrivals);
    settle(o, 300);
    f.insert("rss_after_mb", rssMb());
    return f;
}

QJsonObject appFlood(const BenchOptions &o, int channels, bool hex, const QByteArray &payload)
{
    WindowFixture fixture;
    FloodPeer peer(payload);
    if (!setUp(fixture, o, false))
        return { { "error", "no window" } };
    const int first = channels ? 1 : serial;
    if (channels ? !connectNetwork(fixture, channels, peer, hex) : !fixture.open(serial, hex))
        return { { "error", "could not open the link" } };
    QJsonObject f = flood(o, &fixture.window(), windowLogs(fixture, first, qMax(channels, serial)),
                          hex, payload, [&] { peer.start(channels ? nullptr : &fixture.pty); });
    const QSize view = fixture.view(first)->size();
    f.insert("view", QStringLiteral("%1x%2").arg(view.width()).arg(view.height()));
    return f;
}

// The three network channels take an ASCII flood while a device sends 920 bytes every 10 ms
// (92 KB/s) on the serial line; how far the device falls behind that schedule is how long the
// program held it back.
QJsonObject pacedSerial(const BenchOptions &o)
{
    const QByteArray payload = textPayload(o.tcpBytes, 7);
    const QByteArray line = textPayload(o.serialBytes, 17);
    WindowFixture fixture;
    FloodPeer peer(payload);
    if (!setUp(fixture, o) || !connectNetwork(fixture, 3, peer, false))
        return { { "error", "set-up failed" } };
    std::atomic<bool> stop { false };
    // Checking the logs after the flood keeps the window from reading for a while; that is the
    // bench's doing, not the program's.
    std::atomic<bool> measuring { true };
    std::atomic<qint64> written { 0 };
    qint64 heldBackNs = 0;
    JoiningThread device([&] { stop = true; });
    auto play = [&] {
        const int chunk = 920;
        const qint64 start = monotonicNs();
        for (qint64 k = 0; !stop && (k + 1) * chunk <= line.size(); ++k) {
            const qint64 due = start + k * 10'000'000;
            std::this_thread::sleep_for(std::chrono::nanoseconds(due - monotonicNs()));
            // Partial writes count, so that a device held back for long neither gives up nor
            // repeats itself.
            for (qint64 end = (k + 1) * chunk; written < end && !stop;) {
                const ssize_t n = ::write(fixture.pty.masterFd(), line.constData() + written,
                                          size_t(end - written));
                if (n > 0)
                    written += n;
                else
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
            if (measuring)
                heldBackNs = qMax(heldBackNs, monotonicNs() - due);
        }
    };
    QJsonObject f = flood(
        o, &fixture.window(), windowLogs(fixture, 1, 3), false, payload,
        [&] {
            peer.start(nullptr);
            device.start(play);
        },
        // The device goes on sending after the network floods: the window is never quiet.
        [&] { measuring = false; }, false);
    device.join();
    f.insert("serial_caught_up",
             QTest::qWaitFor([&] { return fixture.log(serial).size() >= written; }, 60000));
    const QByteArray logged = fixture.log(serial);
    f.insert("device_held_back_ms", double(heldBackNs) / 1e6);
    f.insert("serial_bytes", double(written));
    f.insert("serial_log", verdict(line.startsWith(logged), logged.size() == written));
    return f;
}
