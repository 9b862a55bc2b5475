// The intake of a network channel during a flood while a script waits: with no script, with a
// script that sleeps, and with an expect pending that never matches (plain text, a pattern, a
// pattern starting with ".-", eight alternatives), paced at 10 MB/s and as fast as the peer can
// send.
//   teskmanager_bench --script-flood [--x] [--mb N] [--paced-mb N]

#include "application.h"
#include "probe.h"
#include "tcppeer.h"
#include "testdata.h"
#include "windowfixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QFont>
#include <QTest>

#include <atomic>
#include <cstdio>

namespace {

struct Variant {
    const char *name;
    const char *wait; // what the script does once connected; none: no script at all
};

const Variant variants[] = {
    { "no script", nullptr },
    { "script sleeping", "sleep(600000)" },
    { "expect pending, plain text", "net1:expect('NEVER-THERE', 600000)" },
    { "expect pending, pattern", "net1:expect{pattern = '%+CSQ: (%d+)', timeout = 600000}" },
    { "expect pending, (.-)\\r\\n", "net1:expect{pattern = '(.-)\\r\\n', timeout = 600000}" },
    { "expect pending, 8 alternatives",
      "net1:expect{'NEVER-THERE', 'ERROR!', 'BUSY!', 'NO CARRIER', {pattern = '%+CME ERROR: "
      "(%d+)'}, {pattern = '%+CMS ERROR: (%d+)'}, {pattern = 'CONNECT (%d+)!'}, {pattern = "
      "'[Rr]ING!'}, timeout = 600000}" },
    { "expect pending, 8 alternatives, one starts with %d+",
      "net1:expect{'NEVER-THERE', 'ERROR!', 'BUSY!', 'NO CARRIER', {pattern = '%+CME ERROR: "
      "(%d+)'}, {pattern = '%+CMS ERROR: (%d+)'}, {pattern = 'CONNECT (%d+)!'}, {pattern = "
      "'(%d+) bytes;'}, timeout = 600000}" },
};

double now()
{
    return double(monotonicNs()) / 1e9;
}

struct Figures {
    double seconds = 0; // first byte sent to last byte logged
    double lag = 0; // last byte sent to last byte logged
    bool complete = false;
};

// One flood into Network1 of a shown window; `pauseMs` between 64 KiB pieces paces it.
Figures flood(const Variant &variant, const QByteArray &payload, int pauseMs, bool x)
{
    std::atomic<double> started { 0 };
    std::atomic<double> sent { 0 };
    TcpPeer peer([&](TcpPeer &p, int fd) {
        started = now();
        p.sendAll(fd, payload, 64 * 1024, pauseMs);
        sent = now();
        p.waitUntil([] { return false; });
    });
    WindowFixture fixture(WindowFixture::Start::Later);
    if (variant.wait) {
        fixture.options.scripts
            = { { QStringLiteral("bench.lua"),
                  QByteArray("net1:connect('127.0.0.1', ") + QByteArray::number(peer.port()) + ")\n"
                      + variant.wait + '\n' } };
    }
    fixture.start();
    x ? fixture.window().showMaximized() : fixture.window().show();
    Figures f;
    if (!QTest::qWaitForWindowExposed(&fixture.window())
        || (!variant.wait && !fixture.connectTo(1, peer.port())))
        return f;
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer bound;
    bound.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        f.complete = QFileInfo(fixture.logPath(1)).size() == payload.size();
        if (f.complete || bound.elapsed() > 120000)
            loop.quit();
    });
    poll.start(2);
    loop.exec();
    const double end = now();
    f.seconds = end - started;
    // The peer may not have noted its last send yet when the window has logged it.
    f.lag = sent > 0 ? qMax(0.0, end - sent) : 0;
    return f;
}

} // namespace

int scriptFloodBench(int argc, char *argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const bool x = args.contains(QStringLiteral("--x"));
    const int mb = args.value(args.indexOf(QStringLiteral("--mb")) + 1, "50").toInt();
    const int pacedMb = args.value(args.indexOf(QStringLiteral("--paced-mb")) + 1, "30").toInt();
    if (!x)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    setUpApplication();
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    const QByteArray payload = plainText(mb * 1'000'000, 7, plainAlphabet + '\n');
    const QByteArray paced = payload.left(pacedMb * 1'000'000);
    std::printf("\nNetwork1 intake during a flood while a script waits: Qt %s, %s; MB = 10^6 "
                "bytes\n\n| script | %d MB at 10 MB/s: taken in, MB/s | last byte sent to "
                "logged | %d MB unpaced: MB/s |\n|---|---|---|---|\n",
                qVersion(), x ? "X" : "offscreen", pacedMb, mb);
    for (const Variant &variant : variants) {
        // 64 KiB every 6.5 ms is 10 MB/s.
        const Figures slow = flood(variant, paced, 6, x);
        const Figures fast = flood(variant, payload, 0, x);
        std::printf("| %s | %.2f%s | %.0f ms | %.1f%s |\n", variant.name,
                    paced.size() / 1e6 / slow.seconds, slow.complete ? "" : " (incomplete)",
                    slow.lag * 1000, payload.size() / 1e6 / fast.seconds,
                    fast.complete ? "" : " (incomplete)");
        std::fflush(stdout);
    }
    return 0;
}
