#include "bench.h"
#include "joiningthread.h"
#include "rendering.h"
#include "responsiveness.h"
#include "tcppeer.h"
#include "testdata.h"
#include "windowfixture.h"
#ifdef TESKMANAGER_BENCH_X
#include "xping.h"
#endif

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

const char figuresPrefix[] = "BENCH_FIGURES ";
const char exposedLine[] = "BENCH_EXPOSED";

void printFigures(const QJsonObject &figures)
{
    std::printf("%s%s\n", figuresPrefix,
                QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

namespace {

// One size in every mode and Qt version (their offscreen screens differ), so that views, and
// with them the figures, compare.
bool showWindow(QWidget *window, bool x)
{
    window->resize(1920, 1080);
    if (x)
        window->showMaximized();
    else
        window->show();
    return QTest::qWaitForWindowExposed(window, 5000);
}

void settle(int ms)
{
    QTest::qWait(ms);
}

void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double rssMb()
{
    long pages = 0;
    long resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / 1e6;
}

qint64 fileSize(const QByteArray &path)
{
    struct stat info { };
    return ::stat(path.constData(), &info) == 0 ? qint64(info.st_size) : -1;
}

QJsonObject error(const QString &what)
{
    return { { QStringLiteral("error"), what } };
}

// Text lines of letters, digits and spaces (about 75 characters a line): nothing that a
// rendering or the serial view's clean-up changes, so each log must equal the payload.
QByteArray textPayload(qint64 size, quint32 seed)
{
    return plainText(int(size), seed, plainAlphabet + plainAlphabet + '\n');
}

#ifndef TESKMANAGER_BENCH_X
// Without xcb the run refuses the X mode before any child starts.
struct PingProbe {
    explicit PingProbe(quint32) { }
    std::vector<double> roundTripsMs() const { return {}; }
    double waitingMs() const { return 0; }
};
#endif

// In X the round trip of a ping to the window, offscreen the lateness of a 10 ms timer.
class Stalls {
public:
    Stalls(bool x, QWidget *window)
    {
        if (x)
            m_ping = std::make_unique<PingProbe>(quint32(window->winId()));
        else
            m_timer = std::make_unique<ResponsivenessProbe>();
    }
    // Thread-safe.
    double ongoingMs() const { return m_ping ? m_ping->waitingMs() : m_timer->sinceLastTickMs(); }
    QJsonObject figures() const
    {
        const std::vector<double> ms = m_ping ? m_ping->roundTripsMs() : m_timer->latenessMs();
        return { { QStringLiteral("p50"), percentile(ms, 0.5) },
                 { QStringLiteral("p99"), percentile(ms, 0.99) },
                 { QStringLiteral("max"), percentile(ms, 1) },
                 { QStringLiteral("samples"), int(ms.size()) } };
    }

private:
    std::unique_ptr<ResponsivenessProbe> m_timer;
    std::unique_ptr<PingProbe> m_ping;
};

QJsonObject stallsOver(const Options &o, QWidget *window)
{
    Stalls stalls(o.x, window);
    runEventsFor(o.idleSeconds * 1000);
    return stalls.figures();
}

// One flooded channel, of the program or of the naive view.
struct Channel {
    QString log;
    std::function<int()> arrivals;
    bool serial;
};

// The received bytes that a log stands for: hex renderings are digit pairs with spaces and line
// breaks between.
QByteArray received(const QByteArray &log, bool hex)
{
    return hex ? QByteArray::fromHex(log) : log;
}

void checkLogs(QJsonObject &f, const std::vector<Channel> &channels, bool hex,
               const QByteArray &payload)
{
    qint64 logged = 0;
    bool intact = true;
    for (const Channel &channel : channels) {
        const QByteArray bytes = received(fileContents(channel.log), hex);
        logged += bytes.size();
        intact = intact && payload.startsWith(bytes);
    }
    const bool complete = intact && logged == payload.size() * qint64(channels.size());
    f.insert(QStringLiteral("bytes_logged"), double(logged));
    f.insert(QStringLiteral("logs"),
             complete     ? QStringLiteral("exact")
                 : intact ? QStringLiteral("prefix")
                          : QStringLiteral("ALTERED"));
}

// The one flood routine: starts the senders, waits until every channel's log holds all of the
// payload (or the time-out), and measures MB/s, the stalls meanwhile, RSS before and after and
// the logs. A call that keeps the GUI thread past the stuck bound is reported from a watchdog,
// as far as the logs and the probe stand, and ends the process.
QJsonObject flood(const Options &o, QWidget *window, const std::vector<Channel> &channels, bool hex,
                  const QByteArray &payload, const std::function<void()> &start,
                  const std::function<void()> &over = {})
{
    settle(300);
    QJsonObject f { { QStringLiteral("rss_before_mb"), rssMb() },
                    { QStringLiteral("bytes_sent"),
                      double(payload.size() * qint64(channels.size())) } };
    // Hex adds two characters per byte and a line break per network arrival; the serial log
    // breaks its lines at a line feed's pair instead.
    const qint64 n = payload.size();
    const qint64 serialHexSize = 3 * n;
    std::vector<QByteArray> files;
    for (const Channel &channel : channels)
        files.push_back(QFile::encodeName(channel.log));
    auto done = [&] {
        for (size_t i = 0; i < channels.size(); ++i)
            if (fileSize(files[i])
                != (!hex                     ? n
                        : channels[i].serial ? serialHexSize
                                             : 3 * n + channels[i].arrivals()))
                return false;
        return true;
    };

    Stalls stalls(o.x, window);
    QElapsedTimer clock;
    clock.start();
    auto figuresNow = [&](QJsonObject g) {
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        g.insert(QStringLiteral("seconds"), seconds);
        g.insert(QStringLiteral("stall"), stalls.figures());
        g.insert(QStringLiteral("rss_after_mb"), rssMb());
        checkLogs(g, channels, hex, payload);
        g.insert(QStringLiteral("mb_per_s"),
                 g.value(QStringLiteral("bytes_logged")).toDouble() / 1e6 / seconds);
        return g;
    };
    std::atomic<bool> finished { false };
    JoiningThread watchdog([&] { finished = true; });
    watchdog.start([&] {
        while (!finished) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            if (!finished
                && (stalls.ongoingMs() > o.stuckSeconds * 1000.0
                    || clock.elapsed() > (o.floodTimeout + o.stuckSeconds) * 1000)) {
                QJsonObject g = figuresNow(f);
                g.insert(QStringLiteral("stuck"), true);
                printFigures(g);
                std::_Exit(3);
            }
        }
    });

    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done() || clock.elapsed() > o.floodTimeout * 1000)
            loop.quit();
    });
    check.start(5);
    start();
    loop.exec();
    if (over)
        over();
    f = figuresNow(f);
    watchdog.join();
    f.insert(QStringLiteral("timed_out"), !done());
    QJsonArray arrivals;
    for (const Channel &channel : channels)
        arrivals.append(channel.arrivals());
    f.insert(QStringLiteral("arrivals"), arrivals);
    settle(300);
    f.insert(QStringLiteral("rss_after_mb"), rssMb());
    return f;
}

