#include "parts.h"

#include "application.h"
#include "baseline.h"
#include "floodserver.h"
#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "pty.h"
#include "report.h"
#include "testenvironment.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>

#include <malloc.h>
#include <sys/stat.h>

namespace {

// Text lines of lower-case words and digits: no zero byte, carriage return, backspace or
// "0A " that a rendering or the serial view's clean-up would change, so the log must equal
// the payload.
QByteArray textPayload(qint64 size, unsigned seed)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::mt19937 random(seed);
    QByteArray out;
    out.reserve(int(size));
    while (out.size() < size) {
        const int length = 20 + int(random() % 70);
        for (int i = 0; i < length && out.size() < size - 1; ++i)
            out.append(i % 8 == 7 ? ' ' : alphabet[random() % 36]);
        out.append('\n');
    }
    out.truncate(int(size));
    return out;
}

QByteArray randomPayload(qint64 size, unsigned seed)
{
    std::mt19937 random(seed);
    QByteArray out(int(size), Qt::Uninitialized);
    for (char &c : out)
        c = char(random() & 0xff);
    return out;
}

qint64 fileSize(const QByteArray &path)
{
    struct stat info { };
    return ::stat(path.constData(), &info) == 0 ? qint64(info.st_size) : -1;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The received bytes a log stands for. Hex renderings are pairs of digits with spaces and
// line breaks between (fromHex skips both); the serial view also shows each "0A " as a line
// break.
QByteArray decodeLog(QByteArray log, bool hex, bool serial)
{
    if (!hex)
        return log;
    if (serial)
        log.replace('\n', "0A ");
    return QByteArray::fromHex(log);
}

void settle(int ms)
{
    QTest::qWait(ms);
}

// Fills the byte figures from the logs, one per channel.
void verifyLogs(FloodFigures &f, const QStringList &logPaths, const QByteArray &payload, bool hex,
                bool serial)
{
    f.logged = 0;
    f.intact = true;
    for (const QString &path : logPaths) {
        const QByteArray bytes = decodeLog(readFile(path), hex, serial);
        f.logged += bytes.size();
        f.intact = f.intact && payload.startsWith(bytes);
    }
    f.complete = f.intact && f.logged == f.expected;
    f.mbps = f.seconds > 0 ? double(f.logged) / 1e6 / f.seconds : 0;
}

// The GUI thread has not come back from one call for the grace period, or not past the time-out,
// and nothing can make it: reports the figures as the logs and the probe stand now and ends the
// process. Runs on the watchdog thread, so it touches only files, /proc and the probe's thread-safe
// figures.
[[noreturn]] void reportStuck(FloodFigures f, const FloodWait &wait, const QStringList &logPaths,
                              const QByteArray &payload, bool hex, bool serial)
{
    f.seconds = wait.secondsNow();
    f.late = wait.latenessNow();
    const Memory now = memoryNow();
    f.rssAfterMb = now.rssMb;
    f.peakMb = now.peakMb;
    f.error = QStringLiteral("stuck: one call has kept the GUI thread for %1 s; figures as of "
                             "then")
                  .arg(fixed(f.late.max / 1000, 0));
    verifyLogs(f, logPaths, payload, hex, serial);
    printPartFigures(f.json());
    std::_Exit(3);
}

// The main window under test, in a throw-away home and working directory of its own.
struct App {
    TestEnvironment env;
    MainWindow window;

    template<class T> T *widget(const QString &name) const { return window.findChild<T *>(name); }
    bool show()
    {
        window.showMaximized();
        return QTest::qWaitForWindowExposed(&window, 5000);
    }
    QString logPath(const QString &suffix) const
    {
        for (const QString &name : env.logFiles())
            if (name.endsWith(suffix))
                return env.logDirPath() + QLatin1Char('/') + name;
        return {};
    }
    QTcpSocket *socket(int channel) const
    {
        return window.findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly)
            .value(channel - 1);
    }
    QPushButton *connectButton(int channel) const
    {
        return widget<QPushButton>(QStringLiteral("PB_ConnectNetwork%1").arg(channel));
    }
    int received(int channel) const
    {
        return widget<QLineEdit>(QStringLiteral("LE_Network%1RecvCount").arg(channel))
            ->text()
            .toInt();
    }

    bool connectNetwork(int channels, quint16 port, const FloodServer &server)
    {
        widget<QLineEdit>(QStringLiteral("LE_IPAddress1"))->setText(QStringLiteral("127.0.0.1"));
        widget<QLineEdit>(QStringLiteral("LE_Port1"))->setText(QString::number(port));
        for (int c = 1; c <= channels; ++c) {
            connectButton(c)->click();
            if (!connectButton(c)->isChecked()
                || !QTest::qWaitFor([&] { return server.accepted() >= c; }, 2000))
                return false;
        }
        return true;
    }
    void disconnectNetwork(int channels)
    {
        for (int c = 1; c <= channels; ++c)
            if (connectButton(c)->isChecked())
                connectButton(c)->click();
    }

    QSerialPort *serialPort() const { return window.findChild<QSerialPort *>(); }
    bool openSerial(const Pty &pty)
    {
        auto *box = widget<QComboBox>(QStringLiteral("CB_SerialPort"));
        box->addItem(pty.slavePath());
        box->setCurrentIndex(box->count() - 1);
        widget<QPushButton>(QStringLiteral("PB_OpenSerialPort"))->click();
        return serialPort()->isOpen();
    }
    void closeSerial()
    {
        auto *button = widget<QPushButton>(QStringLiteral("PB_OpenSerialPort"));
        if (serialPort()->isOpen() && button->isChecked())
            button->click();
    }
};

