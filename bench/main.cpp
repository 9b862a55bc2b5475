// Drives the real window through idle periods, start-ups, exits, floods of received traffic and
// a long run of sends, each section in a process of its own so that no memory or state carries
// over, and measures every flood against a naive view fed the same bytes in the same run.

#include "application.h"
#include "bench.h"
#include "responsiveness.h"
#ifdef TESKMANAGER_BENCH_X
#include "xping.h"
#endif

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

const char usage[]
    = "usage: teskmanager_bench [--x] [--smoke] [--json] [--only SECTION[,SECTION...]]\n"
      "         [--tcp-bytes N] [--serial-bytes N] [--idle-seconds N] [--soak-count N]\n"
      "         [--startup-runs N] [--exit-runs N] [--flood-timeout S] [--stuck-seconds S]\n"
      "         [--naive-read-buffer N]\n"
      "       teskmanager_bench --table RUN.json... (one table of runs made with --json)\n"
      "sections (a prefix selects several): idle startup exit tcp-ascii-1 tcp-ascii-3 tcp-hex-1\n"
      "         tcp-hex-3 serial-ascii serial-hex serial-paced soak\n";

const QStringList floodKeys { "tcp-ascii-1", "tcp-ascii-3",  "tcp-hex-1",
                              "tcp-hex-3",   "serial-ascii", "serial-hex" };

bool wants(const Options &o, const QString &section)
{
    for (const QString &prefix : o.only)
        if (section.startsWith(prefix))
            return true;
    return o.only.isEmpty();
}

struct ChildRun {
    QJsonObject figures;
    double exposedMs = -1; // since the start, once the child said its window is exposed
    qint64 endedNs = 0;
};

// Runs one section in a child; a child that outlives the bound is killed, so that no section
// can hang the run.
ChildRun runChild(const QStringList &arguments, const QString &section, int timeoutSeconds,
                  const QStringList &extra = {}, bool accessibility = false)
{
    std::fprintf(stderr, "[bench] %s\n", qPrintable(section));
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args = arguments + QStringList { QStringLiteral("--child"), section } + extra;
    const QString session = QStandardPaths::findExecutable(QStringLiteral("dbus-run-session"));
    if (accessibility && !session.isEmpty()) {
        // Its own session bus, on which the accessibility bus starts when the window asks.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        args.prepend(QCoreApplication::applicationFilePath());
        args.prepend(QStringLiteral("--"));
        child.setProgram(session);
    } else {
        child.setProgram(QCoreApplication::applicationFilePath());
    }
    child.setArguments(args);
    ChildRun run;
    const qint64 started = monotonicNs();
    child.start();
    QByteArray out;
    while (child.state() != QProcess::NotRunning) {
        child.waitForReadyRead(100);
        out += child.readAllStandardOutput();
        if (run.exposedMs < 0 && out.indexOf(QByteArray(exposedLine)) >= 0)
            run.exposedMs = double(monotonicNs() - started) / 1e6;
        if (monotonicNs() - started > qint64(timeoutSeconds) * 1000000000) {
            child.kill();
            child.waitForFinished();
            run.figures.insert(QStringLiteral("error"),
                               QStringLiteral("killed after %1 s").arg(timeoutSeconds));
            return run;
        }
    }
    run.endedNs = monotonicNs();
    out += child.readAllStandardOutput();
    for (const QByteArray &line : out.split('\n'))
        if (line.startsWith(QByteArray(figuresPrefix)))
            run.figures = QJsonDocument::fromJson(line.mid(int(qstrlen(figuresPrefix)))).object();
    if (run.figures.isEmpty() && section != QLatin1String("startup"))
        run.figures.insert(QStringLiteral("error"),
                           QStringLiteral("no figures (exit code %1)").arg(child.exitCode()));
    return run;
}

QJsonObject medianAndMax(const std::vector<double> &ms)
{
    QJsonArray all;
    for (double value : ms)
        all.append(value);
    return { { QStringLiteral("median_ms"), percentile(ms, 0.5) },
             { QStringLiteral("max_ms"), percentile(ms, 1) },
             { QStringLiteral("runs_ms"), all } };
}

