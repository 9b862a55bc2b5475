// Drives the real window through idle periods, start-ups, exits, floods of received traffic and
// a long run of sends, each section in a process of its own so that no memory or state carries
// over, and measures every flood against a naive view fed the same bytes in the same run.

#include "application.h"
#include "busy.h"
#include "joiningthread.h"
#include "rendering.h"
#include "responsiveness.h"
#include "tcppeer.h"
#include "testdata.h"
#include "windowfixture.h"
#include "xping.h"

#include <QApplication>
#include <QFileInfo>
#include <QFont>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QWindow>

#include <csignal>
#include <functional>

namespace {

const char usage[]
    = "usage: teskmanager_bench [--x] [--smoke] [--json] [--only SECTION[,SECTION...]]\n"
      "         [--tcp-bytes N] [--serial-bytes N] [--idle-seconds N] [--soak-count N]\n"
      "         [--startup-runs N] [--exit-runs N] [--flood-timeout S] [--stuck-seconds S]\n"
      "         [--naive-read-buffer N] [--busy-seconds N] [--program PATH]\n"
      "       teskmanager_bench --table RUN.json... (one table of runs made with --json)\n"
      "sections (a prefix selects several): idle startup exit tcp-ascii-1 tcp-ascii-3 tcp-hex-1\n"
      "         tcp-hex-3 serial-ascii serial-hex serial-paced soak busy\n";

struct Options {
    bool x = false; // in a real X server with a window manager, or else offscreen
    bool smoke = false;
    bool json = false;
    QStringList only;
    QString child; // the section that this process measures, in a child of the run
    QStringList tables; // earlier runs' --json files, combined into one table
    qint64 tcpBytes = 20'000'000;
    qint64 serialBytes = 2'000'000;
    qint64 idleSeconds = 5;
    qint64 soakCount = 30'000;
    qint64 startupRuns = 10;
    qint64 exitRuns = 3;
    qint64 floodTimeout = 90;
    // How long one call may keep the GUI thread before the flood reports what it got to and
    // ends: nothing can interrupt such a call.
    qint64 stuckSeconds = 15;
    qint64 naiveReadBuffer = 0; // 0: the naive view takes whatever is buffered
    qint64 busySeconds = 300;
    QString program; // the teskmanager that the busy section runs
    QSize view; // the program's view, which the naive view copies
};

// The line by which a child hands its figures to the run.
const char figuresPrefix[] = "BENCH_FIGURES ";

void printFigures(const QJsonObject &figures)
{
    std::printf("%s%s\n", figuresPrefix,
                QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

// One size in every mode and Qt version (their offscreen screens differ), so that views, and
// with them the figures, compare.
bool showWindow(QWidget *window, bool x)
{
    window->resize(1920, 1080);
    x ? window->showMaximized() : window->show();
    return QTest::qWaitForWindowExposed(window, 5000);
}

// The window shown, the serial port open on the pty when asked; false when either failed.
bool setUp(WindowFixture &fixture, const Options &o, bool openSerial = true)
{
    return showWindow(&fixture.window(), o.x) && (!openSerial || fixture.open(serial));
}

// Unlike QTest::qWait, which sleeps between slices, an event loop that only timers wake.
void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Resident pages are the second field.
double rssMb()
{
    const QList<QByteArray> statm = fileContents("/proc/self/statm").split(' ');
    return statm.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / 1e6;
}

// Text lines of letters, digits and spaces (about 75 characters a line): nothing that a
// rendering or the serial view's clean-up changes, so each log must equal the payload.
QByteArray textPayload(qint64 size, quint32 seed)
{
    return plainText(int(size), seed, plainAlphabet + plainAlphabet + '\n');
}

const char *verdict(bool intact, bool complete)
{
    return !intact ? "ALTERED" : complete ? "exact" : "prefix";
}

// In X the round trip of a ping to the window, offscreen the lateness of a 10 ms timer; both
// may be read from another thread.
struct Stalls {
    Stalls(bool x, QWidget *window)
        : timer(x ? nullptr : new ResponsivenessProbe)
        , ping(x ? new PingProbe(quint32(window->winId())) : nullptr)
    {
    }
    double ongoingMs() const { return ping ? ping->waitingMs() : timer->sinceLastTickMs(); }
    QJsonObject figures() const
    {
        const std::vector<double> ms = ping ? ping->roundTripsMs() : timer->latenessMs();
        return { { "p50", percentile(ms, 0.5) },
                 { "p99", percentile(ms, 0.99) },
                 { "max", percentile(ms, 1) },
                 { "samples", int(ms.size()) } };
    }

    const std::unique_ptr<ResponsivenessProbe> timer;
    const std::unique_ptr<PingProbe> ping;
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

void checkLogs(QJsonObject &f, const std::vector<Channel> &channels, bool hex,
               const QByteArray &payload)
{
    qint64 logged = 0;
    bool intact = true;
    for (const Channel &channel : channels) {
        // Hex renderings are digit pairs with spaces and line breaks between.
        const QByteArray log = fileContents(channel.log);
        const QByteArray bytes = hex ? QByteArray::fromHex(log) : log;
        logged += bytes.size();
        intact = intact && payload.startsWith(bytes);
    }
    f.insert("bytes_logged", double(logged));
    f.insert("logs", verdict(intact, logged == payload.size() * qint64(channels.size())));
}

// The one flood routine: starts the senders, waits until every channel's log holds all of the
// payload (or the time-out), and measures MB/s, the stalls meanwhile, RSS before and after and
// the logs. A call that keeps the GUI thread past the stuck bound is reported from a watchdog,
// as far as the logs and the probe stand, and ends the process.
QJsonObject flood(const Options &o, QWidget *window, const std::vector<Channel> &channels, bool hex,
                  const QByteArray &payload, const std::function<void()> &start,
                  const std::function<void()> &over = {})
{
    QTest::qWait(300);
    QJsonObject f { { "rss_before_mb", rssMb() },
                    { "bytes_sent", double(payload.size() * qint64(channels.size())) } };
    // Hex adds two characters per byte and a line break per network arrival; the serial log
    // breaks its lines at a line feed's pair instead.
    auto done = [&] {
        return std::all_of(channels.begin(), channels.end(), [&](const Channel &c) {
            const qint64 n = payload.size();
            return QFileInfo(c.log).size() == (hex ? 3 * n + (c.serial ? 0 : c.arrivals()) : n);
        });
    };

    Stalls stalls(o.x, window);
    QElapsedTimer clock;
    clock.start();
    auto figuresNow = [&](QJsonObject g) {
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        g.insert("seconds", seconds);
        g.insert("stall", stalls.figures());
        g.insert("rss_after_mb", rssMb());
        checkLogs(g, channels, hex, payload);
        g.insert("mb_per_s", g.value("bytes_logged").toDouble() / 1e6 / seconds);
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
                g.insert("stuck", true);
                printFigures(g);
                std::_Exit(3);
            }
        }
    });

    // Not QTest::qWaitFor, which sleeps between its looks.
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
    f.insert("timed_out", !done());
    QJsonArray arrivals;
    for (const Channel &channel : channels)
        arrivals.append(channel.arrivals());
    f.insert("arrivals", arrivals);
    QTest::qWait(300);
    f.insert("rss_after_mb", rssMb());
    return f;
}

// Sends the payload on every connection once `go` is set, then holds the link open; or, for
// the serial line, from a device thread on the pty.
struct FloodPeer {
    explicit FloodPeer(const QByteArray &payload)
        : payload(payload)
        , peer([this](TcpPeer &p, int fd) {
            ++accepted;
            if (p.waitUntil([this] { return go.load(); }))
                p.sendAll(fd, this->payload);
            p.waitUntil([] { return false; });
        })
    {
    }
    void start(Pty *device)
    {
        go = true;
        if (device)
            m_device.start([this, device] { device->write(payload); });
    }
    bool connected(int channels) const
    {
        return QTest::qWaitFor([&] { return accepted >= channels; }, 2000);
    }