int timeoutMs(const PartOptions &options)
{
    return options.floodTimeoutSeconds * 1000;
}

// Runs one flood: memory before, the wait with its probe (until `done` or the time-out, reporting
// a stuck GUI thread), then time, lateness and memory after. `hookUp` connects the readers'
// arrivals to the wait's check; `start` sets the sender going.
void measureFlood(FloodFigures &f, const std::function<bool()> &done, const PartOptions &options,
                  const QStringList &logs, const QByteArray &payload, bool hex, bool serial,
                  const std::function<void(FloodWait &)> &hookUp,
                  const std::function<void()> &start)
{
    settle(300);
    resetPeakMemory();
    f.rssBeforeMb = memoryNow().rssMb;
    FloodWait wait(done, timeoutMs(options));
    wait.setStuckHandler([&] { reportStuck(f, wait, logs, payload, hex, serial); },
                         stuckGraceSeconds * 1000);
    hookUp(wait);
    wait.run(start);
    f.seconds = wait.seconds();
    f.late = wait.lateness();
    settle(300);
    const Memory after = memoryNow();
    f.rssAfterMb = after.rssMb;
    f.peakMb = after.peakMb;
}

// What the window gives back once its views are cleared, and once the allocator is trimmed.
void measureClearedMemory(FloodFigures &f, const std::function<void()> &clearViews)
{
    clearViews();
    settle(300);
    f.rssClearedMb = memoryNow().rssMb;
    malloc_trim(0);
    f.rssTrimmedMb = memoryNow().rssMb;
}

