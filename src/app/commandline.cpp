#include "commandline.h"

#include "networkchannel.h"
#include "version.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

// The options that QApplication reads from the same command line. They are declared so that
// they pass without complaint, values included, and hidden so that the help stays ours.
const char qtOptionsWithValue[]
    = "platform platformpluginpath platformtheme plugin qwindowgeometry qwindowicon qwindowtitle "
      "geometry icon title display name visual session style stylesheet qmljsdebugger";
const char qtSwitches[] = "reverse nograb dograb testability widgetcount qdevel qdebug";

const char epilogue[] = R"(
Qt's own options, such as -platform, -style, -stylesheet or -reverse, work
as usual.

Files:
  ~/Documents/TeskManager/<date>_<time>-serial.txt, -network1.txt, -network2.txt,
  -network3.txt
      What each channel showed in one run.
  demosettings.ini
      The settings, in the directory TeskManager is started from. Beside the
      form's values, group [Setup_Parameter] may hold these keys, which the
      options above override for one run and which are written back at exit:
        seriallineending, network1lineending, network2lineending,
        network3lineending = LF | CR | CRLF | None
        timestamps = off | log | view
        serialdtr, serialrts = on | off (empty: as the system sets them)
        baudrate = a number, used over the bandrate index
        reconnect = true | false
)";

// QCommandLineParser::helpText() names the program after QCoreApplication::arguments() and
// crashes without an application object; a core application needs no display.
QString helpText(const QCommandLineParser &parser)
{
    if (QCoreApplication::instance())
        return parser.helpText() + QLatin1String(epilogue);
    int argc = 1;
    char name[] = "teskmanager";
    char *argv[] = { name, nullptr };
    const QCoreApplication application(argc, argv);
    return parser.helpText() + QLatin1String(epilogue);
}

