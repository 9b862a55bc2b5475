// The serial channel through a port server: a flood from a pty behind ser2net beside the same
// flood read from the pty directly, and how long a remote port takes to open.

#include "sections.h"

#include "comportserver.h"
#include "floods.h"
#include "probe.h"
#include "rfc2217link.h"
#include "ser2net.h"
#include "windowfixture.h"

#include <QComboBox>
#include <QJsonArray>
#include <QPushButton>

#include <algorithm>

namespace {

// Opens and closes `name` `runs` times on a channel of its own; the median and longest time from
// open() to an open link, in ms.
QJsonObject openTimes(const QString &name, int runs)
{
    SerialChannel channel;
    channel.setLineSettings(plainLine(name, 115200));
    QVector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const qint64 from = monotonicNs();
        if (!channel.open())
            return { { "error", channel.lastFailure() } };
        runEventsUntil([&] { return channel.linkState() != LinkState::Opening; }, 5000);
        const qint64 to = monotonicNs();
        if (channel.linkState() != LinkState::Open)
            return { { "error", channel.lastFailure() } };
        ms << double(to - from) / 1e6;
        channel.close();
        // ser2net serves one client per device: the last one must have left.
        runEventsUntil([] { return false; }, 50);
    }
    std::sort(ms.begin(), ms.end());
    return { { "median_ms", ms.at(ms.size() / 2) }, { "max_ms", ms.last() }, { "runs", runs } };
}

} // namespace

QJsonObject remoteSerial(const BenchOptions &o)
{
    if (!Ser2net::isInstalled())
        return { { "skipped", "ser2net is not installed" } };
    const qint64 size = o.smoke ? o.serialBytes : 4 * 1024 * 1024;
    const QByteArray payload = textPayload(size, 7);
    QJsonObject f { { "bytes", double(size) } };
    f.insert("local", appFlood(o, 0, false, payload));

    Ser2net ser2net;
    // ser2net's own buffers would hold the flood to a few MB/s: that would measure ser2net.
    ser2net.setBufferSize(65536);
    if (const QString failure = ser2net.start(); !failure.isEmpty())
        return { { "error", failure } };
    const QString name = QStringLiteral("rfc2217://127.0.0.1:%1").arg(ser2net.rfc2217Port());
    {
        WindowFixture fixture;
        if (!setUp(fixture, o, false))
            return { { "error", "no window" } };
        fixture.selectSerialPort(name);
        fixture.linkButton(serial)->click();
        runEventsUntil([&] { return fixture.serialChannel().linkState() != LinkState::Opening; },
                       5000);
        if (fixture.serialChannel().linkState() != LinkState::Open)
            return { { "error", "could not open " + name } };
        JoiningThread device;
        Pty &pty = ser2net.device();
        QJsonObject remote = flood(
            o, &fixture.window(),
            { { fixture.logPath(serial), [&fixture] { return fixture.received(serial); }, true } },
            false, payload, [&] { device.start([&] { pty.write(payload); }); });
        device.join();
        f.insert("rfc2217", remote);
        fixture.serialChannel().close();
    }
    const double local = f.value("local").toObject().value("mb_per_s").toDouble();
    const double remote = f.value("rfc2217").toObject().value("mb_per_s").toDouble();
    f.insert("percent_of_local", local > 0 ? 100 * remote / local : 0.0);
    runEventsUntil([] { return false; }, 100);
    f.insert("open", openTimes(name, o.smoke ? 3 : 20));

    ComPortServer silent;
    for (ComPortCommand command :
         { ComPortCommand::SetBaudRate, ComPortCommand::SetDataSize, ComPortCommand::SetParity,
           ComPortCommand::SetStopSize, ComPortCommand::SetControl })
        silent.setSilent(command);
    f.insert("open_silent",
             openTimes(QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.port()), 3));
    return f;
}