FloodFigures appTcpFlood(int channels, bool hex, const QByteArray &payload,
                         const PartOptions &options)
{
    FloodFigures f;
    f.expected = payload.size() * channels;
    FloodServer server(FloodServer::Mode::Flood);
    App app;
    if (!server.isListening() || !app.show()) {
        f.error = QStringLiteral("set-up failed");
        return f;
    }
    f.viewSize = app.widget<QTextEdit>(QStringLiteral("TE_Network1"))->size();
    for (int c = 1; c <= channels && hex; ++c)
        app.widget<QRadioButton>(QStringLiteral("RB_Network%1Hex").arg(c))->click();
    if (!app.connectNetwork(channels, server.port(), server)) {
        f.error = QStringLiteral("could not connect");
        return f;
    }

    QStringList logs;
    std::vector<QByteArray> logFiles;
    for (int c = 1; c <= channels; ++c) {
        logs << app.logPath(QStringLiteral("-network%1.txt").arg(c));
        logFiles.push_back(QFile::encodeName(logs.last()));
    }
    const qint64 n = payload.size();
    // Every arrival adds one line break to a hex log, so its size tells the bytes it holds only
    // together with the channel's RECV count.
    auto done = [&] {
        for (int c = 1; c <= channels; ++c)
            if (fileSize(logFiles[size_t(c - 1)]) != (hex ? 3 * n + app.received(c) : n))
                return false;
        return true;
    };

    measureFlood(
        f, done, options, logs, payload, hex, false,
        [&](FloodWait &wait) {
            // Connected after the window's own reader, so each check sees that arrival logged.
            for (int c = 1; c <= channels; ++c)
                QObject::connect(app.socket(c), &QIODevice::readyRead, &wait, &FloodWait::check);
        },
        [&] { server.start(payload); });
    for (int c = 1; c <= channels; ++c)
        f.arrivals << app.received(c);
    measureClearedMemory(f, [&] {
        for (int c = 1; c <= channels; ++c)
            QMetaObject::invokeMethod(&app.window,
                                      qPrintable(QStringLiteral("clearNetwork%1").arg(c)));
    });

    app.disconnectNetwork(channels);
    server.stop();
    verifyLogs(f, logs, payload, hex, false);
    return f;
}

FloodFigures baselineTcpFlood(int channels, bool hex, const QByteArray &payload,
                              const PartOptions &options)
{
    FloodFigures f;
    f.expected = payload.size() * channels;
    TestEnvironment env;
    FloodServer server(FloodServer::Mode::Flood);
    std::vector<std::unique_ptr<NaiveView>> views;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    QStringList logs;
    for (int c = 1; c <= channels; ++c) {
        logs << env.homePath() + QStringLiteral("/naive-network%1.txt").arg(c);
        views.emplace_back(std::make_unique<NaiveView>(NaiveView::Channel::Network, hex,
                                                       logs.last(), options.networkView));
        sockets.emplace_back(std::make_unique<QTcpSocket>());
        QTcpSocket *socket = sockets.back().get();
        NaiveView *view = views.back().get();
        QObject::connect(socket, &QIODevice::readyRead, socket,
                         [socket, view] { view->take(socket->readAll()); });
        socket->setReadBufferSize(options.baselineReadBuffer);
        socket->connectToHost(QHostAddress::LocalHost, server.port());
        if (!QTest::qWaitForWindowExposed(view->widget(), 5000) || !socket->waitForConnected(2000)
            || !QTest::qWaitFor([&] { return server.accepted() >= c; }, 2000)) {
            f.error = QStringLiteral("set-up failed");
            return f;
        }
    }
    auto done = [&] {
        for (const auto &view : views)
            if (view->bytesTaken() != payload.size())
                return false;
        return true;
    };

    measureFlood(
        f, done, options, logs, payload, hex, false,
        [&](FloodWait &wait) {
            for (const auto &socket : sockets)
                QObject::connect(socket.get(), &QIODevice::readyRead, &wait, &FloodWait::check);
        },
        [&] { server.start(payload); });
    for (const auto &view : views)
        f.arrivals << view->arrivals();

    for (const auto &socket : sockets)
        socket->abort();
    server.stop();
    verifyLogs(f, logs, payload, hex, false);
    return f;
}

