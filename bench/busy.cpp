#include "busy.h"

#include "joiningthread.h"
#include "probe.h"
#include "pty.h"
#include "tcppeer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <csignal>
#include <memory>
#include <mutex>

const BusyRow busyRows[4] = {
    { "busy, 4 channels, 20 lines/s in and a send every 100 ms each: CPU of one core",
      "{cpu_percent:2} % over {seconds:0} s", "≤ 7 %" },
    { "— stall p50 / p99 / max", "{stall.p50} / {stall.p99} / {stall.max} ms",
      "p99 ≤ 5, max ≤ 20 ms" },
    { "— RSS at start → end", "{rss_start_mb} → {rss_end_mb} MB", "flat" },
    { "— logs: lines in; TX lines (serial, 1, 2, 3)", "{logs}; {tx_lines}", "complete" },
};

namespace {

constexpr int lineIntervalMs = 50;
constexpr int periodMs = 100;
const QByteArray deviceCommand = "AT";
const QByteArray networkCommand = "PING";

// One peer's side of a link: what it sent and what it got, written by its thread and read once
// that thread is done with the link.
struct Stream {
    std::mutex mutex;
    QByteArray sent;
    QByteArray received;
};

// Lines of lower-case text and digits, so that no command can be read into them and neither the
// rendering nor the serial view's clean-up changes them.
QByteArray peerLine(int peer, int number)
{
    return QByteArray("peer ") + QByteArray::number(peer) + " line "
        + QByteArray::number(number).rightJustified(7, '0')
        + " abcdefghijklmnopqrstuvwxyz 0123456789\n";
}

qint64 nowMs()
{
    return monotonicNs() / 1000000;
}

// Plays one end of a link until told to stop: a line every 50 ms while `sending`, and whatever
// comes back is kept. `readSome` returns false when the link has ended.
template<class Read, class Write>
void playPeer(int peer, Stream &stream, const std::atomic<bool> &sending,
              const std::atomic<bool> &stopping, int fd, Read readSome, Write writeLine)
{
    qint64 due = 0;
    int number = 0;
    while (!stopping) {
        const qint64 now = nowMs();
        if (sending && now >= due) {
            const QByteArray line = peerLine(peer, number++);
            if (!writeLine(line))
                return;
            std::lock_guard<std::mutex> lock(stream.mutex);
            stream.sent += line;
            due = (due == 0 ? now : due) + lineIntervalMs;
            continue;
        }
        if (!sending)
            due = 0;
        pollfd readable { fd, POLLIN, 0 };
        const int waitMs = sending ? int(std::clamp<qint64>(due - now, 0, lineIntervalMs)) : 20;
        if (::poll(&readable, 1, waitMs) > 0) {
            QByteArray bytes;
            if (!readSome(bytes))
                return;
            std::lock_guard<std::mutex> lock(stream.mutex);
            stream.received += bytes;
        }
    }
}

// utime and stime of /proc/PID/stat, in seconds, every thread included.
double cpuSeconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = file.readAll();
    // The fields after the command name, which may hold spaces, start with the state (field 3).
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble())
        / double(sysconf(_SC_CLK_TCK));
}