QJsonObject startups(const Options &o, const QStringList &arguments)
{
    std::vector<double> ms;
    for (int i = 0; i < o.startupRuns; ++i) {
        const ChildRun run = runChild(arguments, QStringLiteral("startup"), 30);
        if (run.exposedMs >= 0)
            ms.push_back(run.exposedMs);
    }
    QJsonObject f = medianAndMax(ms);
    f.insert(QStringLiteral("failed"), o.startupRuns - int(ms.size()));
    return f;
}

QJsonObject exits(const Options &o, const QStringList &arguments)
{
    std::vector<double> gone;
    std::vector<double> ended;
    QJsonObject f;
    for (int i = 0; i < o.exitRuns; ++i) {
        const ChildRun run = runChild(arguments, QStringLiteral("exit"), 60, {}, o.x);
        const qint64 answered
            = run.figures.value(QStringLiteral("answered_ns")).toString().toLongLong();
        const qint64 hidden
            = run.figures.value(QStringLiteral("hidden_ns")).toString().toLongLong();
        if (answered <= 0 || hidden <= 0) {
            f.insert(QStringLiteral("error"), QStringLiteral("the window did not go"));
            continue;
        }
        gone.push_back(double(hidden - answered) / 1e6);
        ended.push_back(double(run.endedNs - answered) / 1e6);
    }
    f.insert(QStringLiteral("window_gone"), medianAndMax(gone));
    f.insert(QStringLiteral("process_ended"), medianAndMax(ended));
    f.insert(QStringLiteral("accessibility_bus"),
             o.x && !QStandardPaths::findExecutable(QStringLiteral("dbus-run-session")).isEmpty());
    return f;
}

#ifdef TESKMANAGER_BENCH_X
// Xvfb with a window manager, for the X mode; both end with the run.
class XServer {
public:
    bool start()
    {
        m_xvfb.start(QStringLiteral("Xvfb"),
                     { "-displayfd", "1", "-screen", "0", "1920x1080x24", "-nolisten", "tcp" });
        QByteArray display;
        while (!display.contains('\n') && m_xvfb.waitForReadyRead(10000))
            display += m_xvfb.readAllStandardOutput();
        if (display.trimmed().isEmpty())
            return std::fputs("Xvfb did not start\n", stderr), false;
        qputenv("DISPLAY", ':' + display.trimmed());
        m_wm.setStandardOutputFile(QProcess::nullDevice());
        m_wm.setStandardErrorFile(QProcess::nullDevice());
        // Now and then openbox gives up at once on a display that has just come up.
        for (int i = 0; i < 200 && !windowManagerRunning(); ++i) {
            if (m_wm.state() == QProcess::NotRunning)
                m_wm.start(QStringLiteral("openbox"), { "--sm-disable" });
            QThread::msleep(50);
        }
        return windowManagerRunning() || (std::fputs("openbox did not start\n", stderr), false);
    }
    ~XServer()
    {
        for (QProcess *process : { &m_wm, &m_xvfb }) {
            process->terminate();
            if (!process->waitForFinished(3000))
                process->kill();
            process->waitForFinished();
        }
    }

private:
    QProcess m_xvfb;
    QProcess m_wm;
};
#endif

QString fixed(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals);
}

QString stallText(const QJsonObject &s)
{
    return s.isEmpty() ? QString()
                       : QStringLiteral("%1 / %2 / %3 ms")
                             .arg(fixed(s.value(QStringLiteral("p50")).toDouble()),
                                  fixed(s.value(QStringLiteral("p99")).toDouble()),
                                  fixed(s.value(QStringLiteral("max")).toDouble()));
}

struct Row {
    QString label;
    QString section;
    std::function<QString(const QJsonObject &)> value;
    QString target;
    bool ratio = false; // of mb_per_s, the program over the naive view
};

QString number(const QJsonObject &f, const char *key, const QString &unit = {}, int decimals = 1)
{
    const QJsonValue value = f.value(QLatin1String(key));
    return value.isUndefined() ? QString() : fixed(value.toDouble(), decimals) + unit;
}

QString medianMax(const QJsonObject &f)
{
    return f.isEmpty() ? QString()
                       : QStringLiteral("%1 (max %2) ms")
                             .arg(fixed(f.value(QStringLiteral("median_ms")).toDouble()),
                                  fixed(f.value(QStringLiteral("max_ms")).toDouble()));
}