// Sends the payload on every connection once `go` is set, then holds the link open.
struct FloodPeer {
    explicit FloodPeer(const QByteArray &payload)
        : peer([this, &payload](TcpPeer &p, int fd) {
            ++accepted;
            if (p.waitUntil([this] { return go.load(); }))
                p.sendAll(fd, payload);
            p.waitUntil([] { return false; });
        })
    {
    }
    std::atomic<int> accepted { 0 };
    std::atomic<bool> go { false };
    TcpPeer peer;
};

bool connectNetwork(WindowFixture &fixture, int channels, const FloodPeer &peer, bool hex)
{
    for (int c = 1; c <= channels; ++c) {
        fixture.setHexMode(c, hex);
        if (!fixture.connectTo(c, peer.peer.port())
            || !QTest::qWaitFor([&] { return peer.accepted >= c; }, 2000))
            return false;
    }
    return true;
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

QJsonObject appFlood(const Options &o, int channels, bool hex, const QByteArray &payload)
{
    WindowFixture fixture;
    FloodPeer peer(payload);
    JoiningThread device;
    std::vector<Channel> list;
    if (!showWindow(&fixture.window(), o.x))
        return error(QStringLiteral("no window"));
    const int first = channels ? 1 : serial;
    if (channels ? !connectNetwork(fixture, channels, peer, hex) : !fixture.open(serial, hex))
        return error(QStringLiteral("could not open the link"));
    for (int c = first; c <= qMax(channels, serial); ++c)
        list.push_back(
            { fixture.logPath(c), [&fixture, c] { return fixture.received(c); }, c == serial });
    QJsonObject f = flood(o, &fixture.window(), list, hex, payload, [&] {
        peer.go = true;
        if (!channels)
            device.start([&] { fixture.pty.write(payload); });
    });
    f.insert(QStringLiteral("view"), sizeText(fixture.view(first)->size()));
    return f;
}

// What a straightforward terminal does with a stream, to measure the program against: a plain
// shown QTextEdit keeping 100 paragraphs that inserts whatever is buffered at each arrival,
// rendered as the program renders that channel, and writes the same text to a log.
struct NaiveView {
    NaiveView(bool serial, bool hex, const QString &log, const QSize &size)
        : serial(serial)
        , hex(hex)
        , file(log)
    {
        view.document()->setMaximumBlockCount(100);
        view.resize(size);
        view.show();
        file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    void take(const QByteArray &bytes)
    {
        QString text = hex ? (serial ? serialHexRendering(bytes) : hexRendering(bytes))
                           : textRendering(bytes);
        if (serial)
            text = serialCleanup(std::move(text), false);
        else if (hex)
            text.append(QLatin1Char('\n'));
        view.moveCursor(QTextCursor::End);
        view.insertPlainText(text);
        file.write(text.toUtf8());
        ++arrivals;
    }

    bool serial;
    bool hex;
    QTextEdit view;
    QFile file;
    int arrivals = 0;
};

QJsonObject naiveFlood(const Options &o, int channels, bool hex, const QByteArray &payload)
{
    TestEnvironment env;
    Pty pty;
    FloodPeer peer(payload);
    JoiningThread device;
    QSerialPort port;
    std::vector<std::unique_ptr<NaiveView>> views;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    std::vector<Channel> list;
    for (int c = channels ? 1 : 0; c <= channels; ++c) {
        const QString log = env.homePath() + QStringLiteral("/naive%1.txt").arg(c);
        views.push_back(std::make_unique<NaiveView>(!channels, hex, log, o.view));
        NaiveView *view = views.back().get();
        list.push_back({ log, [view] { return view->arrivals; }, !channels });
        QIODevice *device = &port;
        if (channels) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->setReadBufferSize(o.naiveReadBuffer);
            sockets.back()->connectToHost(QHostAddress::LocalHost, peer.peer.port());
            device = sockets.back().get();
        } else {
            port.setPortName(pty.slavePath());
            port.setReadBufferSize(o.naiveReadBuffer);
            port.open(QIODevice::ReadWrite);
        }
        QObject::connect(device, &QIODevice::readyRead, device,
                         [view, device] { view->take(device->readAll()); });
        if (!QTest::qWaitForWindowExposed(&view->view, 5000)
            || (channels && !QTest::qWaitFor([&] { return peer.accepted >= c; }, 2000))
            || (!channels && !port.isOpen()))
            return error(QStringLiteral("set-up failed"));
    }
    return flood(o, &views.front()->view, list, hex, payload, [&] {
        peer.go = true;
        if (!channels)
            device.start([&] { pty.write(payload); });
    });
}

double cpuPercent(const Options &o, ModalDialogHelper &dialogs)
{
    // The helper's 5 ms poll would be measured too: it rests unless a box comes up after all.
    dialogs.setActive(false);
    QTimer rescue;
    QObject::connect(&rescue, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget())
            dialogs.setActive(true);
    });
    rescue.start(500);
    const double before = processCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    runEventsFor(o.idleSeconds * 1000);
    dialogs.setActive(true);
    return (processCpuSeconds() - before) / (double(clock.nsecsElapsed()) / 1e9) * 100;
}