    const QByteArray &payload;
    std::atomic<int> accepted { 0 };
    std::atomic<bool> go { false };
    TcpPeer peer;

private:
    JoiningThread m_device;
};

// The window's channels first to last, as flood() watches them.
std::vector<Channel> windowChannels(WindowFixture &fixture, int first, int last)
{
    std::vector<Channel> list;
    for (int c = first; c <= last; ++c)
        list.push_back(
            { fixture.logPath(c), [&fixture, c] { return fixture.received(c); }, c == serial });
    return list;
}

bool connectNetwork(WindowFixture &fixture, int channels, const FloodPeer &peer, bool hex)
{
    for (int c = 1; c <= channels; ++c) {
        fixture.setHexMode(c, hex);
        if (!fixture.connectTo(c, peer.peer.port()) || !peer.connected(c))
            return false;
    }
    return true;
}

QJsonObject appFlood(const Options &o, int channels, bool hex, const QByteArray &payload)
{
    WindowFixture fixture;
    FloodPeer peer(payload);
    if (!setUp(fixture, o, false))
        return { { "error", "no window" } };
    const int first = channels ? 1 : serial;
    if (channels ? !connectNetwork(fixture, channels, peer, hex) : !fixture.open(serial, hex))
        return { { "error", "could not open the link" } };
    QJsonObject f
        = flood(o, &fixture.window(), windowChannels(fixture, first, qMax(channels, serial)), hex,
                payload, [&] { peer.start(channels ? nullptr : &fixture.pty); });
    const QSize view = fixture.view(first)->size();
    f.insert("view", QStringLiteral("%1x%2").arg(view.width()).arg(view.height()));
    return f;
}

// What a straightforward terminal does with a stream, to measure the program against: a plain
// shown QTextEdit keeping 100 paragraphs that inserts whatever is buffered at each arrival from
// its device, rendered as the program renders that channel, and writes the same text to a log.
struct NaiveView {
    NaiveView(QIODevice *device, bool hex, const QString &log, const QSize &size)
        : device(device)
        , serial(qobject_cast<QSerialPort *>(device))
        , hex(hex)
        , file(log)
    {
        view.document()->setMaximumBlockCount(100);
        view.resize(size);
        view.show();
        file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        QObject::connect(device, &QIODevice::readyRead, &view, [this] { take(); });
    }
    void take()
    {
        const QByteArray bytes = device->readAll();
        QString text = hex ? (serial ? serialHexRendering(bytes) : hexRendering(bytes))
                           : textRendering(bytes);
        if (serial)
            text = serialCleanup(std::move(text), false);
        else if (hex)
            text.append('\n');
        view.moveCursor(QTextCursor::End);
        view.insertPlainText(text);
        file.write(text.toUtf8());
        ++arrivals;
    }