QList<Row> rows(const QJsonObject &config)
{
    auto obj = [](const QJsonObject &f, const char *key) {
        return f.value(QLatin1String(key)).toObject();
    };
    const QString mb = fixed(config.value(QStringLiteral("tcp_bytes")).toDouble() / 1e6, 1);
    const QString serialMb
        = fixed(config.value(QStringLiteral("serial_bytes")).toDouble() / 1e6, 1);
    QList<Row> list {
        { "idle CPU, every link closed", "idle",
          [](const QJsonObject &f) { return number(f, "closed_cpu_percent", " %", 2); },
          "≤ 0.5 %" },
        { "— stall p50 / p99 / max", "idle",
          [=](const QJsonObject &f) { return stallText(obj(f, "closed_stall")); }, "" },
        { "idle CPU, serial open on a quiet pty", "idle",
          [](const QJsonObject &f) { return number(f, "serial_cpu_percent", " %", 2); }, "≤ 2 %" },
        { "— stall p50 / p99 / max", "idle",
          [=](const QJsonObject &f) { return stallText(obj(f, "serial_stall")); },
          "p50 ≤ 1, max ≤ 20 ms" },
        { "start-up to an exposed window, median of "
              + QString::number(config.value(QStringLiteral("startup_runs")).toInt()),
          "startup", medianMax, "≤ 150 ms" },
        { "exit, serial open: answer to window gone", "exit",
          [=](const QJsonObject &f) { return medianMax(obj(f, "window_gone")); }, "≤ 300 ms" },
        { "— answer to process ended", "exit",
          [=](const QJsonObject &f) { return medianMax(obj(f, "process_ended")); }, "" },
    };
    const QStringList titles { "network ASCII, 1 channel, " + mb + " MB",
                               "network ASCII, 3 channels × " + mb + " MB",
                               "network hex, 1 channel, " + mb + " MB",
                               "network hex, 3 channels × " + mb + " MB",
                               "serial ASCII, " + serialMb + " MB through a pty",
                               "serial hex, " + serialMb + " MB through a pty" };
    const QStringList targets { "≥ 50, ≥ 3× naive",
                                "≥ 50, ≥ 3× naive",
                                "≥ 12.5, ≥ 2× naive",
                                "≥ 12.5, ≥ 2× naive",
                                "≥ 10",
                                "≥ 5" };
    auto mbps = [](const QJsonObject &f) {
        QString text = number(f, "mb_per_s", QString(), 2);
        if (f.value(QStringLiteral("stuck")).toBool())
            text += QStringLiteral(" (stuck)");
        else if (f.value(QStringLiteral("timed_out")).toBool())
            text += QStringLiteral(" (timed out)");
        return f.contains(QStringLiteral("error")) ? f.value(QStringLiteral("error")).toString()
                                                   : text;
    };
    auto stall = [=](const QJsonObject &f) { return stallText(obj(f, "stall")); };
    auto rss = [](const QJsonObject &f) {
        if (!f.contains(QStringLiteral("rss_after_mb")))
            return QString();
        const double growth = f.value(QStringLiteral("rss_after_mb")).toDouble()
            - f.value(QStringLiteral("rss_before_mb")).toDouble();
        return (growth >= 0 ? QStringLiteral("+") : QString()) + fixed(growth) + " MB";
    };
    auto logs = [](const QJsonObject &f) { return f.value(QStringLiteral("logs")).toString(); };
    for (int i = 0; i < floodKeys.size(); ++i) {
        list.append({ titles.at(i) + ": MB/s", floodKeys.at(i), mbps, targets.at(i), true });
        list.append(
            { "— stall p50 / p99 / max", floodKeys.at(i), stall, "p99 ≤ 30, max ≤ 100 ms" });
        list.append({ "— RSS after − before", floodKeys.at(i), rss, "≤ 10 MB" });
        list.append({ "— logs byte-exact", floodKeys.at(i), logs, "exact" });
    }
    list.append({ "serial paced at 92 KB/s, 3 network ASCII floods: device held back, longest",
                  "serial-paced",
                  [](const QJsonObject &f) { return number(f, "device_held_back_ms", " ms"); },
                  "≤ 100 ms" });
    list.append(
        { "— network MB/s; stall p50 / p99 / max", "serial-paced",
          [=](const QJsonObject &f) { return f.isEmpty() ? QString() : mbps(f) + "; " + stall(f); },
          "" });
    list.append({ "— logs byte-exact: network; serial", "serial-paced",
                  [=](const QJsonObject &f) {
                      return f.isEmpty() ? QString()
                                         : logs(f) + "; " + f.value("serial_log").toString();
                  },
                  "exact" });
    list.append({ "soak, " + QString::number(config.value("soak_count").toInt())
                      + " appends per view: RSS growth",
                  "soak", [](const QJsonObject &f) { return number(f, "rss_growth_mb", " MB"); },
                  "≤ 5 MB" });
    list.append({ "soak: µs per append, first → last tenth (net 1, 2, 3, serial)", "soak",
                  [](const QJsonObject &f) {
                      QStringList views;
                      for (const QJsonValue &v : f.value(QStringLiteral("views")).toArray())
                          views << number(v.toObject(), "first_us") + " → "
                                  + number(v.toObject(), "last_us");
                      return views.join(QStringLiteral(", "));
                  },
                  "last ≤ 1.5× first" });
    return list;
}

