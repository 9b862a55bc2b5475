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
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <unistd.h>

const char figuresPrefix[] = "BENCH_FIGURES ";

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

QJsonObject error(const QString &what)
{
    return { { "error", what } };
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

#ifndef TESKMANAGER_BENCH_X
// Without xcb the run refuses the X mode before any child starts.
struct PingProbe {
    explicit PingProbe(quint32) { }
    std::vector<double> roundTripsMs() const { return {}; }
    double waitingMs() const { return 0; }
};
#endif

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
        return error("no window");
    const int first = channels ? 1 : serial;
    if (channels ? !connectNetwork(fixture, channels, peer, hex) : !fixture.open(serial, hex))
        return error("could not open the link");
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
            return error("set-up failed");
    }
    return flood(o, &views.front()->view, list, hex, payload,
                 [&] { peer.start(channels ? nullptr : &pty); });
}

double cpuPercent(const Options &o, ModalDialogHelper &dialogs)
{
    // The helper's 5 ms poll would be measured too: it rests unless a box comes up after all,
    // which a filter notices without waking the window as a timer would.
    struct Rescue : QObject {
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::Show && watched->isWidgetType()
                && static_cast<QWidget *>(watched)->isModal())
                dialogs->setActive(true);
            return false;
        }
        ModalDialogHelper *dialogs;
    } rescue;
    rescue.dialogs = &dialogs;
    qApp->installEventFilter(&rescue);
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
        return error("no window");
    QTest::qWait(1000);
    QJsonObject f { { "closed_cpu_percent", cpuPercent(o, fixture.dialogs) },
                    { "closed_stall", stallsOver(o, &fixture.window()) } };
    if (!fixture.open(serial))
        return error("could not open the pty");
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
        return error("set-up failed");
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
        return error("set-up failed");
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
        return error("set-up failed");
    for (int c = 1; c <= 3; ++c)
        if (!fixture.connectTo(c, sink.port()))
            return error("could not connect");
    drain.start([&] {
        for (; !stop; std::this_thread::sleep_for(std::chrono::milliseconds(1)))
            fixture.pty.readAvailable();
    });
    QTest::qWait(300);
    const double before = rssMb();
    const int window = qBound(1, o.soakCount / 10, 10000);
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

} // namespace

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
