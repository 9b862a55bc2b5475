// Drives the real window through idle periods, start-ups, exits, floods of received traffic and
// a long run of sends, each section in a process of its own so that no memory or state carries
// over, and measures every flood against a naive view fed the same bytes in the same run.

#include "application.h"
#include "busy.h"
#include "probe.h"
#include "report.h"
#include "sections.h"

#include <QApplication>
#include <QFont>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>

namespace {

const char usage[]
    = "usage: teskmanager_bench [--x] [--smoke] [--json] [--only SECTION[,SECTION...]]\n"
      "         [--tcp-bytes N] [--serial-bytes N] [--idle-seconds N] [--soak-count N]\n"
      "         [--startup-runs N] [--exit-runs N] [--flood-timeout S] [--stuck-seconds S]\n"
      "         [--naive-read-buffer N] [--busy-seconds N] [--program PATH]\n"
      "       teskmanager_bench --table RUN.json... (one table of runs made with --json)\n"
      "sections (a prefix selects several): idle startup exit tcp-ascii-1 tcp-ascii-3 tcp-hex-1\n"
      "         tcp-hex-3 serial-ascii serial-hex serial-paced serial-remote soak hostile\n"
      "         busy\n";

bool parseOptions(const QStringList &args, BenchOptions &o)
{
    if (args.contains("--smoke")) {
        o.smoke = true;
        o.tcpBytes = 50'000;
        o.serialBytes = 50'000;
        o.idleMs = 100;
        o.soakCount = 200;
        o.startupRuns = 2;
        o.exitRuns = 1;
        o.floodTimeout = 30;
        o.stuckSeconds = 10;
        o.busySeconds = 3;
    }
    struct Number {
        const char *flag;
        qint64 *value;
        qint64 unit = 1;
    };
    const Number numbers[] = { { "--tcp-bytes", &o.tcpBytes },
                               { "--serial-bytes", &o.serialBytes },
                               { "--idle-seconds", &o.idleMs, 1000 },
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
            ok = std::any_of(std::begin(numbers), std::end(numbers), [&](const Number &number) {
                return arg == QLatin1String(number.flag) && isNumber
                    && n >= (number.value == &o.naiveReadBuffer ? 0 : 1)
                    && (*number.value = n * number.unit, true);
            });
        if (!ok)
            return false;
    }
    return true;
}

bool wants(const BenchOptions &o, const QString &section)
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
    run.figures = figuresIn(child.readAllStandardOutput());
    if (run.figures.isEmpty())
        run.figures.insert("error",
                           QStringLiteral("no figures (exit code %1)").arg(child.exitCode()));
    return run;
}

QJsonObject startups(const BenchOptions &o, const QStringList &arguments)
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

QJsonObject exits(const BenchOptions &o, const QStringList &arguments)
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

bool logsHold(const QJsonObject &f, bool smoke)
{
    const QString logs = f.value("logs").toString();
    return logs != "ALTERED" && (!smoke || logs == "exact");
}

int runAll(const BenchOptions &o, const QStringList &arguments)
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
                             { "idle_seconds", double(o.idleMs) / 1000 },
                             { "soak_count", o.soakCount },
                             { "startup_runs", o.startupRuns },
                             { "exit_runs", o.exitRuns } });
    const qint64 started = monotonicNs();
    bool ok = true;
    if (wants(o, "idle"))
        run.insert("idle", runChild(arguments, "idle", int(4 * o.idleMs / 1000) + 60).figures);
    if (wants(o, "startup"))
        run.insert("startup", startups(o, arguments));
    if (wants(o, "exit"))
        run.insert("exit", exits(o, arguments));
    const int floodBound = o.floodTimeout + o.stuckSeconds + 60;
    for (const QString &key : floodSections) {
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
    if (wants(o, "serial-remote")) {
        const QJsonObject remote
            = runChild(arguments, "serial-remote", 2 * floodBound + 60).figures;
        run.insert("serial-remote", remote);
        ok = ok && !remote.contains("error")
            && (remote.contains("skipped")
                || logsHold(remote.value("rfc2217").toObject(), o.smoke));
    }
    if (wants(o, "soak"))
        run.insert("soak", runChild(arguments, "soak", 120 + o.soakCount / 100).figures);
    if (wants(o, "hostile")) {
        const QJsonObject hostile = runChild(arguments, "hostile", 600).figures;
        run.insert("hostile", hostile);
        ok = ok && !hostile.contains("error");
    }
    if (wants(o, "busy")) {
        const QJsonObject f = busy({ o.x, o.busySeconds, o.program });
        run.insert("busy", f);
        ok = ok && f.value("complete").toBool();
    }
    run.insert("seconds", double(monotonicNs() - started) / 1e9);
    run.insert("ok", ok);
    printRun(run, o.json);
    return ok ? 0 : 1;
}

} // namespace

// bench/script.cpp: the intake while a script's expect is pending.
int scriptFloodBench(int argc, char *argv[]);

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--script-flood") == 0)
        return scriptFloodBench(argc, argv);
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    BenchOptions o;
    if (!parseOptions(args, o)) {
        std::fputs(usage, stderr);
        return 2;
    }
    if (!o.tables.isEmpty())
        return combineTables(o.tables);
    // A peer that goes away mid-write must fail the write, not end the bench.
    std::signal(SIGPIPE, SIG_IGN);
    if (!o.child.isEmpty()) {
        QApplication app(argc, argv);
        setUpApplication();
        QApplication::setFont(QFont("DejaVu Sans", 9));
        printFigures(measureSection(o));
        return 0;
    }
    QCoreApplication app(argc, argv);
    return runAll(o, args.mid(1));
}
