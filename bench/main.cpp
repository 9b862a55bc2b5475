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

#include <csignal>
#include <cstdio>
#include <functional>

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
    QByteArray out;
    while (!child.waitForFinished(100) && child.state() != QProcess::NotRunning) {
        out += child.readAllStandardOutput();
        if (monotonicNs() - run.startedNs > qint64(timeoutSeconds) * 1000000000) {
            child.kill();
            child.waitForFinished();
            run.figures.insert("error", QStringLiteral("killed after %1 s").arg(timeoutSeconds));
            return run;
        }
    }
    run.endedNs = monotonicNs();
    out += child.readAllStandardOutput();
    for (const QByteArray &line : out.split('\n'))
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
    f.insert("failed", o.startupRuns - int(ms.size()));
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

// A table cell made of a section's figures.
using Cell = std::function<QString(const QJsonObject &)>;

struct Row {
    QString label;
    QString section;
    Cell value;
    QString target;
    bool ratio = false; // of mb_per_s, the program over the naive view
};

Cell number(const char *key, const QString &unit = {}, int decimals = 1)
{
    return [=](const QJsonObject &f) {
        const QJsonValue value = f.value(QLatin1String(key));
        return value.isUndefined() ? QString() : fixed(value.toDouble(), decimals) + unit;
    };
}

// The fields under key (the section's own where key is empty) put into format, or nothing.
Cell joined(const char *key, const QStringList &fields, const QString &format)
{
    return [=](const QJsonObject &f) {
        const QJsonObject part = *key ? f.value(QLatin1String(key)).toObject() : f;
        QString text = format;
        for (const QString &field : fields)
            text = text.arg(fixed(part.value(field).toDouble()));
        return part.isEmpty() ? QString() : text;
    };
}

Cell stalls(const char *key)
{
    return joined(key, { "p50", "p99", "max" }, "%1 / %2 / %3 ms");
}

Cell medianMax(const char *key)
{
    return joined(key, { "median_ms", "max_ms" }, "%1 (max %2) ms");
}

QList<Row> rows(const QJsonObject &config)
{
    const QString mb = fixed(config.value("tcp_bytes").toDouble() / 1e6);
    const QString serialMb = fixed(config.value("serial_bytes").toDouble() / 1e6);
    const QString stall = "— stall p50 / p99 / max";
    QList<Row> list {
        { "idle CPU, every link closed", "idle", number("closed_cpu_percent", " %", 2), "≤ 0.5 %" },
        { stall, "idle", stalls("closed_stall"), "" },
        { "idle CPU, serial open on a quiet pty", "idle", number("serial_cpu_percent", " %", 2),
          "≤ 2 %" },
        { stall, "idle", stalls("serial_stall"), "p50 ≤ 1, max ≤ 20 ms" },
        { "start-up to an exposed window, median of "
              + QString::number(config.value("startup_runs").toInt()),
          "startup", medianMax(""), "≤ 150 ms" },
        { "exit, serial open: answer to window gone", "exit", medianMax("window_gone"),
          "≤ 300 ms" },
        { "— answer to process ended", "exit", medianMax("process_ended"), "" },
    };
    const std::pair<QString, QString> floods[]
        = { { "network ASCII, 1 channel, " + mb + " MB", "≥ 50, ≥ 3× naive" },
            { "network ASCII, 3 channels × " + mb + " MB", "≥ 50, ≥ 3× naive" },
            { "network hex, 1 channel, " + mb + " MB", "≥ 12.5, ≥ 2× naive" },
            { "network hex, 3 channels × " + mb + " MB", "≥ 12.5, ≥ 2× naive" },
            { "serial ASCII, " + serialMb + " MB through a pty", "≥ 10" },
            { "serial hex, " + serialMb + " MB through a pty", "≥ 5" } };
    auto mbps = [](const QJsonObject &f) {
        const QString text = number("mb_per_s", {}, 2)(f)
            + (f.value("stuck").toBool()           ? " (stuck)"
                   : f.value("timed_out").toBool() ? " (timed out)"
                                                   : "");
        return f.contains("error") ? f.value("error").toString() : text;
    };
    auto rss = [](const QJsonObject &f) {
        const double growth
            = f.value("rss_after_mb").toDouble() - f.value("rss_before_mb").toDouble();
        return !f.contains("rss_after_mb") ? QString()
                                           : (growth >= 0 ? "+" : "") + fixed(growth) + " MB";
    };
    auto logs = [](const QJsonObject &f) { return f.value("logs").toString(); };
    for (int i = 0; i < floodKeys.size(); ++i) {
        const QString &key = floodKeys.at(i);
        list.append({ floods[i].first + ": MB/s", key, mbps, floods[i].second, true });
        list.append({ stall, key, stalls("stall"), "p99 ≤ 30, max ≤ 100 ms" });
        list.append({ "— RSS after − before", key, rss, "≤ 10 MB" });
        list.append({ "— logs byte-exact", key, logs, "exact" });
    }
    auto both = [](Cell a, Cell b) {
        return [=](const QJsonObject &f) { return f.isEmpty() ? QString() : a(f) + "; " + b(f); };
    };
    list.append({ "serial paced at 92 KB/s, 3 network ASCII floods: device held back, longest",
                  "serial-paced", number("device_held_back_ms", " ms"), "≤ 100 ms" });
    list.append({ "— network MB/s; stall p50 / p99 / max", "serial-paced",
                  both(mbps, stalls("stall")), "" });
    list.append({ "— logs byte-exact: network; serial", "serial-paced",
                  both(logs, [](const QJsonObject &f) { return f.value("serial_log").toString(); }),
                  "exact" });
    list.append({ "soak, " + QString::number(config.value("soak_count").toInt())
                      + " appends per view: RSS growth",
                  "soak", number("rss_growth_mb", " MB"), "≤ 5 MB" });
    list.append({ "soak: µs per append, first → last tenth (net 1, 2, 3, serial)", "soak",
                  [](const QJsonObject &f) {
                      QStringList views;
                      for (const QJsonValue &v : f.value("views").toArray())
                          views << number("first_us")(v.toObject()) + " → "
                                  + number("last_us")(v.toObject());
                      return views.join(", ");
                  },
                  "last ≤ 1.5× first" });
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
#ifdef TESKMANAGER_BENCH_X
    XServer x;
    const bool shown = !o.x || x.start();
    const char *noX = "The X mode needs Xvfb and openbox (make bench-x installs them)\n";
#else
    const bool shown = !o.x;
    const char *noX = "The X mode is unavailable: this bench was built without xcb\n";
#endif
    if (!shown)
        return std::fputs(noX, stderr), 2;
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
    run.insert("seconds", double(monotonicNs() - started) / 1e9);
    run.insert("ok", ok);

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
        bool known = arg == "--smoke";
        if (arg == "--x" || arg == "--json") {
            (arg == "--x" ? o.x : o.json) = known = true;
        } else if (arg == "--table") {
            o.tables = args.mid(i + 1);
            return !o.tables.isEmpty();
        } else if (arg == "--only" || arg == "--child" || arg == "--view") {
            if (arg == "--only")
                o.only = value.split(',', Qt::SkipEmptyParts);
            else if (arg == "--child")
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
        QApplication::setFont(QFont("DejaVu Sans", 9));
        const QJsonObject figures = measure(o);
        printFigures(figures);
        return 0;
    }
    QCoreApplication app(argc, argv);
    return runAll(o, args.mid(1));
}