CommandLine exitWith(int code, const QString &text)
{
    CommandLine result;
    result.exitCode = code;
    result.text = text;
    return result;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    // Qt's options have a single dash and a word: -platform, not -p -l -a ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Exercises devices over a serial line and over TCP: one window, four channels\n"
        "(one serial port and three TCP clients)."));
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") },
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({ QStringLiteral("v"), QStringLiteral("version") },
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption serialPort(
        QStringList { QStringLiteral("serial-port") },
        QStringLiteral("Add <path> to the serial ports; the first is selected."),
        QStringLiteral("path"));
    const QCommandLineOption lineEnding(
        QStringList { QStringLiteral("line-ending") },
        QStringLiteral("End ASCII commands of channel CH (serial, 1, 2, 3 or all) with LF (the "
                       "default), CR, CRLF or None. Repeatable."),
        QStringLiteral("CH=VALUE"));
    const QCommandLineOption timestamps(
        QStringList { QStringLiteral("timestamps") },
        QStringLiteral("Start every line with its time and RX or TX: off (the default), in the "
                       "logs, or in the logs and the views."),
        QStringLiteral("off|log|view"));
    const QCommandLineOption dtr(QStringList { QStringLiteral("dtr") },
                                 QStringLiteral("Set the serial DTR line at each open."),
                                 QStringLiteral("on|off"));
    const QCommandLineOption rts(QStringList { QStringLiteral("rts") },
                                 QStringLiteral("Set the serial RTS line at each open."),
                                 QStringLiteral("on|off"));
    const QCommandLineOption baud(
        QStringList { QStringLiteral("baud") },
        QStringLiteral("Use baud rate N, added to the list if it is not there."),
        QStringLiteral("N"));
    auto option = [](const char *name, const char *description, const char *value = nullptr) {
        return QCommandLineOption(QStringList { QLatin1String(name) }, QLatin1String(description),
                                  value ? QLatin1String(value) : QString());
    };
    const QCommandLineOption open = option("open", "Open the serial port at start.");
    const QCommandLineOption host
        = option("host", "Connect the network channels to HOST in this run.", "HOST");
    const QCommandLineOption port
        = option("port", "Connect the network channels to PORT in this run.", "PORT");
    const QCommandLineOption connect = option(
        "connect", "Connect network channel N (1, 2 or 3) at start. Repeatable, or 1,2,3.", "N");
    const QCommandLineOption command = option(
        "command", "Put TEXT in the command line of channel CH (serial, 1, 2, 3).", "CH=TEXT");
    const QCommandLineOption mode
        = option("mode", "Send and show channel CH in ascii or hex.", "CH=ascii|hex");
    const QCommandLineOption every = option(
        "every",
        "Send channel CH's command every MS milliseconds (100 to 10000) as soon as its link "
        "is open.",
        "CH=MS");
    const QCommandLineOption reconnect = option(
        "reconnect",
        "Reopen a lost serial port every second and reconnect a lost network channel after 1, "
        "2, 4 ... 30 s, resuming its periodic send; no boxes.");
    const QCommandLineOption logDir
        = option("log-dir", "Write the logs into DIR (made if missing).", "DIR");
    const QCommandLineOption keepLogs
        = option("keep-logs", "Keep this run's logs at exit without asking.");
    const QCommandLineOption discardLogs
        = option("discard-logs", "Delete this run's logs at exit without asking.");
    const QCommandLineOption quitAfter = option(
        "quit-after", "Close the window after DURATION (90, 90s, 15m, 8h) as File > Exit does.",
        "DURATION");
    parser.addOptions({ help,  version,   serialPort, lineEnding, timestamps,  dtr,      rts,
                        baud,  open,      host,       port,       connect,     command,  mode,
                        every, reconnect, logDir,     keepLogs,   discardLogs, quitAfter });
    for (const char *names : { qtOptionsWithValue, qtSwitches }) {
        for (const QString &name : QString::fromLatin1(names).split(QLatin1Char(' '))) {
            QCommandLineOption option(name);
            if (names == qtOptionsWithValue)
                option.setValueName(QStringLiteral("value"));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
    }

    if (!parser.parse(arguments))
        return exitWith(2, parser.errorText() + QLatin1Char('\n') + helpText(parser));
    if (!parser.positionalArguments().isEmpty()) {
        const QString text = QStringLiteral("Unexpected argument '%1'.\n")
                                 .arg(parser.positionalArguments().constFirst());
        return exitWith(2, text + helpText(parser));
    }
    if (parser.isSet(help))
        return exitWith(0, helpText(parser));
    if (parser.isSet(version))
        return exitWith(0,
                        QStringLiteral("TeskManager %1\n").arg(QLatin1String(teskManagerVersion)));

    CommandLine result;
    result.serialPorts = parser.values(serialPort);
    if (result.serialPorts.contains(QString()))
        return exitWith(
            2, QStringLiteral("Missing value after '--serial-port'.\n") + helpText(parser));

    // Each mistake is named on one line, with the option and the value as given.
    auto bad = [&](const QCommandLineOption &option, const QString &value) {
        return exitWith(2,
                        QStringLiteral("Bad value '%1' for --%2 (%3).\n")
                                .arg(value, option.names().constFirst(), option.valueName())
                            + helpText(parser));
    };
    RunOptions &options = result.options;
    for (const QString &value : parser.values(lineEnding)) {
        const QList<int> channels = channelsFromText(value.section(QLatin1Char('='), 0, 0));
        const auto ending = lineEndingFromText(value.section(QLatin1Char('='), 1));
        if (!value.contains(QLatin1Char('=')) || channels.isEmpty() || !ending)
            return bad(lineEnding, value);
        for (int index : channels)
            options.lineEndings[index] = ending;
    }
    // A value given once; one that means nothing ends the run.
    auto single = [&](const QCommandLineOption &option, auto read, auto &into) {
        if (parser.isSet(option))
            into = read(parser.value(option));
        return !parser.isSet(option) || into;
    };
    for (const auto &[option, ok] :
         { std::pair(&timestamps, single(timestamps, timestampsFromText, options.timestamps)),
           std::pair(&dtr, single(dtr, switchFromText, options.dtr)),
           std::pair(&rts, single(rts, switchFromText, options.rts)),
           std::pair(&baud, single(baud, baudRateFromText, options.baudRate)) }) {
        if (!ok)
            return bad(*option, parser.value(*option));
    }

    options.openSerial = parser.isSet(open);
    if (parser.isSet(host)) {
        options.host = parser.value(host);
        if (options.host->trimmed().isEmpty())
            return bad(host, *options.host);
    }
    if (parser.isSet(port)) {
        options.port = parser.value(port);
        if (networkPortFromText(*options.port) == 0)
            return bad(port, *options.port);
    }
    for (const QString &value : parser.values(connect)) {
        for (const QString &number : value.split(QLatin1Char(','))) {
            const QList<int> channels = channelsFromText(number);
            if (channels.size() != 1 || channels.first() == 0)
                return bad(connect, value);
            if (!options.connect.contains(channels.first()))
                options.connect.append(channels.first());
        }
    }
    // CH=VALUE options name one channel each; "all" would be a guess here.
    auto perChannel = [&](const QCommandLineOption &option, auto read, auto &into) {
        for (const QString &value : parser.values(option)) {
            const QList<int> channels = channelsFromText(value.section(QLatin1Char('='), 0, 0));
            const auto parsed = read(value.section(QLatin1Char('='), 1));
            if (!value.contains(QLatin1Char('=')) || channels.size() != 1 || !parsed)
                return false;
            into[channels.first()] = parsed;
        }
        return true;
    };
    const auto text = [](const QString &value) { return std::optional<QString>(value); };
    const auto hexMode = [](const QString &value) {
        return wordFromText<bool>(value, { { "hex", true }, { "ascii", false } });
    };
    const auto period = [](const QString &value) {
        bool ok = false;
        const int ms = value.trimmed().toInt(&ok);
        return ok && ms >= 100 && ms <= 10000 ? std::optional<int>(ms) : std::nullopt;
    };
    for (const auto &[option, ok] :
         { std::pair(&command, perChannel(command, text, options.commands)),
           std::pair(&mode, perChannel(mode, hexMode, options.hexModes)),
           std::pair(&every, perChannel(every, period, options.periodsMs)) }) {
        if (!ok)
            return bad(*option, parser.values(*option).join(QLatin1Char(' ')));
    }
    if (parser.isSet(reconnect))
        options.reconnect = true;
    if (parser.isSet(logDir)) {
        options.logDir = parser.value(logDir);
        if (options.logDir.isEmpty())
            return bad(logDir, options.logDir);
    }
    if (parser.isSet(keepLogs) && parser.isSet(discardLogs))
        return exitWith(2,
                        QStringLiteral("--keep-logs and --discard-logs contradict each other.\n")
                            + helpText(parser));
    if (parser.isSet(keepLogs) || parser.isSet(discardLogs))
        options.keepLogs = parser.isSet(keepLogs);
    if (!single(quitAfter, durationFromText, options.quitAfterMs))
        return bad(quitAfter, parser.value(quitAfter));
    return result;
}