template<class Predicate> bool waitFor(Predicate ready, int timeoutMs)
{
    const qint64 end = nowMs() + timeoutMs;
    while (!ready()) {
        if (nowMs() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The log's text with every command line taken out, and how many there were. A command may have
// gone out between two pieces of a line that arrived in two reads; it is found there too.
QByteArray withoutCommands(QByteArray log, const QByteArray &command, int *count)
{
    const QByteArray line = command + '\n';
    *count = log.count(line);
    log.replace(line, QByteArray());
    return log;
}

QString programPath(const BusyOptions &o)
{
    if (!o.program.isEmpty())
        return o.program;
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath("../teskmanager");
}

} // namespace

QJsonObject busy(const BusyOptions &o)
{
    QTemporaryDir dir;
    Pty device;
    if (!dir.isValid() || !device.isValid())
        return { { "error", "no temporary folder or pty" } };
    const QString program = programPath(o);
    if (!QFileInfo(program).isExecutable())
        return { { "error", "no program at " + program } };

    // Peer 0 is the device on the serial line, 1 to 3 the server's connections in the order
    // they came.
    std::array<Stream, 4> streams;
    std::atomic<bool> sending { false };
    std::atomic<bool> stopping { false };
    std::atomic<int> accepted { 0 };
    TcpPeer server([&](TcpPeer &, int fd) {
        const int peer = ++accepted;
        if (peer > 3)
            return;
        playPeer(
            peer, streams[size_t(peer)], sending, stopping, fd,
            [fd](QByteArray &bytes) {
                char chunk[4096];
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                bytes = QByteArray(chunk, int(qMax<ssize_t>(n, 0)));
                return n > 0;
            },
            [fd](const QByteArray &line) {
                return ::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL)
                    == line.size();
            });
    });
    JoiningThread deviceThread([&] { stopping = true; });
    deviceThread.start([&] {
        playPeer(
            0, streams[0], sending, stopping, device.masterFd(),
            [&](QByteArray &bytes) {
                bytes = device.readAvailable();
                return true;
            },
            [&](const QByteArray &line) { return device.write(line); });
    });

    const QString logDir = dir.filePath("logs");
    QStringList arguments { "--serial-port",
                            device.slavePath(),
                            "--open",
                            "--host",
                            "127.0.0.1",
                            "--port",
                            QString::number(server.port()),
                            "--connect",
                            "1,2,3",
                            "--command",
                            "serial=" + deviceCommand,
                            "--every",
                            "serial=" + QString::number(periodMs) };
    for (int c = 1; c <= 3; ++c)
        arguments << "--command" << QStringLiteral("%1=%2").arg(c).arg(networkCommand.data())
                  << "--every" << QStringLiteral("%1=%2").arg(c).arg(periodMs);
    // The run ends at the bench's signal; this is the net under it.
    arguments << "--keep-logs"
              << "--log-dir" << logDir << "--quit-after"
              << QStringLiteral("%1s").arg(o.seconds + 120);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir.path());
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(dir.path());
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, arguments);
    if (!child.waitForStarted(10000))
        return { { "error", "the program did not start" } };
    const qint64 pid = child.processId();
    auto end = [&](const char *error) {
        child.kill();
        child.waitForFinished();
        return QJsonObject { { "error", error } };
    };

    // Every link is up once its first periodic command came.
    auto commanded = [&](size_t peer) {
        std::lock_guard<std::mutex> lock(streams[peer].mutex);
        return streams[peer].received.contains((peer ? networkCommand : deviceCommand) + '\n');
    };
    if (!waitFor([&] { return commanded(0) && commanded(1) && commanded(2) && commanded(3); },
                 30000))
        return end("the links did not come up");
    std::unique_ptr<PingProbe> probe;
    quint32 window = 0;
    if (o.x) {
        if (!waitFor([&] { return (window = windowOfProcess(pid)) != 0; }, 10000))
            return end("no window");
        probe = std::make_unique<PingProbe>(window);
    }
    sending = true;
    // The first lines and layouts of the run are not what it costs to keep going.
    std::this_thread::sleep_for(std::chrono::seconds(1));

    const qint64 startNs = monotonicNs();
    const double cpuStart = cpuSeconds(pid);
    const double rssStart = rssMb(pid);
    if (child.waitForFinished(int(o.seconds * 1000)))
        return { { "error", "the program ended early" } };
    const double cpu = cpuSeconds(pid) - cpuStart;
    const double seconds = double(monotonicNs() - startNs) / 1e9;
    QJsonObject f { { "seconds", seconds },
                    { "cpu_seconds", cpu },
                    { "cpu_percent", cpu / seconds * 100 },
                    { "rss_start_mb", rssStart },
                    { "rss_end_mb", rssMb(pid) } };
    // A window the window manager did not maximize paints far less.
    if (window)
        f.insert("window", windowSize(window));
    if (probe) {
        const std::vector<double> ms = probe->roundTripsMs();
        probe.reset();
        f.insert("stall",
                 QJsonObject { { "p50", percentile(ms, 0.5) },
                               { "p99", percentile(ms, 0.99) },
                               { "max", percentile(ms, 1) },
                               { "samples", int(ms.size()) } });
    }

    // The last lines are let in before the program is closed as a logout would close it.
    sending = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(pid_t(pid), SIGTERM);
    if (!child.waitForFinished(30000))
        return end("the program did not end");
    waitFor([&] { return server.finished() >= 3; }, 5000);
    stopping = true;
    deviceThread.join();

    // Each log, its commands taken out, must be what one peer sent; each peer's count of
    // commands is what the log shows it sent.
    bool complete = true;
    qint64 lines = 0;
    QStringList tx;
    QStringList txCame;
    std::array<bool, 4> matched {};
    const char *suffixes[] = { "-serial.txt", "-network1.txt", "-network2.txt", "-network3.txt" };
    for (int c = 0; c < 4; ++c) {
        const QStringList names = QDir(logDir).entryList({ QString("*") + suffixes[c] });
        QFile file(logDir + '/' + names.value(0));
        if (names.size() != 1 || !file.open(QIODevice::ReadOnly))
            return { { "error", "no log" } };
        int logged = 0;
        const QByteArray in
            = withoutCommands(file.readAll(), c ? networkCommand : deviceCommand, &logged);
        bool found = false;
        for (size_t peer = c ? 1 : 0; peer <= (c ? 3u : 0u) && !found; ++peer) {
            std::lock_guard<std::mutex> lock(streams[peer].mutex);
            int came = 0;
            withoutCommands(streams[peer].received, c ? networkCommand : deviceCommand, &came);
            if (matched[peer] || streams[peer].sent != in)
                continue;
            txCame << QString::number(came);
            found = matched[peer] = true;
            lines += streams[peer].sent.count('\n');
            // At the close a command may be logged and not yet at the peer, or, sent by a timer
            // after the logs were closed, at the peer and not logged.
            complete = complete && qAbs(came - logged) <= 1;
        }
        complete = complete && found && logged > 0;
        if (!found) {
            // How far the log and the peer that comes nearest agree, for the report.
            qint64 nearest = -1;
            for (size_t peer = c ? 1 : 0; peer <= (c ? 3u : 0u); ++peer) {
                std::lock_guard<std::mutex> lock(streams[peer].mutex);
                const QByteArray &sent = streams[peer].sent;
                qint64 same = 0;
                while (same < qMin(sent.size(), in.size()) && sent.at(same) == in.at(same))
                    ++same;
                if (same > nearest)
                    nearest = same;
            }
            txCame << QStringLiteral("no peer (%1 bytes logged, %2 agree)")
                          .arg(in.size())
                          .arg(nearest);
        }
        tx << QString::number(logged);
    }
    f.insert("lines_in", double(lines));
    f.insert("tx_lines", tx.join(", "));
    f.insert("tx_at_peers", txCame.join(", "));
    f.insert("logs", complete ? QStringLiteral("complete, %1 lines").arg(lines) : "INCOMPLETE");
    f.insert("complete", complete);
    if (!complete) {
        // Kept for a look at what is missing.
        dir.setAutoRemove(false);
        f.insert("kept", dir.path());
        for (size_t peer = 0; peer < streams.size(); ++peer) {
            QFile sent(dir.filePath(QStringLiteral("peer%1-sent.txt").arg(peer)));
            QFile received(dir.filePath(QStringLiteral("peer%1-received.txt").arg(peer)));
            if (sent.open(QIODevice::WriteOnly) && received.open(QIODevice::WriteOnly)) {
                sent.write(streams[peer].sent);
                received.write(streams[peer].received);
            }
        }
    }
    return f;
}
