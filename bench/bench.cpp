// Drives the real MainWindow, shown on the offscreen platform, through idle periods, floods of
// received traffic, a long run of sends and repeated start-ups, and measures it against a naive
// view fed the same floods in the same run. This process only starts the parts (each in a
// process of its own, see parts.h), prints the table and the BENCH_JSON line.

#include "application.h"
#include "parts.h"
#include "report.h"
#include "testenvironment.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#include <csignal>
#include <cstdio>
#include <optional>

namespace {

const char startupChildOption[] = "--startup-child";
const char partOption[] = "--part";

struct Options {
    bool smoke = false;
    bool baseline = true;
    QStringList only;
    QString part;
    int startupRuns = 10;
    PartOptions sizes;

    bool wants(const QString &section) const
    {
        if (only.isEmpty())
            return true;
        for (const QString &prefix : only)
            if (section.startsWith(prefix))
                return true;
        return false;
    }
};

void usage()
{
    std::fprintf(stderr,
                 "usage: teskmanager_bench [--smoke] [--only SECTION[,SECTION...]] "
                 "[--no-baseline]\n"
                 "          [--tcp-bytes N] [--serial-bytes N] [--idle-seconds N] "
                 "[--soak-count N]\n"
                 "          [--startup-runs N] [--flood-timeout SECONDS] "
                 "[--baseline-read-buffer BYTES]\n"
                 "       teskmanager_bench --part PART [sizes as above]\n"
                 "sections (a prefix selects several): idle startup tcp-ascii-1 tcp-ascii-3 "
                 "tcp-hex-1 tcp-hex-3\n"
                 "          serial-ascii serial-hex soak\n"
                 "parts: idle, soak, SECTION:app, SECTION:baseline for the flood sections\n");
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

QSize sizeFromText(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    return parts.size() == 2 ? QSize(parts.at(0).toInt(), parts.at(1).toInt()) : QSize();
}

QStringList partArguments(const PartOptions &sizes)
{
    return { QStringLiteral("--tcp-bytes"),
             QString::number(sizes.tcpBytes),
             QStringLiteral("--serial-bytes"),
             QString::number(sizes.serialBytes),
             QStringLiteral("--idle-seconds"),
             QString::number(sizes.idleSeconds),
             QStringLiteral("--soak-count"),
             QString::number(sizes.soakCount),
             QStringLiteral("--flood-timeout"),
             QString::number(sizes.floodTimeoutSeconds),
             QStringLiteral("--baseline-read-buffer"),
             QString::number(sizes.baselineReadBuffer),
             QStringLiteral("--network-view"),
             sizeText(sizes.networkView),
             QStringLiteral("--serial-view"),
             sizeText(sizes.serialView) };
}

// Runs one part in a child process and returns what it reported; a child that outlives the
// bound is killed, so no part can hang the run.
QJsonObject runChild(const QString &part, const PartOptions &sizes, int timeoutSeconds)
{
    std::fprintf(stderr, "[bench] %s\n", qPrintable(part));
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments(QStringList { QLatin1String(partOption), part } + partArguments(sizes));
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start();
    QJsonObject result;
    if (!child.waitForFinished(timeoutSeconds * 1000)) {
        child.kill();
        child.waitForFinished(5000);
        result.insert(QStringLiteral("error"),
                      QStringLiteral("killed after %1 s").arg(timeoutSeconds));
        return result;
    }
    const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines)
        if (isPartFiguresLine(line))
            result = partFiguresFromLine(line);
    if (result.isEmpty())
        result.insert(QStringLiteral("error"),
                      QStringLiteral("no figures (exit code %1)").arg(child.exitCode()));
    return result;
}

bool reportFlood(Report &report, const QString &key, const QString &title, bool tcp, bool hex,
                 const FloodFigures &app, const FloodFigures *base, bool smoke)
{
    report.section(title);
    QJsonObject section;
    section.insert(QStringLiteral("app"), app.json());
    if (base)
        section.insert(QStringLiteral("baseline"), base->json());

    auto baseText
        = [&](double value, int decimals = 2) { return base ? fixed(value, decimals) : QString(); };
    auto ratioOf = [&](double appValue, double baseValue) {
        return base ? ratio(appValue, baseValue) : std::nullopt;
    };
    QJsonObject ratios;
    auto keep = [&](const char *name, std::optional<double> value) {
        ratios.insert(QLatin1String(name), value ? QJsonValue(*value) : QJsonValue());
        return value;
    };

    if (!app.error.isEmpty())
        report.row(QStringLiteral("error"), app.error);
    if (base && !base->error.isEmpty())
        report.row(QStringLiteral("error"), QString(), base->error);

    const double needed = hex ? 2.0 : 3.0;
    const auto throughput = keep("mb_per_s", ratioOf(app.mbps, base ? base->mbps : 0));
    report.row(QStringLiteral("MB/s received, shown and logged"), fixed(app.mbps),
               baseText(base ? base->mbps : 0), ratioText(throughput),
               tcp ? QStringLiteral(">= %1x baseline").arg(needed) : QString(),
               tcp && base ? verdict(throughput && *throughput >= needed) : Report::Verdict::None);
    const auto p50 = keep("lateness_p50", ratioOf(app.late.p50, base ? base->late.p50 : 0));
    report.row(QStringLiteral("probe lateness p50 (ms)"), fixed(app.late.p50, 1),
               baseText(base ? base->late.p50 : 0, 1), ratioText(p50));
    const auto p99 = keep("lateness_p99", ratioOf(app.late.p99, base ? base->late.p99 : 0));
    report.row(QStringLiteral("probe lateness p99 (ms)"), fixed(app.late.p99, 1),
               baseText(base ? base->late.p99 : 0, 1), ratioText(p99), QStringLiteral("<= 50"),
               verdict(app.late.p99 <= 50));
    const auto max = keep("lateness_max", ratioOf(app.late.max, base ? base->late.max : 0));
    report.row(QStringLiteral("probe lateness max (ms)"), fixed(app.late.max, 1),
               baseText(base ? base->late.max : 0, 1), ratioText(max), QStringLiteral("<= 150"),
               verdict(app.late.max <= 150));
    section.insert(QStringLiteral("ratio"), ratios);

    auto logged = [](const FloodFigures &f) {
        return QStringLiteral("%1 (%2/%3)")
            .arg(f.complete ? QStringLiteral("yes") : QStringLiteral("NO"))
            .arg(f.logged)
            .arg(f.expected);
    };
    report.row(QStringLiteral("every byte logged"), logged(app), base ? logged(*base) : QString(),
               QString(), QStringLiteral("all"), verdict(app.complete));
    auto counts = [](const FloodFigures &f) {
        if (f.arrivals.isEmpty())
            return QStringLiteral("unknown");
        QStringList list;
        for (int count : f.arrivals)
            list << QString::number(count);
        return list.join(QLatin1Char('/'));
    };
    report.row(QStringLiteral("RECV counter / baseline arrivals"), counts(app),
               base ? counts(*base) : QString());
    auto memory = [](const FloodFigures &f) {
        return QStringLiteral("%1 -> %2 (%3%4)")
            .arg(fixed(f.rssBeforeMb, 1), fixed(f.rssAfterMb, 1),
                 f.rssAfterMb >= f.rssBeforeMb ? QStringLiteral("+") : QString(),
                 fixed(f.rssAfterMb - f.rssBeforeMb, 1));
    };
    report.row(QStringLiteral("RSS before -> after (MB)"), memory(app),
               base ? memory(*base) : QString(), QString(), QStringLiteral("<= +10"),
               verdict(app.rssAfterMb - app.rssBeforeMb <= 10));
    auto sinceBefore = [&app](double mb) {
        return QStringLiteral("%1 (%2%3)")
            .arg(fixed(mb, 1), mb >= app.rssBeforeMb ? QStringLiteral("+") : QString(),
                 fixed(mb - app.rssBeforeMb, 1));
    };
    if (app.rssClearedMb >= 0)
        report.row(QStringLiteral("RSS after Clear of the views (MB)"),
                   sinceBefore(app.rssClearedMb));
    if (app.rssTrimmedMb >= 0)
        report.row(QStringLiteral("  and then after malloc_trim (MB)"),
                   sinceBefore(app.rssTrimmedMb));
    report.row(QStringLiteral("peak RSS during the flood (MB)"), fixed(app.peakMb, 1),
               base ? fixed(base->peakMb, 1) : QString());
    report.row(QStringLiteral("seconds"), fixed(app.seconds, 2),
               base ? fixed(base->seconds, 2) : QString());

    report.json.insert(key, section);
    // A log that is not the payload is a lost or changed byte: a failure in any run. In the
    // smoke run the small floods must also arrive in full.
    bool failed = !app.error.isEmpty() || !app.intact || (base && !base->intact);
    if (smoke)
        failed = failed || !app.complete || (base && (!base->complete || !base->error.isEmpty()));
    return !failed;
}

bool runFlood(Report &report, const Options &options, const QString &key)
{
    const bool tcp = key.startsWith(QLatin1String("tcp"));
    const bool hex = key.contains(QLatin1String("-hex"));
    const int channels = key.endsWith(QLatin1Char('3')) ? 3 : 1;
    const int timeout = options.sizes.floodTimeoutSeconds + stuckGraceSeconds + 90;
    const FloodFigures app
        = FloodFigures::fromJson(runChild(key + QStringLiteral(":app"), options.sizes, timeout));
    std::optional<FloodFigures> base;
    if (options.baseline) {
        // The baseline's views are as large as the program's own, as measured on its window.
        PartOptions sizes = options.sizes;
        if (app.viewSize.isValid())
            (tcp ? sizes.networkView : sizes.serialView) = app.viewSize;
        base = FloodFigures::fromJson(runChild(key + QStringLiteral(":baseline"), sizes, timeout));
    }
    const QString mode
        = hex ? QStringLiteral("hex (random bytes)") : QStringLiteral("ASCII (text lines)");
    const QString title = tcp
        ? QStringLiteral("TCP flood, %1 mode, %2 channel%3, %4 MB per channel")
              .arg(mode)
              .arg(channels)
              .arg(channels > 1 ? "s" : "")
              .arg(fixed(double(options.sizes.tcpBytes) / 1e6, 1))
        : QStringLiteral("Serial flood through a pty, %1 mode, %2 MB")
              .arg(mode, fixed(double(options.sizes.serialBytes) / 1e6, 1));
    return reportFlood(report, key, title, tcp, hex, app, base ? &*base : nullptr, options.smoke);
}

bool runIdle(Report &report, const Options &options)
{
    report.section(QStringLiteral("Idle CPU, %1 s each, % of one core (whole process)")
                       .arg(options.sizes.idleSeconds));
    const QJsonObject o
        = runChild(QStringLiteral("idle"), options.sizes, 2 * options.sizes.idleSeconds + 120);
    const QString error = o.value(QStringLiteral("error")).toString();
    if (!error.isEmpty())
        report.row(QStringLiteral("error"), error);
    const double closed = o.value(QStringLiteral("links_closed_cpu_percent")).toDouble(-1);
    const double serialOpen = o.value(QStringLiteral("serial_open_cpu_percent")).toDouble(-1);
    report.row(QStringLiteral("every link closed"), fixed(closed, 3), QString(), QString(),
               QStringLiteral("<= 1 %"), verdict(closed >= 0 && closed <= 1));
    report.row(QStringLiteral("serial port open on an idle pty"), fixed(serialOpen, 3), QString(),
               QString(), QStringLiteral("<= 2 %"), verdict(serialOpen >= 0 && serialOpen <= 2));
    if (o.value(QStringLiteral("modal_box_seen")).toBool())
        report.row(QStringLiteral("warning"), QStringLiteral("a modal box appeared"));
    report.json.insert(QStringLiteral("idle"), o);
    return error.isEmpty();
}

bool runSoak(Report &report, const Options &options)
{
    report.section(QStringLiteral("Soak: %1 appends to each view through its send slot")
                       .arg(options.sizes.soakCount));
    // Generous: well over a millisecond per append.
    const int timeout = 300 + int(qint64(options.sizes.soakCount) * 4 / 1000);
    const QJsonObject o = runChild(QStringLiteral("soak"), options.sizes, timeout);
    const QString error = o.value(QStringLiteral("error")).toString();
    if (!error.isEmpty())
        report.row(QStringLiteral("error"), error);
    auto number = [&o](const char *name) { return o.value(QLatin1String(name)).toDouble(); };
    const double growth = number("rss_growth_mb");
    report.row(QStringLiteral("RSS before -> after (MB)"),
               QStringLiteral("%1 -> %2 (%3)")
                   .arg(fixed(number("rss_before_mb"), 1), fixed(number("rss_after_mb"), 1),
                        fixed(growth, 1)),
               QString(), QString(), QStringLiteral("growth <= 5"),
               verdict(error.isEmpty() && growth <= 5));
    report.row(
        QStringLiteral("peak RSS before -> after (MB)"),
        QStringLiteral("%1 -> %2")
            .arg(fixed(number("peak_rss_before_mb"), 1), fixed(number("peak_rss_after_mb"), 1)));
    bool allCounted = error.isEmpty();
    for (const QJsonValue &value : o.value(QStringLiteral("views")).toArray()) {
        const QJsonObject v = value.toObject();
        const QString name = v.value(QStringLiteral("view")).toString();
        auto field = [&v](const char *key) { return v.value(QLatin1String(key)).toDouble(); };
        const double first = field("first_us_per_append");
        const double last = field("last_us_per_append");
        const std::optional<double> flat = ratio(last, first);
        report.row(QStringLiteral("%1: us/append, first -> last").arg(name),
                   QStringLiteral("%1 -> %2").arg(fixed(first, 1), fixed(last, 1)), QString(),
                   ratioText(flat), QStringLiteral("end <= 1.5x start"),
                   verdict(flat && *flat <= 1.5));
        report.row(QStringLiteral("%1: with events between").arg(name),
                   QStringLiteral("%1 -> %2")
                       .arg(fixed(field("first_wall_us_per_append"), 1),
                            fixed(field("last_wall_us_per_append"), 1)));
        const int sent = v.value(QStringLiteral("sent_counter")).toInt();
        report.row(QStringLiteral("%1: SENT counter, seconds").arg(name),
                   QStringLiteral("%1, %2 s").arg(sent).arg(fixed(field("seconds"), 1)));
        allCounted = allCounted && sent == options.sizes.soakCount;
    }
    report.row(QStringLiteral("total seconds"), fixed(number("seconds"), 1));
    report.json.insert(QStringLiteral("soak"), o);
    return allCounted;
}

bool runStartup(Report &report, const Options &options)
{
    std::fprintf(stderr, "[bench] startup\n");
    report.section(QStringLiteral("Start-up: process start to shown window, %1 runs")
                       .arg(options.startupRuns));
    // The children inherit the throw-away home and working directory, so their logs land there.
    TestEnvironment env;
    std::vector<double> times;
    int failures = 0;
    for (int run = 0; run < options.startupRuns; ++run) {
        QProcess child;
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments({ QLatin1String(startupChildOption) });
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        child.start();
        QByteArray out;
        bool shown = false;
        while (!shown && clock.elapsed() < 10000) {
            if (!child.waitForReadyRead(int(10000 - clock.elapsed())))
                break;
            out += child.readAllStandardOutput();
            shown = out.contains(windowShownLine);
        }
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        if (!child.waitForFinished(5000)) {
            child.kill();
            child.waitForFinished(1000);
        }
        if (shown)
            times.push_back(ms);
        else
            ++failures;
    }
    const double median = percentile(times, 0.5);
    QStringList all;
    for (double t : times)
        all << fixed(t, 0);
    report.row(QStringLiteral("median (ms)"), fixed(median, 1), QString(), QString(),
               QStringLiteral("<= 300"), verdict(!times.empty() && median <= 300));
    report.row(QStringLiteral("all runs (ms)"), all.join(QLatin1Char(' ')));
    if (failures)
        report.row(QStringLiteral("error"),
                   QStringLiteral("%1 runs showed no window within 10 s").arg(failures));

    QJsonObject section;
    QJsonArray runs;
    for (double t : times)
        runs.append(t);
    section.insert(QStringLiteral("median_ms"), median);
    section.insert(QStringLiteral("runs_ms"), runs);
    section.insert(QStringLiteral("failed_runs"), failures);
    report.json.insert(QStringLiteral("startup"), section);
    return failures == 0;
}

bool parseOptions(const QStringList &args, Options &options)
{
    if (args.contains(QStringLiteral("--smoke"))) {
        options.smoke = true;
        options.startupRuns = 2;
        options.sizes.tcpBytes = 200'000;
        options.sizes.serialBytes = 200'000;
        options.sizes.idleSeconds = 1;
        options.sizes.soakCount = 1000;
        options.sizes.floodTimeoutSeconds = 30;
    }
    PartOptions &sizes = options.sizes;
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const bool hasValue = i + 1 < args.size();
        const QString value = hasValue ? args.at(i + 1) : QString();
        bool ok = hasValue;
        const qint64 number = value.toLongLong(&ok);
        ok = ok && number > 0;
        if (arg == QLatin1String("--smoke")) {
            continue;
        } else if (arg == QLatin1String("--no-baseline")) {
            options.baseline = false;
            continue;
        } else if (arg == QLatin1String("--only") && hasValue) {
            options.only = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
        } else if (arg == QLatin1String(partOption) && hasValue) {
            options.part = value;
        } else if (arg == QLatin1String("--network-view") && sizeFromText(value).isValid()) {
            sizes.networkView = sizeFromText(value);
        } else if (arg == QLatin1String("--serial-view") && sizeFromText(value).isValid()) {
            sizes.serialView = sizeFromText(value);
        } else if (arg == QLatin1String("--tcp-bytes") && ok) {
            sizes.tcpBytes = number;
        } else if (arg == QLatin1String("--serial-bytes") && ok) {
            sizes.serialBytes = number;
        } else if (arg == QLatin1String("--idle-seconds") && ok) {
            sizes.idleSeconds = int(number);
        } else if (arg == QLatin1String("--soak-count") && ok) {
            sizes.soakCount = int(number);
        } else if (arg == QLatin1String("--startup-runs") && ok) {
            options.startupRuns = int(number);
        } else if (arg == QLatin1String("--flood-timeout") && ok) {
            sizes.floodTimeoutSeconds = int(number);
        } else if (arg == QLatin1String("--baseline-read-buffer")
                   && (ok || value == QLatin1String("0"))) {
            sizes.baselineReadBuffer = number;
        } else {
            return false;
        }
        ++i;
    }
    return true;
}

