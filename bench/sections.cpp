// The sections that are not floods: idle periods, a start-up, an exit and a long run of sends.

#include "sections.h"

#include "floods.h"
#include "probe.h"
#include "testdata.h"
#include "windowfixture.h"

#include <QApplication>
#include <QJsonArray>
#include <QWindow>

namespace {

QJsonObject stallsOver(const BenchOptions &o, QWidget *window)
{
    StallProbe stalls(o.x, window);
    runEventsFor(int(o.idleMs));
    return stalls.figures();
}

double cpuPercent(const BenchOptions &o, ModalDialogHelper &dialogs)
{
    // The helper's 5 ms poll would be measured too.
    dialogs.setActive(false);
    const double before = processCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    runEventsFor(int(o.idleMs));
    dialogs.setActive(true);
    return (processCpuSeconds() - before) / (double(clock.nsecsElapsed()) / 1e9) * 100;
}

QJsonObject idle(const BenchOptions &o)
{
    WindowFixture fixture;
    if (!setUp(fixture, o, false))
        return { { "error", "no window" } };
    settle(o, 1000);
    QJsonObject f { { "closed_cpu_percent", cpuPercent(o, fixture.dialogs) },
                    { "closed_stall", stallsOver(o, &fixture.window()) } };
    if (!fixture.open(serial))
        return { { "error", "could not open the pty" } };
    settle(o, 1000);
    f.insert("serial_cpu_percent", cpuPercent(o, fixture.dialogs));
    f.insert("serial_stall", stallsOver(o, &fixture.window()));
    return f;
}

QJsonObject startup(const BenchOptions &o)
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
QJsonObject exitTimes(const BenchOptions &o)
{
    WindowFixture fixture;
    if (!setUp(fixture, o))
        return { { "error", "set-up failed" } };
    settle(o, 500);
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

// Sends through each view's Send button count times; the µs per append over the first and the
// last tenth (at most 10^4 each), the event processing between included.
QJsonObject soak(const BenchOptions &o)
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
    settle(o, 300);
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
    settle(o, 300);
    return { { "rss_growth_mb", rssMb() - before }, { "views", views } };
}

} // namespace

QJsonObject measureSection(const BenchOptions &o)
{
    const QString section = o.child.section(':', 0, 0);
    const std::pair<const char *, QJsonObject (*)(const BenchOptions &)> others[]
        = { { "idle", idle },
            { "startup", startup },
            { "exit", exitTimes },
            { "serial-paced", pacedSerial },
            { "soak", soak },
            { "hostile", hostile },
            { "serial-remote", remoteSerial } };
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