FloodFigures appSerialFlood(bool hex, const QByteArray &payload, const PartOptions &options)
{
    FloodFigures f;
    f.expected = payload.size();
    Pty pty;
    App app;
    if (!pty.isValid() || !app.show()) {
        f.error = QStringLiteral("set-up failed");
        return f;
    }
    f.viewSize = app.widget<QTextEdit>(QStringLiteral("TE_SerialPort"))->size();
    if (hex)
        app.widget<QRadioButton>(QStringLiteral("RB_SerialHex"))->click();
    if (!app.openSerial(pty)) {
        f.error = QStringLiteral("could not open the pty");
        return f;
    }
    const QString log = app.logPath(QStringLiteral("-serial.txt"));
    const QByteArray logFile = QFile::encodeName(log);
    // The serial view adds no line break per block, and shows each rendered "0A " as one.
    const qint64 wanted
        = hex ? 3 * payload.size() - 2 * payload.count('\n') : qint64(payload.size());
    auto done = [&] { return fileSize(logFile) == wanted; };

    PtyPump device(pty.masterFd(), PtyPump::Mode::Write);
    measureFlood(
        f, done, options, { log }, payload, hex, true, [](FloodWait &) {},
        [&] { device.start(payload); });
    f.arrivals << app.widget<QLineEdit>(QStringLiteral("LE_SerialRecvCount"))->text().toInt();
    measureClearedMemory(f, [&] { QMetaObject::invokeMethod(&app.window, "clearSerialPort"); });

    device.stop();
    app.closeSerial();
    verifyLogs(f, { log }, payload, hex, true);
    return f;
}

FloodFigures baselineSerialFlood(bool hex, const QByteArray &payload, const PartOptions &options)
{
    FloodFigures f;
    f.expected = payload.size();
    TestEnvironment env;
    Pty pty;
    const QString log = env.homePath() + QStringLiteral("/naive-serial.txt");
    NaiveView view(NaiveView::Channel::Serial, hex, log, options.serialView);
    QSerialPort port;
    port.setPortName(pty.slavePath());
    port.setReadBufferSize(options.baselineReadBuffer);
    if (!pty.isValid() || !QTest::qWaitForWindowExposed(view.widget(), 5000)
        || !port.open(QIODevice::ReadWrite)) {
        f.error = QStringLiteral("set-up failed");
        return f;
    }
    auto done = [&] { return view.bytesTaken() == payload.size(); };

    PtyPump device(pty.masterFd(), PtyPump::Mode::Write);
    measureFlood(
        f, done, options, { log }, payload, hex, true,
        [&](FloodWait &wait) {
            QObject::connect(&port, &QIODevice::readyRead, &wait, [&] {
                view.take(port.readAll());
                wait.check();
            });
        },
        [&] { device.start(payload); });
    f.arrivals << view.arrivals();

    device.stop();
    port.close();
    verifyLogs(f, { log }, payload, hex, true);
    return f;
}

// CPU share of one core that the whole process takes over the given time. The dialog helper
// polls every 5 ms and would be measured too, so it is away for the period; a watchdog brings
// it back should a modal box appear after all.
double idleCpuPercent(int seconds, std::unique_ptr<ModalDialogHelper> &helper, bool *boxSeen)
{
    helper.reset();
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() && !helper) {
            *boxSeen = true;
            helper = std::make_unique<ModalDialogHelper>();
        }
    });
    watchdog.start(250);
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    const double before = cpuSeconds();
    clock.start();
    loop.exec();
    const double percent = (cpuSeconds() - before) / (double(clock.nsecsElapsed()) / 1e9) * 100;
    watchdog.stop();
    if (!helper)
        helper = std::make_unique<ModalDialogHelper>();
    return percent;
}

QJsonObject measureIdle(const PartOptions &options, std::unique_ptr<ModalDialogHelper> &helper)
{
    QJsonObject o;
    App app;
    Pty pty;
    if (!app.show() || !pty.isValid()) {
        o.insert(QStringLiteral("error"), QStringLiteral("set-up failed"));
        return o;
    }
    settle(1000);
    bool boxSeen = false;
    o.insert(QStringLiteral("links_closed_cpu_percent"),
             idleCpuPercent(options.idleSeconds, helper, &boxSeen));
    if (!app.openSerial(pty)) {
        o.insert(QStringLiteral("error"), QStringLiteral("could not open the pty"));
        return o;
    }
    settle(1000);
    o.insert(QStringLiteral("serial_open_cpu_percent"),
             idleCpuPercent(options.idleSeconds, helper, &boxSeen));
    app.closeSerial();
    o.insert(QStringLiteral("seconds"), options.idleSeconds);
    o.insert(QStringLiteral("modal_box_seen"), boxSeen);
    return o;
}