int runOnePart(int argc, char *argv[], const Options &options)
{
    QApplication app(argc, argv);
    setUpApplication();
    const QJsonObject figures = runPart(options.part, options.sizes);
    if (figures.isEmpty()) {
        usage();
        return 2;
    }
    printPartFigures(figures);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], startupChildOption) == 0)
            return startupChild(argc, argv);

    // A peer that goes away mid-write must fail the write, not end the benchmark.
    std::signal(SIGPIPE, SIG_IGN);

    Options options;
    {
        QStringList args;
        for (int i = 0; i < argc; ++i)
            args << QString::fromLocal8Bit(argv[i]);
        if (!parseOptions(args, options)) {
            usage();
            return 2;
        }
    }
    if (!options.part.isEmpty())
        return runOnePart(argc, argv, options);

    QCoreApplication app(argc, argv);
    Report report;
    QJsonObject config;
    config.insert(QStringLiteral("smoke"), options.smoke);
    config.insert(QStringLiteral("qt"), QLatin1String(qVersion()));
    config.insert(QStringLiteral("platform"), qEnvironmentVariable("QT_QPA_PLATFORM"));
    config.insert(QStringLiteral("tcp_bytes_per_channel"), double(options.sizes.tcpBytes));
    config.insert(QStringLiteral("serial_bytes"), double(options.sizes.serialBytes));
    config.insert(QStringLiteral("idle_seconds"), options.sizes.idleSeconds);
    config.insert(QStringLiteral("soak_appends_per_view"), options.sizes.soakCount);
    config.insert(QStringLiteral("startup_runs"), options.startupRuns);
    config.insert(QStringLiteral("baseline_read_buffer"), double(options.sizes.baselineReadBuffer));
    config.insert(QStringLiteral("mb"), QStringLiteral("10^6 bytes"));
    report.json.insert(QStringLiteral("config"), config);

    std::printf("TeskManager benchmark%s: Qt %s, QT_QPA_PLATFORM=%s; MB = 10^6 bytes; "
                "ratio = TeskManager / baseline\n\n",
                options.smoke ? " (smoke)" : "", qVersion(),
                qPrintable(qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("(unset)"))));
    report.header();
    QElapsedTimer clock;
    clock.start();
    bool ok = true;
    if (options.wants(QStringLiteral("idle")))
        ok = runIdle(report, options) && ok;
    if (options.wants(QStringLiteral("startup")))
        ok = runStartup(report, options) && ok;
    for (const char *key :
         { "tcp-ascii-1", "tcp-ascii-3", "tcp-hex-1", "tcp-hex-3", "serial-ascii", "serial-hex" })
        if (options.wants(QLatin1String(key)))
            ok = runFlood(report, options, QLatin1String(key)) && ok;
    if (options.wants(QStringLiteral("soak")))
        ok = runSoak(report, options) && ok;

    QJsonObject summary;
    summary.insert(QStringLiteral("targets_missed"), report.missed);
    summary.insert(QStringLiteral("seconds"), double(clock.elapsed()) / 1000);
    summary.insert(QStringLiteral("ok"), ok);
    report.json.insert(QStringLiteral("summary"), summary);
    std::printf("\n%d target figure(s) missed; %s; %.1f s\n", report.missed,
                ok ? "no byte lost or changed" : "FAILED: see the errors above",
                double(clock.elapsed()) / 1000);
    report.printJson();
    return ok ? 0 : 1;
}