    std::unique_ptr<QIODevice> device;
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
    std::vector<std::unique_ptr<NaiveView>> views;
    std::vector<Channel> list;
    for (int c = channels ? 1 : 0; c <= channels; ++c) {
        QIODevice *device;
        if (channels) {
            auto *socket = new QTcpSocket;
            socket->setReadBufferSize(o.naiveReadBuffer);
            socket->connectToHost(QHostAddress::LocalHost, peer.peer.port());
            device = socket;
        } else {
            auto *port = new QSerialPort(pty.slavePath());
            port->setReadBufferSize(o.naiveReadBuffer);
            port->open(QIODevice::ReadWrite);
            device = port;
        }
        const QString log = env.homePath() + QStringLiteral("/naive%1.txt").arg(c);
        views.push_back(std::make_unique<NaiveView>(device, hex, log, o.view));
        NaiveView *view = views.back().get();
        list.push_back({ log, [view] { return view->arrivals; }, !channels });
        if (!QTest::qWaitForWindowExposed(&view->view, 5000)
            || (channels ? !peer.connected(c) : !device->isOpen()))
            return { { "error", "set-up failed" } };
    }
    return flood(o, &views.front()->view, list, hex, payload,
                 [&] { peer.start(channels ? nullptr : &pty); });
}

double cpuPercent(const Options &o, ModalDialogHelper &dialogs)
{
    // The helper's 5 ms poll would be measured too.
    dialogs.setActive(false);
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
    if (!setUp(fixture, o, false))
        return { { "error", "no window" } };
    QTest::qWait(1000);
    QJsonObject f { { "closed_cpu_percent", cpuPercent(o, fixture.dialogs) },
                    { "closed_stall", stallsOver(o, &fixture.window()) } };
    if (!fixture.open(serial))
        return { { "error", "could not open the pty" } };
    QTest::qWait(1000);
    f.insert("serial_cpu_percent", cpuPercent(o, fixture.dialogs));
    f.insert("serial_stall", stallsOver(o, &fixture.window()));
    return f;
}

QJsonObject startup(const Options &o)
{
    TestEnvironment env;
    MainWindow window;
    showWindow(&window, o.x);
    while (!window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return { { "exposed_ns", QString::number(monotonicNs()) } };
}

// The moments the exit question is answered and the window goes; the run notes when the
// process has ended.
QJsonObject exitTimes(const Options &o)
{
    WindowFixture fixture;
    if (!setUp(fixture, o))
        return { { "error", "set-up failed" } };
    QTest::qWait(500);
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
    return { { "answered_ns", QString::number(answered) },
             { "hidden_ns", QString::number(hidden) } };
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
        o, &fixture.window(), windowChannels(fixture, 1, 3), false, payload,
        [&] {
            peer.start(nullptr);
            device.start(play);
        },
        [&] { measuring = false; });
    device.join();
    f.insert("serial_caught_up",
             QTest::qWaitFor([&] { return fixture.log(serial).size() >= written; }, 60000));
    const QByteArray logged = fixture.log(serial);
    f.insert("device_held_back_ms", double(heldBackNs) / 1e6);
    f.insert("serial_bytes", double(written));
    f.insert("serial_log", verdict(line.startsWith(logged), logged.size() == written));
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
    if (!setUp(fixture, o))
        return { { "error", "set-up failed" } };
    for (int c = 1; c <= 3; ++c)
        if (!fixture.connectTo(c, sink.port()))
            return { { "error", "could not connect" } };
    drain.start([&] {
        for (; !stop; std::this_thread::sleep_for(std::chrono::milliseconds(1)))
            fixture.pty.readAvailable();
    });
    QTest::qWait(300);
    const double before = rssMb();
    const int window = int(std::clamp(o.soakCount / 10, qint64(1), qint64(10000)));
    QJsonArray views;
    for (int c : { 1, 2, 3, serial }) {
        fixture.commandLine(c)->setText("soak 0123456789 abcdefghijklmnopqrstuvwxyz");
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
        views.append(
            QJsonObject { { "first_us", double(firstNs) / 1e3 / window },
                          { "last_us", double(clock.nsecsElapsed() - lastStart) / 1e3 / window },
                          { "sent", fixture.sent(c) } });
    }
    QTest::qWait(300);
    return { { "rss_growth_mb", rssMb() - before }, { "views", views } };
}

QJsonObject measure(const Options &o)
{
    const QString section = o.child.section(':', 0, 0);
    const std::pair<const char *, QJsonObject (*)(const Options &)> others[]
        = { { "idle", idle },
            { "startup", startup },
            { "exit", exitTimes },
            { "serial-paced", paced },
            { "soak", soak } };
    for (const auto &other : others)
        if (section == other.first)
            return other.second(o);
    const bool hex = section.contains("-hex");
    const int channels = section.startsWith("serial") ? 0 : section.endsWith('3') ? 3 : 1;
    const qint64 size = channels ? o.tcpBytes : o.serialBytes;
    const QByteArray payload = hex ? randomBytes(int(size), 11) : textPayload(size, 7);
    return o.child.endsWith(":naive") ? naiveFlood(o, channels, hex, payload)
                                      : appFlood(o, channels, hex, payload);
}

const QStringList floodKeys { "tcp-ascii-1", "tcp-ascii-3",  "tcp-hex-1",
                              "tcp-hex-3",   "serial-ascii", "serial-hex" };

bool wants(const Options &o, const QString &section)
{
    return o.only.isEmpty() || std::any_of(o.only.begin(), o.only.end(), [&](const QString &p) {
               return section.startsWith(p);
           });
}

struct ChildRun {
    QJsonObject figures;
    qint64 startedNs = 0;
    qint64 endedNs = 0;
};

// A moment a child noted, as a string: a double would round nanoseconds of uptime.
qint64 moment(const QJsonObject &figures, const char *key)
{
    return figures.value(QLatin1String(key)).toString().toLongLong();
}

// Runs one section in a child; a child that outlives the bound is killed, so that no section
// can hang the run.
ChildRun runChild(const QStringList &arguments, const QString &section, int timeoutSeconds,
                  const QStringList &extra = {}, bool accessibility = false)
{
    std::fprintf(stderr, "[bench] %s\n", qPrintable(section));
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString self = QCoreApplication::applicationFilePath();
    const QStringList args = arguments + QStringList { "--child", section } + extra;
    const QString session = QStandardPaths::findExecutable("dbus-run-session");
    // Its own session bus, on which the accessibility bus starts when the window asks.
    const bool bus = accessibility && !session.isEmpty();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (bus)
        env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    child.setProcessEnvironment(env);
    child.start(bus ? session : self, bus ? QStringList { "--", self } + args : args);
    ChildRun run { {}, monotonicNs(), 0 };
    if (!child.waitForFinished(timeoutSeconds * 1000) && child.state() != QProcess::NotRunning) {
        child.kill();
        child.waitForFinished();
        run.figures.insert("error", QStringLiteral("killed after %1 s").arg(timeoutSeconds));
        return run;
    }
    run.endedNs = monotonicNs();
    for (const QByteArray &line : child.readAllStandardOutput().split('\n'))
        if (line.startsWith(QByteArray(figuresPrefix)))
            run.figures = QJsonDocument::fromJson(line.mid(int(qstrlen(figuresPrefix)))).object();
    if (run.figures.isEmpty())
        run.figures.insert("error",
                           QStringLiteral("no figures (exit code %1)").arg(child.exitCode()));
    return run;
}

QJsonObject medianAndMax(const std::vector<double> &ms)
{
    QJsonArray all;
    for (double value : ms)
        all.append(value);
    return { { "median_ms", percentile(ms, 0.5) },
             { "max_ms", percentile(ms, 1) },
             { "runs_ms", all } };
}

QJsonObject startups(const Options &o, const QStringList &arguments)
{
    std::vector<double> ms;
    for (int i = 0; i < o.startupRuns; ++i) {
        const ChildRun run = runChild(arguments, "startup", 30);
        if (moment(run.figures, "exposed_ns") > 0)
            ms.push_back(double(moment(run.figures, "exposed_ns") - run.startedNs) / 1e6);
    }
    QJsonObject f = medianAndMax(ms);
    f.insert("failed", o.startupRuns - qint64(ms.size()));
    return f;
}

QJsonObject exits(const Options &o, const QStringList &arguments)
{
    std::vector<double> gone, ended;
    QJsonObject f;
    for (int i = 0; i < o.exitRuns; ++i) {
        const ChildRun run = runChild(arguments, "exit", 60, {}, o.x);
        const qint64 answered = moment(run.figures, "answered_ns");
        const qint64 hidden = moment(run.figures, "hidden_ns");
        if (answered <= 0 || hidden <= 0) {
            f.insert("error", "the window did not go");
            continue;
        }
        gone.push_back(double(hidden - answered) / 1e6);
        ended.push_back(double(run.endedNs - answered) / 1e6);
    }
    f.insert("window_gone", medianAndMax(gone));
    f.insert("process_ended", medianAndMax(ended));
    f.insert("accessibility_bus",
             o.x && !QStandardPaths::findExecutable("dbus-run-session").isEmpty());
    return f;
}

QString fixed(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals);
}