QJsonObject idle(const Options &o)
{
    WindowFixture fixture;
    if (!showWindow(&fixture.window(), o.x))
        return error(QStringLiteral("no window"));
    settle(1000);
    QJsonObject f;
    f.insert(QStringLiteral("closed_cpu_percent"), cpuPercent(o, fixture.dialogs));
    f.insert(QStringLiteral("closed_stall"), stallsOver(o, &fixture.window()));
    if (!fixture.open(serial))
        return error(QStringLiteral("could not open the pty"));
    settle(1000);
    f.insert(QStringLiteral("serial_cpu_percent"), cpuPercent(o, fixture.dialogs));
    f.insert(QStringLiteral("serial_stall"), stallsOver(o, &fixture.window()));
    return f;
}

QJsonObject startup(const Options &o)
{
    TestEnvironment env;
    MainWindow window;
    showWindow(&window, o.x);
    while (!window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    std::printf("%s\n", exposedLine);
    std::fflush(stdout);
    return {};
}

// The moments the exit question is answered and the window goes; the run notes when the
// process has ended.
QJsonObject exitTimes(const Options &o)
{
    WindowFixture fixture;
    if (!showWindow(&fixture.window(), o.x) || !fixture.open(serial))
        return error(QStringLiteral("set-up failed"));
    settle(500);
    qint64 answered = 0;
    qint64 hidden = 0;
    fixture.dialogs.setMessageBoxAnswer(QMessageBox::Yes);
    QObject::connect(&fixture.dialogs, &ModalDialogHelper::answered,
                     [&] { answered = monotonicNs(); });
    QObject::connect(fixture.window().windowHandle(), &QWindow::visibleChanged, [&](bool shown) {
        if (!shown && !hidden)
            hidden = monotonicNs();
    });
    QTimer::singleShot(0, &fixture.window(), &QWidget::close);
    QApplication::exec();
    return { { QStringLiteral("answered_ns"), QString::number(answered) },
             { QStringLiteral("hidden_ns"), QString::number(hidden) } };
}

// The three network channels take an ASCII flood while a device sends 920 bytes every 10 ms
// (92 KB/s) on the serial line; how far the device falls behind that schedule is how long the
// program held it back.
QJsonObject paced(const Options &o)
{
    const QByteArray payload = textPayload(o.tcpBytes, 7);
    const QByteArray line = textPayload(o.serialBytes, 17);
    WindowFixture fixture;
    FloodPeer peer(payload);
    if (!showWindow(&fixture.window(), o.x) || !fixture.open(serial)
        || !connectNetwork(fixture, 3, peer, false))
        return error(QStringLiteral("set-up failed"));
    std::atomic<bool> stop { false };
    // Checking the logs after the flood keeps the window from reading for a while; that is the
    // bench's doing, not the program's.
    std::atomic<bool> measuring { true };
    std::atomic<qint64> written { 0 };
    qint64 heldBackNs = 0;
    JoiningThread device([&] { stop = true; });
    std::vector<Channel> list;
    for (int c = 1; c <= 3; ++c)
        list.push_back(
            { fixture.logPath(c), [&fixture, c] { return fixture.received(c); }, false });
    QJsonObject f = flood(
        o, &fixture.window(), list, false, payload,
        [&] {
            peer.go = true;
            device.start([&] {
                const int chunk = 920;
                const qint64 start = monotonicNs();
                for (qint64 k = 0; !stop && (k + 1) * chunk <= line.size(); ++k) {
                    const qint64 due = start + k * 10'000'000;
                    std::this_thread::sleep_for(std::chrono::nanoseconds(due - monotonicNs()));
                    // Partial writes count, so that a device held back for long neither gives up
                    // nor repeats itself.
                    for (qint64 end = (k + 1) * chunk; written < end && !stop;) {
                        const ssize_t n
                            = ::write(fixture.pty.masterFd(), line.constData() + written,
                                      size_t(end - written));
                        if (n > 0)
                            written += n;
                        else
                            std::this_thread::sleep_for(std::chrono::microseconds(100));
                    }
                    if (measuring)
                        heldBackNs = qMax(heldBackNs, monotonicNs() - due);
                }
            });
        },
        [&] { measuring = false; });
    device.join();
    f.insert(QStringLiteral("serial_caught_up"),
             QTest::qWaitFor([&] { return fixture.log(serial).size() >= written; }, 60000));
    const QByteArray logged = fixture.log(serial);
    f.insert(QStringLiteral("device_held_back_ms"), double(heldBackNs) / 1e6);
    f.insert(QStringLiteral("serial_bytes"), double(written));
    f.insert(QStringLiteral("serial_log"),
             logged == line.left(int(written)) ? QStringLiteral("exact")
                 : line.startsWith(logged)     ? QStringLiteral("prefix")
                                               : QStringLiteral("ALTERED"));
    return f;
}

// Sends through each view's Send button count times; the µs per append over the first and the
// last tenth (at most 10^4 each), the event processing between included.
QJsonObject soak(const Options &o)
{
    WindowFixture fixture;
    TcpPeer sink([](TcpPeer &p, int fd) { p.drain(fd); });
    std::atomic<bool> stop { false };
    JoiningThread drain([&] { stop = true; });
    if (!showWindow(&fixture.window(), o.x) || !fixture.open(serial))
        return error(QStringLiteral("set-up failed"));
    for (int c = 1; c <= 3; ++c)
        if (!fixture.connectTo(c, sink.port()))
            return error(QStringLiteral("could not connect"));
    drain.start([&] {
        while (!stop) {
            fixture.pty.readAvailable();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    settle(300);
    const double before = rssMb();
    const int window = qBound(1, o.soakCount / 10, 10000);
    QJsonArray views;
    for (int c : { 1, 2, 3, serial }) {
        fixture.commandLine(c)->setText(
            QStringLiteral("soak 0123456789 abcdefghijklmnopqrstuvwxyz"));
        QElapsedTimer clock;
        clock.start();
        qint64 firstNs = 0;
        qint64 lastStart = 0;
        for (int i = 0; i < o.soakCount; ++i) {
            if (i == o.soakCount - window)
                lastStart = clock.nsecsElapsed();
            fixture.sendButton(c)->click();
            if ((i + 1) % 256 == 0)
                QCoreApplication::processEvents();
            if (i + 1 == window)
                firstNs = clock.nsecsElapsed();
        }
        views.append(QJsonObject {
            { QStringLiteral("first_us"), double(firstNs) / 1e3 / window },
            { QStringLiteral("last_us"), double(clock.nsecsElapsed() - lastStart) / 1e3 / window },
            { QStringLiteral("sent"), fixture.sent(c) } });
    }
    settle(300);
    return { { QStringLiteral("rss_growth_mb"), rssMb() - before },
             { QStringLiteral("views"), views } };
}

} // namespace

QJsonObject measure(const Options &o)
{
    const QString section = o.child.section(QLatin1Char(':'), 0, 0);
    if (section == QLatin1String("idle"))
        return idle(o);
    if (section == QLatin1String("startup"))
        return startup(o);
    if (section == QLatin1String("exit"))
        return exitTimes(o);
    if (section == QLatin1String("serial-paced"))
        return paced(o);
    if (section == QLatin1String("soak"))
        return soak(o);
    const bool hex = section.contains(QLatin1String("-hex"));
    const int channels = section.startsWith(QLatin1String("serial")) ? 0
        : section.endsWith(QLatin1Char('3'))                         ? 3
                                                                     : 1;
    const qint64 size = channels ? o.tcpBytes : o.serialBytes;
    const QByteArray payload = hex ? randomBytes(int(size), 11) : textPayload(size, 7);
    return o.child.endsWith(QLatin1String(":naive")) ? naiveFlood(o, channels, hex, payload)
                                                     : appFlood(o, channels, hex, payload);
}
