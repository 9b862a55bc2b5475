#include "report.h"

#include "busy.h"
#include "probe.h"
#include "setup.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <functional>

namespace {

const char figuresPrefix[] = "BENCH_FIGURES ";

QString fixed(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals);
}

// A table cell: format with each {key} or {key:decimals} replaced by that figure (a.b for b
// within a), strings as they stand; empty where a figure is missing.
QString filledIn(const QString &format, const QJsonObject &figures)
{
    static const QRegularExpression field(R"(\{([\w.]+)(?::(\d))?\})");
    QString text;
    int done = 0;
    for (auto matches = field.globalMatch(format); matches.hasNext();) {
        const QRegularExpressionMatch match = matches.next();
        QJsonValue value = figures;
        for (const QString &key : match.captured(1).split('.'))
            value = value.toObject().value(key);
        if (value.isUndefined())
            return {};
        const int decimals = match.captured(2).isEmpty() ? 1 : match.captured(2).toInt();
        text += format.mid(done, match.capturedStart() - done)
            + (value.isString() ? value.toString() : fixed(value.toDouble(), decimals));
        done = match.capturedEnd();
    }
    return text + format.mid(done);
}

using Cell = std::function<QString(const QJsonObject &)>;

Cell cell(const QString &format)
{
    return [=](const QJsonObject &f) { return filledIn(format, f); };
}

struct Row {
    QString label;
    QString section;
    Cell value;
    QString target;
    bool ratio = false; // of mb_per_s, the program over the naive view
};

QList<Row> rows(const QJsonObject &config)
{
    const QString mb = fixed(config.value("tcp_bytes").toDouble() / 1e6);
    const QString serialMb = fixed(config.value("serial_bytes").toDouble() / 1e6);
    const QString stall = "— stall p50 / p99 / max";
    const QString stalls = "{%1.p50} / {%1.p99} / {%1.max} ms";
    const QString medianMax = "{%1median_ms} (max {%1max_ms}) ms";
    auto mbps = [](const QJsonObject &f) {
        const char *end = f.value("stuck").toBool() ? " (stuck)"
            : f.value("timed_out").toBool()         ? " (timed out)"
                                                    : "";
        return f.contains("error") ? f.value("error").toString()
                                   : filledIn("{mb_per_s:2}", f) + end;
    };
    auto rss = [](const QJsonObject &f) {
        const double growth
            = f.value("rss_after_mb").toDouble() - f.value("rss_before_mb").toDouble();
        return f.contains("rss_after_mb") ? QString::asprintf("%+.1f MB", growth) : QString();
    };
    QList<Row> list {
        { "idle CPU, every link closed", "idle", cell("{closed_cpu_percent:2} %"), "≤ 0.5 %" },
        { stall, "idle", cell(stalls.arg("closed_stall")), "" },
        { "idle CPU, serial open on a quiet pty", "idle", cell("{serial_cpu_percent:2} %"),
          "≤ 2 %" },
        { stall, "idle", cell(stalls.arg("serial_stall")), "p50 ≤ 1, max ≤ 20 ms" },
        { "start-up to an exposed window, median of "
              + QString::number(config.value("startup_runs").toInt()),
          "startup", cell(medianMax.arg("")), "≤ 150 ms" },
        { "exit, serial open: answer to window gone", "exit", cell(medianMax.arg("window_gone.")),
          "≤ 300 ms" },
        { "— answer to process ended", "exit", cell(medianMax.arg("process_ended.")), "" },
    };
    const QString floods[][2]
        = { { "network ASCII, 1 channel, " + mb + " MB", "≥ 50, ≥ 3× naive" },
            { "network ASCII, 3 channels × " + mb + " MB", "≥ 50, ≥ 3× naive" },
            { "network hex, 1 channel, " + mb + " MB", "≥ 12.5, ≥ 2× naive" },
            { "network hex, 3 channels × " + mb + " MB", "≥ 12.5, ≥ 2× naive" },
            { "serial ASCII, " + serialMb + " MB through a pty", "≥ 10" },
            { "serial hex, " + serialMb + " MB through a pty", "≥ 5" } };
    for (int i = 0; i < floodSections.size(); ++i) {
        const QString &key = floodSections.at(i);
        list.append({ floods[i][0] + ": MB/s", key, mbps, floods[i][1], true });
        list.append({ "— log complete; window quiet again (< 2 % of a core for 0.5 s)", key,
                      cell("{log_seconds:3} s; {seconds:3} s"), "" });
        list.append({ stall, key, cell(stalls.arg("stall")), "p99 ≤ 30, max ≤ 100 ms" });
        list.append({ "— RSS after − before", key, rss, "≤ 10 MB" });
        list.append({ "— logs byte-exact", key, cell("{logs}"), "exact" });
    }
    list.append({ "serial paced at 92 KB/s, 3 network ASCII floods: device held back, longest",
                  "serial-paced", cell("{device_held_back_ms} ms"), "≤ 100 ms" });
    list.append({ "— network MB/s; stall p50 / p99 / max", "serial-paced",
                  [=](const QJsonObject &f) {
                      return f.isEmpty() ? QString()
                                         : mbps(f) + "; " + filledIn(stalls.arg("stall"), f);
                  },
                  "" });
    list.append({ "— logs byte-exact: network; serial", "serial-paced",
                  cell("{logs}; {serial_log}"), "exact" });
    list.append(
        { "serial through ser2net (RFC 2217), 4 MiB: MB/s; the pty directly", "serial-remote",
          [=](const QJsonObject &f) {
              return f.isEmpty() || f.contains("error")
                  ? f.value("error").toString()
                  : mbps(f.value("rfc2217").toObject()) + "; " + mbps(f.value("local").toObject());
          },
          "≥ 80 % of the pty's" });
    list.append(
        { "— share of the pty's MB/s", "serial-remote", cell("{percent_of_local:1} %"), "≥ 80 %" });
    list.append({ "— stall p50 / p99 / max: remote; pty", "serial-remote",
                  cell("{rfc2217.stall.p50} / {rfc2217.stall.p99} / {rfc2217.stall.max} ms; "
                       "{local.stall.p50} / {local.stall.p99} / {local.stall.max} ms"),
                  "as the pty's" });
    list.append({ "— logs byte-exact: remote; pty", "serial-remote",
                  cell("{rfc2217.logs}; {local.logs}"), "exact" });
    list.append({ "open of a remote port against ser2net", "serial-remote",
                  cell("{open.median_ms:1} (max {open.max_ms:1}) ms"), "< 100 ms" });
    list.append({ "— against a server that answers no setting", "serial-remote",
                  cell("{open_silent.median_ms:1} (max {open_silent.max_ms:1}) ms"),
                  "≈ 300 ms, the soft time-out" });
    list.append({ "soak, " + QString::number(config.value("soak_count").toInt())
                      + " appends per view: RSS growth",
                  "soak", cell("{rss_growth_mb} MB"), "≤ 5 MB" });
    list.append({ "soak: µs per append, first → last tenth (net 1, 2, 3, serial)", "soak",
                  [](const QJsonObject &f) {
                      QStringList views;
                      for (const QJsonValue &v : f.value("views").toArray())
                          views << filledIn("{first_us} → {last_us}", v.toObject());
                      return views.join(", ");
                  },
                  "last ≤ 1.5× first" });
    const QString hostileStalls = "{%1.stall.p50} / {%1.stall.p99} / {%1.stall.max} ms";
    const QString hostile[][3] = {
        { "stall p50 / p99 / max, network: one long line without a break", "network_line",
          "max ≤ 500 ms" },
        { "— serial: one long line without a break", "serial_line", "max ≤ 500 ms" },
        { "— network: a peer resets mid-stream", "reset_mid_stream", "max ≤ 500 ms" },
        { "— network: three peers close at once", "closed_at_once", "max ≤ 500 ms" },
        { "— network: three peers reset at once", "reset_at_once", "max ≤ 1500 ms" },
        { "— network: a peer never reads the longest command, sent every 100 ms", "never_reads",
          "max ≤ 500 ms" },
        { "— network: one connect refused, one never answered", "failed_connects", "max ≤ 150 ms" },
        { "— exit asked while all four channels stream", "exit_while_streaming", "max ≤ 500 ms" },
        { "— serial device lost mid-burst, its box left up", "device_lost", "max ≤ 500 ms" },
    };
    for (const auto &row : hostile)
        list.append({ row[0], "hostile", cell(hostileStalls.arg(row[1])), row[2] });
    list.append({ "— serial device lost: CPU while its box is up; after the answer", "hostile",
                  cell("{device_lost.box_up_cpu_percent} %; {device_lost.after_cpu_percent} %"),
                  "≤ 33 %; ≤ 30 %" });
    for (const BusyRow &row : busyRows)
        list.append({ row.label, "busy", cell(row.format), row.target });
    return list;
}

} // namespace