// A table cell: format with each {key} or {key:decimals} replaced by that figure (a.b for b
// within a), strings as they stand; empty where a figure is missing.
QString fill(const QString &format, const QJsonObject &figures)
{
    static const QRegularExpression field(R"(\{([\w.]+)(?::(\d))?\})");
    QString text;
    int done = 0;
    for (auto matches = field.globalMatch(format); matches.hasNext();) {
        const QRegularExpressionMatch match = matches.next();
        QJsonValue value = figures;
        for (const QString &key : match.captured(1).split('.'))
            value = value.toObject().value(key);
        if (value.isUndefined())
            return {};
        const int decimals = match.captured(2).isEmpty() ? 1 : match.captured(2).toInt();
        text += format.mid(done, match.capturedStart() - done)
            + (value.isString() ? value.toString() : fixed(value.toDouble(), decimals));
        done = match.capturedEnd();
    }
    return text + format.mid(done);
}

using Cell = std::function<QString(const QJsonObject &)>;

Cell cell(const QString &format)
{
    return [=](const QJsonObject &f) { return fill(format, f); };
}

struct Row {
    QString label;
    QString section;
    Cell value;
    QString target;
    bool ratio = false; // of mb_per_s, the program over the naive view
};

QList<Row> rows(const QJsonObject &config)
{
    const QString mb = fixed(config.value("tcp_bytes").toDouble() / 1e6);
    const QString serialMb = fixed(config.value("serial_bytes").toDouble() / 1e6);
    const QString stall = "— stall p50 / p99 / max";
    const QString stalls = "{%1.p50} / {%1.p99} / {%1.max} ms";
    const QString medianMax = "{%1median_ms} (max {%1max_ms}) ms";
    auto mbps = [](const QJsonObject &f) {
        const char *end = f.value("stuck").toBool() ? " (stuck)"
            : f.value("timed_out").toBool()         ? " (timed out)"
                                                    : "";
        return f.contains("error") ? f.value("error").toString() : fill("{mb_per_s:2}", f) + end;
    };
    auto rss = [](const QJsonObject &f) {
        const double growth
            = f.value("rss_after_mb").toDouble() - f.value("rss_before_mb").toDouble();
        return f.contains("rss_after_mb") ? QString::asprintf("%+.1f MB", growth) : QString();
    };
    QList<Row> list {
        { "idle CPU, every link closed", "idle", cell("{closed_cpu_percent:2} %"), "≤ 0.5 %" },
        { stall, "idle", cell(stalls.arg("closed_stall")), "" },
        { "idle CPU, serial open on a quiet pty", "idle", cell("{serial_cpu_percent:2} %"),
          "≤ 2 %" },
        { stall, "idle", cell(stalls.arg("serial_stall")), "p50 ≤ 1, max ≤ 20 ms" },
        { "start-up to an exposed window, median of "
              + QString::number(config.value("startup_runs").toInt()),
          "startup", cell(medianMax.arg("")), "≤ 150 ms" },
        { "exit, serial open: answer to window gone", "exit", cell(medianMax.arg("window_gone.")),
          "≤ 300 ms" },
        { "— answer to process ended", "exit", cell(medianMax.arg("process_ended.")), "" },
    };
    const QString floods[][2]
        = { { "network ASCII, 1 channel, " + mb + " MB", "≥ 50, ≥ 3× naive" },
            { "network ASCII, 3 channels × " + mb + " MB", "≥ 50, ≥ 3× naive" },
            { "network hex, 1 channel, " + mb + " MB", "≥ 12.5, ≥ 2× naive" },
            { "network hex, 3 channels × " + mb + " MB", "≥ 12.5, ≥ 2× naive" },
            { "serial ASCII, " + serialMb + " MB through a pty", "≥ 10" },
            { "serial hex, " + serialMb + " MB through a pty", "≥ 5" } };
    for (int i = 0; i < floodKeys.size(); ++i) {
        const QString &key = floodKeys.at(i);
        list.append({ floods[i][0] + ": MB/s", key, mbps, floods[i][1], true });
        list.append({ stall, key, cell(stalls.arg("stall")), "p99 ≤ 30, max ≤ 100 ms" });
        list.append({ "— RSS after − before", key, rss, "≤ 10 MB" });
        list.append({ "— logs byte-exact", key, cell("{logs}"), "exact" });
    }
    list.append({ "serial paced at 92 KB/s, 3 network ASCII floods: device held back, longest",
                  "serial-paced", cell("{device_held_back_ms} ms"), "≤ 100 ms" });
    list.append({ "— network MB/s; stall p50 / p99 / max", "serial-paced",
                  [=](const QJsonObject &f) {
                      return f.isEmpty() ? QString()
                                         : mbps(f) + "; " + fill(stalls.arg("stall"), f);
                  },
                  "" });
    list.append({ "— logs byte-exact: network; serial", "serial-paced",
                  cell("{logs}; {serial_log}"), "exact" });
    list.append({ "soak, " + QString::number(config.value("soak_count").toInt())
                      + " appends per view: RSS growth",
                  "soak", cell("{rss_growth_mb} MB"), "≤ 5 MB" });
    list.append({ "soak: µs per append, first → last tenth (net 1, 2, 3, serial)", "soak",
                  [](const QJsonObject &f) {
                      QStringList views;
                      for (const QJsonValue &v : f.value("views").toArray())
                          views << fill("{first_us} → {last_us}", v.toObject());
                      return views.join(", ");
                  },
                  "last ≤ 1.5× first" });
    for (const BusyRow &row : busyRows)
        list.append({ row.label, "busy", cell(row.format), row.target });
    return list;
}