// Sends the view's command count times through the given slot and times the first and the
// last tenth (at most 10,000 appends each): the calls alone, and the calls with the event
// processing in between, where the painting happens.
QJsonObject soakOneView(App &app, const QByteArray &slot, const QString &name,
                        const QString &sentCounter, int count, int eventsEvery)
{
    const QMetaObject *meta = app.window.metaObject();
    const QMetaMethod method = meta->method(meta->indexOfSlot(slot.constData()));
    const int window = std::max(1, std::min(10000, count / 10));
    QElapsedTimer clock;
    clock.start();
    qint64 callNs[2] = { 0, 0 };
    qint64 wallStart[2] = { 0, 0 };
    qint64 wallEnd[2] = { 0, 0 };
    for (int i = 0; i < count; ++i) {
        if (i == count - window)
            wallStart[1] = clock.nsecsElapsed();
        const qint64 t0 = clock.nsecsElapsed();
        method.invoke(&app.window, Qt::DirectConnection);
        const qint64 spent = clock.nsecsElapsed() - t0;
        if (i < window)
            callNs[0] += spent;
        if (i >= count - window)
            callNs[1] += spent;
        if ((i + 1) % eventsEvery == 0)
            QCoreApplication::processEvents();
        if (i == window - 1)
            wallEnd[0] = clock.nsecsElapsed();
    }
    wallEnd[1] = clock.nsecsElapsed();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    settle(200);

    QJsonObject o;
    o.insert(QStringLiteral("view"), name);
    o.insert(QStringLiteral("first_us_per_append"), double(callNs[0]) / 1e3 / window);
    o.insert(QStringLiteral("last_us_per_append"), double(callNs[1]) / 1e3 / window);
    o.insert(QStringLiteral("first_wall_us_per_append"),
             double(wallEnd[0] - wallStart[0]) / 1e3 / window);
    o.insert(QStringLiteral("last_wall_us_per_append"),
             double(wallEnd[1] - wallStart[1]) / 1e3 / window);
    o.insert(QStringLiteral("seconds"), seconds);
    o.insert(QStringLiteral("sent_counter"), app.widget<QLineEdit>(sentCounter)->text().toInt());
    o.insert(QStringLiteral("rss_after_mb"), memoryNow().rssMb);
    return o;
}

