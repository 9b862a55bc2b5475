// The window's stalls while peers and the device misbehave: a line that never breaks, a peer
// that resets, closes at once or never reads, a connect that is refused or never answered, a
// device that goes away mid-burst, and the exit question while all four channels stream.

#include "floods.h"
#include "probe.h"
#include "testdata.h"
#include "windowfixture.h"

#include <QFileInfo>
#include <QSignalSpy>

namespace {

const QJsonObject setUpFailed { { "error", "set-up failed" } };

// A peer's long line; the device's, the reset stream and each exit stream are a quarter of it.
int lineBytes(const BenchOptions &o)
{
    return o.smoke ? 64 * 1024 : 1024 * 1024;
}

QTimer *connectTimer(WindowFixture &fixture, int channel)
{
    return fixture.widget<QTimer>(QStringLiteral("network%1ConnectTimer").arg(channel));
}

// The stalls from start until done holds.
QJsonObject stallsUntil(const BenchOptions &o, WindowFixture &fixture,
                        const std::function<void()> &start, const std::function<bool()> &done)
{
    const StallProbe stalls(o.x, &fixture.window());
    start();
    const bool ended = runEventsUntil(done, 60'000);
    QJsonObject f { { "stall", stalls.figures() } };
    if (!ended)
        f.insert("error", "it never ended");
    return f;
}

QJsonObject longLine(const BenchOptions &o, int channel)
{
    const int size = channel == serial ? lineBytes(o) / 4 : lineBytes(o);
    const QByteArray text = plainText(size, 2, plainAlphabet);
    FloodPeer sender(text);
    WindowFixture fixture;
    if (channel == serial ? !setUp(fixture, o)
                          : !setUp(fixture, o, false) || !connectNetwork(fixture, 1, sender, false))
        return setUpFailed;
    return stallsUntil(
        o, fixture, [&] { sender.start(channel == serial ? &fixture.pty : nullptr); },
        [&] { return QFileInfo(fixture.logPath(channel)).size() >= size; });
}

QJsonObject resetMidStream(const BenchOptions &o)
{
    const QByteArray text = randomText(lineBytes(o) / 4, 3, true);
    std::atomic<bool> go { false };
    TcpPeer resetting([&](TcpPeer &p, int fd) {
        if (p.waitUntil([&] { return go.load(); }) && p.sendAll(fd, text))
            TcpPeer::resetOnClose(fd);
    });
    WindowFixture fixture;
    if (!setUp(fixture, o, false) || !fixture.connectTo(3, resetting.port()))
        return setUpFailed;
    return stallsUntil(
        o, fixture, [&] { go = true; }, [&] { return !fixture.linkButton(3)->isChecked(); });
}

// Each of the three channels connects to a peer that closes at once, gracefully or with a
// reset; a socket that meets the reset before its own check tries again until the window gives
// up, after a second here.
QJsonObject closedAtOnce(const BenchOptions &o, bool reset)
{
    TcpPeer peer([reset](TcpPeer &, int fd) {
        if (reset)
            TcpPeer::resetOnClose(fd);
    });
    WindowFixture fixture;
    if (!setUp(fixture, o, false))
        return setUpFailed;
    fixture.setTarget(QString::number(peer.port()));
    for (int c = 1; c <= 3; ++c) {
        fixture.setHexMode(c, c == 2);
        connectTimer(fixture, c)->setInterval(1000);
    }
    return stallsUntil(
        o, fixture,
        [&] {
            for (int c = 1; c <= 3; ++c)
                fixture.linkButton(c)->click();
        },
        [&] {
            return !fixture.linkButton(1)->isChecked() && !fixture.linkButton(2)->isChecked()
                && !fixture.linkButton(3)->isChecked();
        });
}

// The longest command sent as often as the window lets a user, to a peer with a small receive
// buffer that never reads, until what the kernel cannot take piles up in the window.
QJsonObject neverReads(const BenchOptions &o)
{
    TcpPeer peer([](TcpPeer &p, int) { p.waitUntil([] { return false; }); }, 4096);
    WindowFixture fixture;
    if (!setUp(fixture, o, false) || !fixture.connectTo(1, peer.port()))
        return setUpFailed;
    QSignalSpy ticks(fixture.sendTimer(1), &QTimer::timeout);
    const int sends = o.smoke ? 3 : 80;
    QJsonObject f = stallsUntil(
        o, fixture,
        [&] {
            fixture.startPeriodicSend(1, QString::fromLatin1(plainText(32767, 4, plainAlphabet)),
                                      fixture.periodBox(1)->minimum());
        },
        [&] {
            return ticks.count() >= sends && (o.smoke || fixture.socket(1)->bytesToWrite() > 0);
        });
    f.insert("unsent_bytes", double(fixture.socket(1)->bytesToWrite()));
    return f;
}

// A connect that is refused and one that is never answered (the window gives up after a
// second), at the same time.
QJsonObject failedConnects(const BenchOptions &o)
{
    LateListener unanswered;
    WindowFixture fixture;
    if (!unanswered.isReady() || !setUp(fixture, o, false))
        return setUpFailed;
    connectTimer(fixture, 2)->setInterval(o.smoke ? 100 : 1000);
    return stallsUntil(
        o, fixture,
        [&] {
            fixture.setTarget(QString::number(WindowFixture::unusedPort()));
            fixture.linkButton(1)->click();
            fixture.setTarget(QString::number(unanswered.port()));
            fixture.linkButton(2)->click();
        },
        [&] { return !fixture.linkButton(1)->isChecked() && !fixture.linkButton(2)->isChecked(); });
}

// The device goes away in the middle of a burst while a periodic send runs; its box is left up
// for 0.3 s, as a user would, and the window must idle meanwhile and after the answer.
QJsonObject deviceLost(const BenchOptions &o)
{
    const QByteArray burst = randomBytes(lineBytes(o) / 4, 3);
    WindowFixture fixture;
    if (!setUp(fixture, o, false) || !fixture.open(serial, true))
        return setUpFailed;
    fixture.startPeriodicSend(serial, QStringLiteral("P"), 100);
    fixture.dialogs.setAnswerDelay(o.smoke ? 100 : 300);
    const CpuAroundBox cpu(fixture.dialogs);
    JoiningThread device;
    QJsonObject f = stallsUntil(
        o, fixture,
        [&] {
            device.start([&] {
                fixture.pty.write(burst);
                fixture.pty.closeMaster();
            });
        },
        [&] { return cpu.sinceAnswerMs() >= (o.smoke ? 100 : 1000); });
    const QJsonObject shares = cpu.figures();
    for (auto it = shares.begin(); it != shares.end(); ++it)
        f.insert(it.key(), it.value());
    return f;
}

// The exit question comes while every channel streams, and stays up until all is logged.
QJsonObject exitWhileStreaming(const BenchOptions &o)
{
    const QByteArray text = textPayload(lineBytes(o) / 4, 10);
    FloodPeer peer(text);
    WindowFixture fixture;
    if (!setUp(fixture, o) || !connectNetwork(fixture, 3, peer, false))
        return setUpFailed;
    auto logged = [&] {
        for (int c = 0; c <= 3; ++c)
            if (QFileInfo(fixture.logPath(c)).size() < text.size())
                return false;
        return true;
    };
    QElapsedTimer asked;
    fixture.dialogs.setMessageBoxAnswer(QMessageBox::Yes);
    fixture.dialogs.setAnswerCondition([&] { return logged() || asked.elapsed() > 30'000; });
    return stallsUntil(
        o, fixture,
        [&] {
            peer.start(&fixture.pty);
            asked.start();
            fixture.window().close();
        },
        logged);
}

} // namespace

QJsonObject hostile(const BenchOptions &o)
{
    const std::pair<const char *, std::function<QJsonObject()>> scenarios[]
        = { { "network_line", [&] { return longLine(o, 1); } },
            { "serial_line", [&] { return longLine(o, serial); } },
            { "reset_mid_stream", [&] { return resetMidStream(o); } },
            { "closed_at_once", [&] { return closedAtOnce(o, false); } },
            { "reset_at_once", [&] { return closedAtOnce(o, true); } },
            { "never_reads", [&] { return neverReads(o); } },
            { "failed_connects", [&] { return failedConnects(o); } },
            { "device_lost", [&] { return deviceLost(o); } },
            { "exit_while_streaming", [&] { return exitWhileStreaming(o); } } };
    QJsonObject f;
    QStringList failed;
    for (const auto &scenario : scenarios) {
        const QJsonObject figures = scenario.second();
        if (figures.contains("error"))
            failed << scenario.first + (": " + figures.value("error").toString());
        f.insert(scenario.first, figures);
    }
    if (!failed.isEmpty())
        f.insert("error", failed.join("; "));
    return f;
}