// One markdown table: a single run with its naive view beside it, or several runs side by side.
void printTable(const QList<QJsonObject> &runs, const QStringList &names, FILE *out)
{
    const bool single = runs.size() == 1;
    QStringList head { "figure" };
    head += single ? QStringList { "TeskManager", "naive view", "ratio" } : names;
    head << "target";
    std::fprintf(out, "| %s |\n|%s\n", qPrintable(head.join(" | ")),
                 qPrintable(QStringLiteral("---|").repeated(head.size())));
    for (const Row &row : rows(runs.first().value("config").toObject())) {
        QStringList cells { row.label };
        bool any = false;
        for (const QJsonObject &run : runs) {
            const QJsonObject section = run.value(row.section).toObject();
            const bool flood = section.contains("app");
            const QJsonObject app = flood ? section.value("app").toObject() : section;
            cells << (section.isEmpty() ? QString() : row.value(app));
            any = any || !section.isEmpty();
            if (!single)
                continue;
            const QJsonObject naive = section.value("naive").toObject();
            cells << (naive.isEmpty() ? QString() : row.value(naive));
            const double base = naive.value("mb_per_s").toDouble();
            cells << (row.ratio && base > 0 ? fixed(app.value("mb_per_s").toDouble() / base) + "×"
                                            : QString());
        }
        if (any)
            std::fprintf(out, "| %s | %s |\n", qPrintable(cells.join(" | ")),
                         qPrintable(row.target));
    }
    std::fflush(out);
}

