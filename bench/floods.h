#pragma once

#include "joiningthread.h"
#include "pty.h"
#include "setup.h"

#include "tcppeer.h"
#include <QJsonObject>

#include <QTest>

#include <atomic>
#include <functional>
#include <vector>

// One flooded channel, of the program or of the naive view: the log it writes and the count of
// arrivals it has taken.
struct FloodedLog {
    QString path;
    std::function<int()> arrivals;
    bool serial;
};

// The one flood routine: starts the senders, waits until every log holds all of the payload (or
// the time-out) and, unless the window has other traffic to take, until it is quiet again, and
// measures MB/s up to then, the stalls meanwhile, RSS before and after and the logs. A call that
// keeps the GUI thread past the stuck bound is reported from a watchdog, as far as the logs and
// the probe stand, and ends the process.
QJsonObject flood(const BenchOptions &o, QWidget *window, const std::vector<FloodedLog> &logs,
                  bool hex, const QByteArray &payload, const std::function<void()> &start,
                  const std::function<void()> &over = {}, bool untilQuiet = true);

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

// Connects the window's first `channels` network channels to the peer, in ASCII or hex.
bool connectNetwork(WindowFixture &fixture, int channels, const FloodPeer &peer, bool hex);

// A flood of the program's window on the network's first `channels` channels, or on the serial
// line when 0; the same flood into the naive view.
QJsonObject appFlood(const BenchOptions &o, int channels, bool hex, const QByteArray &payload);
QJsonObject naiveFlood(const BenchOptions &o, int channels, bool hex, const QByteArray &payload);

// A device paced at 92 KB/s on the serial line while the three network channels are flooded.
QJsonObject pacedSerial(const BenchOptions &o);