void printFigures(const QJsonObject &figures)
{
    std::printf("%s%s\n", figuresPrefix,
                QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

QJsonObject figuresIn(const QByteArray &output)
{
    QJsonObject figures;
    for (const QByteArray &line : output.split('\n'))
        if (line.startsWith(QByteArray(figuresPrefix)))
            figures = QJsonDocument::fromJson(line.mid(int(qstrlen(figuresPrefix)))).object();
    return figures;
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

int combineTables(const QStringList &paths)
{
    QList<QJsonObject> runs;
    QStringList names;
    for (const QString &path : paths) {
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

void printRun(const QJsonObject &run, bool json)
{
    const QJsonObject config = run.value("config").toObject();
    const bool x = config.value("mode") == "x";
    FILE *table = json ? stderr : stdout;
    std::fprintf(table, "\nTeskManager bench%s: Qt %s, %s; MB = 10^6 bytes; stall = %s; %.0f s\n\n",
                 config.value("smoke").toBool() ? " (smoke)" : "", qVersion(),
                 x ? qPrintable("X on " + qEnvironmentVariable("DISPLAY")) : "offscreen",
                 x ? "_NET_WM_PING round trip" : "lateness of a 10 ms timer",
                 run.value("seconds").toDouble());
    printTable({ run }, {}, table);
    std::fprintf(table, "\n%s\n",
                 run.value("ok").toBool() ? "No byte lost or changed." : "FAILED: see the table.");
    if (json)
        std::printf("%s\n", QJsonDocument(run).toJson(QJsonDocument::Compact).constData());
}