QJsonObject measureSoak(const PartOptions &options)
{
    QJsonObject o;
    FloodServer sink(FloodServer::Mode::Sink);
    Pty pty;
    App app;
    if (!sink.isListening() || !pty.isValid() || !app.show()
        || !app.connectNetwork(3, sink.port(), sink)) {
        o.insert(QStringLiteral("error"), QStringLiteral("set-up failed"));
        return o;
    }
    PtyPump drain(pty.masterFd(), PtyPump::Mode::Drain);
    const QString command = QStringLiteral("soak 0123456789 abcdefghijklmnopqrstuvwxyz");
    for (int c = 1; c <= 3; ++c)
        app.widget<QLineEdit>(QStringLiteral("LE_Network%1Cmd").arg(c))->setText(command);
    app.widget<QLineEdit>(QStringLiteral("LE_SerialPortCmd"))->setText(command);

    settle(300);
    resetPeakMemory();
    const Memory before = memoryNow();
    QElapsedTimer total;
    total.start();
    QJsonArray views;
    for (int c = 1; c <= 3; ++c) {
        std::fprintf(stderr, "[bench] soak: Network%d\n", c);
        views.append(soakOneView(app, QStringLiteral("sendNetwork%1()").arg(c).toLatin1(),
                                 QStringLiteral("Network%1").arg(c),
                                 QStringLiteral("LE_Network%1SentCount").arg(c), options.soakCount,
                                 256));
    }
    // Opened only now: each poll of an open, quiet port waits 10 ms, which would otherwise
    // slow every event processing of the network part. Events are processed less often here
    // for the same reason.
    if (app.openSerial(pty)) {
        std::fprintf(stderr, "[bench] soak: Serial\n");
        views.append(soakOneView(app, QByteArrayLiteral("sendSerialPort()"),
                                 QStringLiteral("Serial"), QStringLiteral("LE_SerialSentCount"),
                                 options.soakCount, 1024));
        app.closeSerial();
    } else {
        o.insert(QStringLiteral("error"), QStringLiteral("could not open the pty"));
    }
    settle(300);
    const Memory after = memoryNow();
    const double seconds = double(total.nsecsElapsed()) / 1e9;
    app.disconnectNetwork(3);

    o.insert(QStringLiteral("appends_per_view"), options.soakCount);
    o.insert(QStringLiteral("rss_before_mb"), before.rssMb);
    o.insert(QStringLiteral("rss_after_mb"), after.rssMb);
    o.insert(QStringLiteral("rss_growth_mb"), after.rssMb - before.rssMb);
    o.insert(QStringLiteral("peak_rss_before_mb"), before.peakMb);
    o.insert(QStringLiteral("peak_rss_after_mb"), after.peakMb);
    o.insert(QStringLiteral("seconds"), seconds);
    o.insert(QStringLiteral("views"), views);
    return o;
}

} // namespace

QJsonObject FloodFigures::json() const
{
    QJsonObject o;
    if (!error.isEmpty())
        o.insert(QStringLiteral("error"), error);
    QJsonArray counts;
    for (int count : arrivals)
        counts.append(count);
    o.insert(QStringLiteral("bytes_sent"), double(expected));
    o.insert(QStringLiteral("bytes_logged"), double(logged));
    o.insert(QStringLiteral("every_byte_logged"), complete);
    o.insert(QStringLiteral("log_intact"), intact);
    o.insert(QStringLiteral("seconds"), seconds);
    o.insert(QStringLiteral("mb_per_s"), mbps);
    o.insert(QStringLiteral("lateness_p50_ms"), late.p50);
    o.insert(QStringLiteral("lateness_p99_ms"), late.p99);
    o.insert(QStringLiteral("lateness_max_ms"), late.max);
    o.insert(QStringLiteral("probe_ticks"), late.samples);
    o.insert(QStringLiteral("arrivals"), counts);
    o.insert(QStringLiteral("rss_before_mb"), rssBeforeMb);
    o.insert(QStringLiteral("rss_after_mb"), rssAfterMb);
    o.insert(QStringLiteral("rss_peak_mb"), peakMb);
    if (rssClearedMb >= 0)
        o.insert(QStringLiteral("rss_after_clear_mb"), rssClearedMb);
    if (rssTrimmedMb >= 0)
        o.insert(QStringLiteral("rss_after_clear_and_trim_mb"), rssTrimmedMb);
    if (viewSize.isValid())
        o.insert(QStringLiteral("view_size"),
                 QStringLiteral("%1x%2").arg(viewSize.width()).arg(viewSize.height()));
    return o;
}