// One markdown table: a single run with its naive view beside it, or several runs side by side.
void printTable(const QList<QJsonObject> &runs, const QStringList &names, FILE *out)
{
    const bool single = runs.size() == 1;
    QStringList head { QStringLiteral("figure") };
    head += single ? QStringList { "TeskManager", "naive view", "ratio" } : names;
    head << QStringLiteral("target");
    std::fprintf(out, "| %s |\n|%s\n", qPrintable(head.join(QStringLiteral(" | "))),
                 qPrintable(QStringLiteral("---|").repeated(head.size())));
    for (const Row &row : rows(runs.first().value(QStringLiteral("config")).toObject())) {
        QStringList cells { row.label };
        bool any = false;
        for (const QJsonObject &run : runs) {
            const QJsonObject section = run.value(row.section).toObject();
            const bool flood = section.contains(QStringLiteral("app"));
            const QJsonObject app
                = flood ? section.value(QStringLiteral("app")).toObject() : section;
            cells << (section.isEmpty() ? QString() : row.value(app));
            any = any || !section.isEmpty();
            if (!single)
                continue;
            const QJsonObject naive = section.value(QStringLiteral("naive")).toObject();
            cells << (naive.isEmpty() ? QString() : row.value(naive));
            const double base = naive.value(QStringLiteral("mb_per_s")).toDouble();
            cells << (row.ratio && base > 0
                          ? fixed(app.value(QStringLiteral("mb_per_s")).toDouble() / base) + "×"
                          : QString());
        }
        if (any)
            std::fprintf(out, "| %s | %s |\n", qPrintable(cells.join(QStringLiteral(" | "))),
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
    const QString logs = f.value(QStringLiteral("logs")).toString();
    return logs != QLatin1String("ALTERED") && (!smoke || logs == QLatin1String("exact"));
}

int runAll(const Options &o, const QStringList &arguments)
{
#ifdef TESKMANAGER_BENCH_X
    std::unique_ptr<XServer> x;
    if (o.x && !(x = std::make_unique<XServer>())->start()) {
        std::fprintf(stderr, "The X mode needs Xvfb and openbox (make bench-x installs them)\n");
        return 2;
    }
#else
    if (o.x) {
        std::fprintf(stderr, "The X mode is unavailable: this bench was built without xcb\n");
        return 2;
    }
#endif
    qputenv("QT_QPA_PLATFORM", o.x ? "xcb" : "offscreen");
    QJsonObject run;
    run.insert(QStringLiteral("config"),
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
    if (wants(o, QStringLiteral("idle")))
        run.insert(QStringLiteral("idle"),
                   runChild(arguments, QStringLiteral("idle"), 4 * o.idleSeconds + 60).figures);
    if (wants(o, QStringLiteral("startup")))
        run.insert(QStringLiteral("startup"), startups(o, arguments));
    if (wants(o, QStringLiteral("exit")))
        run.insert(QStringLiteral("exit"), exits(o, arguments));
    const int floodBound = o.floodTimeout + o.stuckSeconds + 60;
    for (const QString &key : floodKeys) {
        if (!wants(o, key))
            continue;
        const QJsonObject app = runChild(arguments, key + ":app", floodBound).figures;
        const QJsonObject naive = runChild(arguments, key + ":naive", floodBound,
                                           { "--view", app.value("view").toString("600x200") })
                                      .figures;
        run.insert(key, QJsonObject { { "app", app }, { "naive", naive } });
        ok = ok && !app.contains(QStringLiteral("error")) && logsHold(app, o.smoke)
            && logsHold(naive, o.smoke);
    }
    if (wants(o, QStringLiteral("serial-paced"))) {
        const QJsonObject paced = runChild(arguments, "serial-paced", floodBound + 60).figures;
        run.insert(QStringLiteral("serial-paced"), paced);
        ok = ok && logsHold(paced, o.smoke)
            && paced.value(QStringLiteral("serial_log")) == QLatin1String("exact");
    }
    if (wants(o, QStringLiteral("soak")))
        run.insert(QStringLiteral("soak"),
                   runChild(arguments, "soak", 120 + o.soakCount / 100).figures);
    run.insert(QStringLiteral("seconds"), double(monotonicNs() - started) / 1e9);
    run.insert(QStringLiteral("ok"), ok);

    FILE *table = o.json ? stderr : stdout;
    std::fprintf(table, "\nTeskManager bench%s: Qt %s, %s; MB = 10^6 bytes; stall = %s; %.0f s\n\n",
                 o.smoke ? " (smoke)" : "", qVersion(),
                 o.x ? "Xvfb 1920x1080 with openbox" : "offscreen",
                 o.x ? "_NET_WM_PING round trip" : "lateness of a 10 ms timer",
                 double(monotonicNs() - started) / 1e9);
    printTable({ run }, {}, table);
    std::fprintf(table, "\n%s\n", ok ? "No byte lost or changed." : "FAILED: see the table.");
    if (o.json)
        std::printf("%s\n", QJsonDocument(run).toJson(QJsonDocument::Compact).constData());
    return ok ? 0 : 1;
}

} // namespace

bool parseOptions(const QStringList &args, Options &o)
{
    if (args.contains(QStringLiteral("--smoke"))) {
        o.smoke = true;
        o.tcpBytes = 200'000;
        o.serialBytes = 100'000;
        o.idleSeconds = 1;
        o.soakCount = 1000;
        o.startupRuns = 2;
        o.exitRuns = 1;
        o.floodTimeout = 30;
        o.stuckSeconds = 10;
    }
    const std::pair<const char *, qint64 *> sizes[]
        = { { "--tcp-bytes", &o.tcpBytes },
            { "--serial-bytes", &o.serialBytes },
            { "--naive-read-buffer", &o.naiveReadBuffer } };
    const std::pair<const char *, int *> counts[]
        = { { "--idle-seconds", &o.idleSeconds },   { "--soak-count", &o.soakCount },
            { "--startup-runs", &o.startupRuns },   { "--exit-runs", &o.exitRuns },
            { "--flood-timeout", &o.floodTimeout }, { "--stuck-seconds", &o.stuckSeconds } };
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const QString value = args.value(i + 1);
        bool ok = false;
        const qint64 n = value.toLongLong(&ok);
        bool known = arg == QLatin1String("--smoke");
        if (arg == QLatin1String("--x") || arg == QLatin1String("--json")) {
            (arg == QLatin1String("--x") ? o.x : o.json) = known = true;
        } else if (arg == QLatin1String("--table")) {
            o.tables = args.mid(i + 1);
            return !o.tables.isEmpty();
        } else if (arg == QLatin1String("--only") || arg == QLatin1String("--child")
                   || arg == QLatin1String("--view")) {
            if (arg == QLatin1String("--only"))
                o.only = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
            else if (arg == QLatin1String("--child"))
                o.child = value;
            else
                o.view = QSize(value.section('x', 0, 0).toInt(), value.section('x', 1).toInt());
            known = !value.isEmpty() && ++i;
        }
        for (const auto &size : sizes)
            if (arg == QLatin1String(size.first) && ok && n >= 0)
                *size.second = n, known = true, ++i;
        for (const auto &count : counts)
            if (arg == QLatin1String(count.first) && ok && n > 0)
                *count.second = int(n), known = true, ++i;
        if (!known)
            return false;
    }
    return true;
}

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
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
        const QJsonObject figures = measure(o);
        printFigures(figures);
        return 0;
    }
    QCoreApplication app(argc, argv);
    return runAll(o, args.mid(1));
}