int combine(const Options &o)
{
    QList<QJsonObject> runs;
    QStringList names;
    for (const QString &path : o.tables) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return std::fprintf(stderr, "cannot read %s\n", qPrintable(path)), 2;
        runs << QJsonDocument::fromJson(file.readAll()).object();
        names << QFileInfo(path).completeBaseName();
    }
    if (runs.isEmpty())
        return 2;
    printTable(runs, names, stdout);
    return 0;
}

bool logsHold(const QJsonObject &f, bool smoke)
{
    const QString logs = f.value("logs").toString();
    return logs != "ALTERED" && (!smoke || logs == "exact");
}

int runAll(const Options &o, const QStringList &arguments)
{
    if (o.x && qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fputs("The X mode needs a screen: tools/x-session.sh makes one (make bench-x)\n",
                   stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", o.x ? "xcb" : "offscreen");
    QJsonObject run;
    run.insert("config",
               QJsonObject { { "mode", o.x ? "x" : "offscreen" },
                             { "qt", qVersion() },
                             { "smoke", o.smoke },
                             { "tcp_bytes", double(o.tcpBytes) },
                             { "serial_bytes", double(o.serialBytes) },
                             { "idle_seconds", o.idleSeconds },
                             { "soak_count", o.soakCount },
                             { "startup_runs", o.startupRuns },
                             { "exit_runs", o.exitRuns } });
    const qint64 started = monotonicNs();
    bool ok = true;
    if (wants(o, "idle"))
        run.insert("idle", runChild(arguments, "idle", 4 * o.idleSeconds + 60).figures);
    if (wants(o, "startup"))
        run.insert("startup", startups(o, arguments));
    if (wants(o, "exit"))
        run.insert("exit", exits(o, arguments));
    const int floodBound = o.floodTimeout + o.stuckSeconds + 60;
    for (const QString &key : floodKeys) {
        if (!wants(o, key))
            continue;
        const QJsonObject app = runChild(arguments, key + ":app", floodBound).figures;
        const QJsonObject naive = runChild(arguments, key + ":naive", floodBound,
                                           { "--view", app.value("view").toString("600x200") })
                                      .figures;
        run.insert(key, QJsonObject { { "app", app }, { "naive", naive } });
        ok = ok && !app.contains("error") && logsHold(app, o.smoke) && logsHold(naive, o.smoke);
    }
    if (wants(o, "serial-paced")) {
        const QJsonObject paced = runChild(arguments, "serial-paced", floodBound + 60).figures;
        run.insert("serial-paced", paced);
        ok = ok && logsHold(paced, o.smoke) && paced.value("serial_log") == "exact";
    }
    if (wants(o, "soak"))
        run.insert("soak", runChild(arguments, "soak", 120 + o.soakCount / 100).figures);
    if (wants(o, "busy")) {
        const QJsonObject f = busy({ o.x, o.busySeconds, o.program });
        run.insert("busy", f);
        ok = ok && f.value("complete").toBool();
    }
    run.insert("seconds", double(monotonicNs() - started) / 1e9);
    run.insert("ok", ok);

    FILE *table = o.json ? stderr : stdout;
    std::fprintf(table, "\nTeskManager bench%s: Qt %s, %s; MB = 10^6 bytes; stall = %s; %.0f s\n\n",
                 o.smoke ? " (smoke)" : "", qVersion(),
                 o.x ? qPrintable("X on " + qEnvironmentVariable("DISPLAY")) : "offscreen",
                 o.x ? "_NET_WM_PING round trip" : "lateness of a 10 ms timer",
                 double(monotonicNs() - started) / 1e9);
    printTable({ run }, {}, table);
    std::fprintf(table, "\n%s\n", ok ? "No byte lost or changed." : "FAILED: see the table.");
    if (o.json)
        std::printf("%s\n", QJsonDocument(run).toJson(QJsonDocument::Compact).constData());
    return ok ? 0 : 1;
}

bool parseOptions(const QStringList &args, Options &o)
{
    if (args.contains("--smoke")) {
        o.smoke = true;
        o.tcpBytes = 200'000;
        o.serialBytes = 100'000;
        o.idleSeconds = 1;
        o.soakCount = 1000;
        o.startupRuns = 2;
        o.exitRuns = 1;
        o.floodTimeout = 30;
        o.stuckSeconds = 10;
        o.busySeconds = 3;
    }
    const std::pair<const char *, qint64 *> numbers[]
        = { { "--tcp-bytes", &o.tcpBytes },
            { "--serial-bytes", &o.serialBytes },
            { "--idle-seconds", &o.idleSeconds },
            { "--soak-count", &o.soakCount },
            { "--startup-runs", &o.startupRuns },
            { "--exit-runs", &o.exitRuns },
            { "--flood-timeout", &o.floodTimeout },
            { "--stuck-seconds", &o.stuckSeconds },
            { "--naive-read-buffer", &o.naiveReadBuffer },
            { "--busy-seconds", &o.busySeconds } };
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == "--x" || arg == "--json" || arg == "--smoke") {
            (arg == "--x" ? o.x : arg == "--json" ? o.json : o.smoke) = true;
            continue;
        }
        if (arg == "--table")
            return !(o.tables = args.mid(i + 1)).isEmpty();
        const QString value = args.value(++i);
        bool isNumber = false;
        const qint64 n = value.toLongLong(&isNumber);
        bool ok = !value.isEmpty();
        if (arg == "--only")
            o.only = value.split(',', Qt::SkipEmptyParts);
        else if (arg == "--child")
            o.child = value;
        else if (arg == "--program")
            o.program = value;
        else if (arg == "--view")
            o.view = QSize(value.section('x', 0, 0).toInt(), value.section('x', 1).toInt());
        else
            // Only the naive view's read buffer has a meaning for 0.
            ok = std::any_of(std::begin(numbers), std::end(numbers), [&](const auto &number) {
                return arg == QLatin1String(number.first) && isNumber
                    && n >= (number.second == &o.naiveReadBuffer ? 0 : 1)
                    && (*number.second = n, true);
            });
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    Options o;
    if (!parseOptions(args, o)) {
        std::fputs(usage, stderr);
        return 2;
    }
    if (!o.tables.isEmpty())
        return combine(o);
    // A peer that goes away mid-write must fail the write, not end the bench.
    std::signal(SIGPIPE, SIG_IGN);
    if (!o.child.isEmpty()) {
        QApplication app(argc, argv);
        setUpApplication();
        QApplication::setFont(QFont("DejaVu Sans", 9));
        const QJsonObject figures = measure(o);
        printFigures(figures);
        return 0;
    }
    QCoreApplication app(argc, argv);
    return runAll(o, args.mid(1));
}