FloodFigures FloodFigures::fromJson(const QJsonObject &o)
{
    FloodFigures f;
    f.error = o.value(QStringLiteral("error")).toString();
    f.expected = qint64(o.value(QStringLiteral("bytes_sent")).toDouble());
    f.logged = qint64(o.value(QStringLiteral("bytes_logged")).toDouble());
    f.complete = o.value(QStringLiteral("every_byte_logged")).toBool();
    f.intact = o.value(QStringLiteral("log_intact")).toBool();
    f.seconds = o.value(QStringLiteral("seconds")).toDouble();
    f.mbps = o.value(QStringLiteral("mb_per_s")).toDouble();
    f.late.p50 = o.value(QStringLiteral("lateness_p50_ms")).toDouble();
    f.late.p99 = o.value(QStringLiteral("lateness_p99_ms")).toDouble();
    f.late.max = o.value(QStringLiteral("lateness_max_ms")).toDouble();
    f.late.samples = o.value(QStringLiteral("probe_ticks")).toInt();
    for (const QJsonValue &count : o.value(QStringLiteral("arrivals")).toArray())
        f.arrivals << count.toInt();
    f.rssBeforeMb = o.value(QStringLiteral("rss_before_mb")).toDouble();
    f.rssAfterMb = o.value(QStringLiteral("rss_after_mb")).toDouble();
    f.peakMb = o.value(QStringLiteral("rss_peak_mb")).toDouble();
    f.rssClearedMb = o.value(QStringLiteral("rss_after_clear_mb")).toDouble(-1);
    f.rssTrimmedMb = o.value(QStringLiteral("rss_after_clear_and_trim_mb")).toDouble(-1);
    const QStringList size
        = o.value(QStringLiteral("view_size")).toString().split(QLatin1Char('x'));
    if (size.size() == 2)
        f.viewSize = QSize(size.at(0).toInt(), size.at(1).toInt());
    return f;
}

QJsonObject runPart(const QString &part, const PartOptions &options)
{
    auto helper = std::make_unique<ModalDialogHelper>();
    if (part == QLatin1String("idle"))
        return measureIdle(options, helper);
    if (part == QLatin1String("soak"))
        return measureSoak(options);

    const QString key = part.section(QLatin1Char(':'), 0, 0);
    const QString who = part.section(QLatin1Char(':'), 1);
    const bool hex = key.contains(QLatin1String("-hex"));
    const bool baseline = who == QLatin1String("baseline");
    if (!baseline && who != QLatin1String("app"))
        return {};
    FloodFigures f;
    if (key == QLatin1String("tcp-ascii-1") || key == QLatin1String("tcp-ascii-3")
        || key == QLatin1String("tcp-hex-1") || key == QLatin1String("tcp-hex-3")) {
        const int channels = key.endsWith(QLatin1Char('3')) ? 3 : 1;
        const QByteArray payload
            = hex ? randomPayload(options.tcpBytes, 11) : textPayload(options.tcpBytes, 7);
        f = baseline ? baselineTcpFlood(channels, hex, payload, options)
                     : appTcpFlood(channels, hex, payload, options);
    } else if (key == QLatin1String("serial-ascii") || key == QLatin1String("serial-hex")) {
        const QByteArray payload
            = hex ? randomPayload(options.serialBytes, 13) : textPayload(options.serialBytes, 17);
        f = baseline ? baselineSerialFlood(hex, payload, options)
                     : appSerialFlood(hex, payload, options);
    } else {
        return {};
    }
    QJsonObject o = f.json();
    o.insert(QStringLiteral("dialogs_answered"), helper->count());
    return o;
}

const char windowShownLine[] = "TESKMANAGER_BENCH_WINDOW_SHOWN";

namespace {
const char partLinePrefix[] = "BENCH_PART ";
}

void printPartFigures(const QJsonObject &figures)
{
    std::printf("%s%s\n", partLinePrefix,
                QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

bool isPartFiguresLine(const QByteArray &line)
{
    return line.startsWith(partLinePrefix);
}

QJsonObject partFiguresFromLine(const QByteArray &line)
{
    return QJsonDocument::fromJson(line.mid(int(qstrlen(partLinePrefix)))).object();
}

int startupChild(int argc, char *argv[])
{
    QApplication app(argc, argv);
    setUpApplication();

    MainWindow window;
    window.showMaximized();
    QTimer::singleShot(0, &window, [&app] {
        std::printf("%s\n", windowShownLine);
        std::fflush(stdout);
        app.quit();
    });
    return app.exec();
}
