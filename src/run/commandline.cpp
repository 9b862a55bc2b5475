#include "commandline.h"

#include "options.h"
#include "portname.h"
#include "scriptrunner.h"
#include "version.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QXmlStreamReader>

namespace {

// The options that QApplication reads from the same command line. They are declared so that
// they pass without complaint, values included, and hidden so that the help stays ours.
const char qtOptionsWithValue[]
    = "platform platformpluginpath platformtheme plugin qwindowgeometry qwindowicon qwindowtitle "
      "geometry icon title display name visual session style stylesheet qmljsdebugger";
const char qtSwitches[] = "reverse nograb dograb testability widgetcount qdevel qdebug";

QString programName(Program program)
{
    return program == Program::Window ? QStringLiteral("teskmanager")
                                      : QStringLiteral("teskmanager-run");
}

// What teskmanager-run takes of the window's options: what a script's links and logs need.
const char runOptionNames[]
    = "help version serial-port line-ending timestamps dtr rts baud open host port connect "
      "reconnect log-dir discard-logs script arg script-timeout report";

const char windowEpilogue[] = R"(
Qt's own options, such as -platform, -style, -stylesheet or -reverse, work
as usual.

With --quit-after or --script nobody is expected to watch: no box is shown,
what it would say goes to the status bar, the channel's log and standard
error, and the logs are kept at exit unless --discard-logs is given.

Files:
  ~/Documents/TeskManager/<date>_<time>-serial.txt, -network1.txt, -network2.txt,
  -network3.txt
      What each channel showed in one run.
  ~/Documents/TeskManager/<date>_<time>-script.txt
      With --script: the script's checks, notes, time-outs, error and totals.
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

const char runEpilogue[] = R"(
It opens no window and needs no display; it asks nothing. Every other option
works as in teskmanager, which also runs a script (--script) with the window up.

Files:
  ~/Documents/TeskManager/<date>_<time>-serial.txt, -network1.txt, -network2.txt,
  -network3.txt, -script.txt
      What each channel sent and received in the run, and the script's checks,
      notes, time-outs, error and totals; kept unless --discard-logs is given.
  demosettings.ini
      Read from the directory the run starts in, as teskmanager reads it (the
      serial port, the baud rate, the network address and port, and the keys
      beyond the form); never written.

Exit status:
  0 every check passed, 1 a check failed, 2 the command line or the script
  cannot be used (nothing is opened), 3 an error stopped the script, the run
  was stopped by a signal, or the report could not be written.
)";

const QString serialOrNetwork = QStringLiteral("CH must be serial, 1, 2 or 3");

// A value that must be one of a few words, or a number within limits.
template<class T>
QString into(std::optional<T> &target, std::optional<T> value, const char *problem)
{
    if (!value)
        return QLatin1String(problem);
    target = value;
    return {};
}

// CH=VALUE: the value goes to the channel CH names. With `all`, "all" names every channel and a
// later value wins; without it, a channel takes one value.
template<class T, class Parse>
QString perChannel(const QString &text, std::array<std::optional<T>, channelCount> &target,
                   bool all, Parse parse, const char *valueProblem)
{
    const QList<int> channels = channelsFromText(text.section(QLatin1Char('='), 0, 0));
    if (!text.contains(QLatin1Char('=')) || channels.isEmpty() || (!all && channels.size() > 1))
        return all ? QStringLiteral("CH must be serial, 1, 2, 3 or all") : serialOrNetwork;
    if (!all && target[channels.first()])
        return QStringLiteral("CH %1 was given one already")
            .arg(text.section(QLatin1Char('='), 0, 0));
    const std::optional<T> value = parse(text.section(QLatin1Char('='), 1));
    if (!value)
        return QLatin1String(valueProblem);
    for (int channel : channels)
        target[channel] = value;
    return {};
}

std::optional<int> periodFromText(const QString &text)
{
    const std::optional<qint64> ms = decimalFromText(text.trimmed());
    return ms && *ms >= 100 && *ms <= 10000 ? std::optional<int>(int(*ms)) : std::nullopt;
}

QString connectChannels(const QString &text, RunOptions &o)
{
    for (const QString &number : text.split(QLatin1Char(','))) {
        const QList<int> channels = channelsFromText(number);
        if (channels.size() != 1 || channels.first() == 0)
            return QStringLiteral("N must be 1, 2 or 3");
        if (!o.connect.contains(channels.first()))
            o.connect.append(channels.first());
    }
    return {};
}

QString notEmpty(const QString &text, std::optional<QString> &target, const char *problem)
{
    if (text.trimmed().isEmpty())
        return QLatin1String(problem);
    target = text;
    return {};
}

using O = RunOptions;

CommandLineOption option(const char *name, const char *valueName, const char *description,
                         std::function<QString(const QString &, O &)> read)
{
    return { QStringList { QLatin1String(name) }, QLatin1String(valueName),
             QLatin1String(description), std::move(read), false };
}

CommandLineOption repeatable(CommandLineOption option)
{
    option.repeatable = true;
    return option;
}

// A switch: given, it sets its field.
template<class T> std::function<QString(const QString &, O &)> setting(T O::*field, T value)
{
    return [field, value](const QString &, O &o) {
        o.*field = value;
        return QString();
    };
}

// What the window is asked to show and do beyond the form.
QList<CommandLineOption> benchOptions()
{
    auto onOff = [](std::optional<bool> O::*line) {
        return [line](const QString &v, O &o) {
            return into(o.*line, switchFromText(v), "must be on or off");
        };
    };
    return {
        { { "h", "help" }, {}, "Show this help and exit.", {}, false },
        { { "v", "version" }, {}, "Show the version and exit.", {}, false },
        repeatable(option("serial-port", "path",
                          "Add <path> to the serial ports; the first is selected. A port "
                          "server's port is rfc2217://HOST:PORT (RFC 2217: the line's settings "
                          "and control lines follow) or socket://HOST:PORT (raw TCP).",
                          [](const QString &v, O &o) {
                              // A remote name that can never open is told now, not at Open.
                              if (const PortName name = parsePortName(v);
                                  name.kind == PortName::Kind::Invalid)
                                  return name.problem;
                              o.serialPorts << v;
                              return QString();
                          })),
        repeatable(option("line-ending", "CH=VALUE",
                          "End ASCII commands of channel CH (serial, 1, 2, 3 or all) with LF (the "
                          "default), CR, CRLF or None. Repeatable.",
                          [](const QString &v, O &o) {
                              return perChannel(v, o.lineEndings, true, lineEndingFromText,
                                                "VALUE must be LF, CR, CRLF or None");
                          })),
        option("timestamps", "off|log|view",
               "Start every line with its time and RX or TX: off (the default), in the logs, or "
               "in the logs and the views.",
               [](const QString &v, O &o) {
                   return into(o.timestamps, timestampsFromText(v), "must be off, log or view");
               }),
        option("dtr", "on|off", "Set the serial DTR line at each open.", onOff(&O::dtr)),
        option("rts", "on|off", "Set the serial RTS line at each open.", onOff(&O::rts)),
        option("baud", "N", "Use baud rate N, added to the list if it is not there.",
               [](const QString &v, O &o) {
                   return into(o.baudRate, baudRateFromText(v),
                               "N must be a whole number from 1 to 2147483647");
               }),
    };
}

// What an unattended run opens and sends.
QList<CommandLineOption> unattendedOptions()
{
    const auto hexMode = [](const QString &v) {
        return wordFromText<bool>(v, { { "hex", true }, { "ascii", false } });
    };
    const auto text = [](const QString &v) { return std::optional<QString>(v); };
    return {
        option("open", "", "Open the serial port at start.", setting(&O::openSerial, true)),
        option(
            "host", "HOST", "Connect the network channels to HOST in this run.",
            [](const QString &v, O &o) { return notEmpty(v, o.host, "HOST must not be empty"); }),
        option("port", "PORT", "Connect the network channels to PORT in this run.",
               [](const QString &v, O &o) {
                   return portFromText(v) ? notEmpty(v, o.port, "")
                                          : QStringLiteral("PORT must be 1 to 65535");
               }),
        repeatable(option("connect", "N",
                          "Connect network channel N (1, 2 or 3) at start. Repeatable, or 1,2,3.",
                          connectChannels)),
        repeatable(option(
            "command", "CH=TEXT", "Put TEXT in the command line of channel CH (serial, 1, 2, 3).",
            [text](const QString &v, O &o) { return perChannel(v, o.commands, false, text, ""); })),
        repeatable(option("mode", "CH=ascii|hex", "Send and show channel CH in ascii or hex.",
                          [hexMode](const QString &v, O &o) {
                              return perChannel(v, o.hexModes, false, hexMode,
                                                "the mode must be ascii or hex");
                          })),
        repeatable(option("every", "CH=MS",
                          "Send channel CH's command every MS milliseconds (100 to 10000) as soon "
                          "as its link is open.",
                          [](const QString &v, O &o) {
                              return perChannel(v, o.periodsMs, false, periodFromText,
                                                "MS must be 100 to 10000");
                          })),
        option("reconnect", "",
               "Reopen a lost serial port every second and reconnect a lost network channel after "
               "1, 2, 4 ... 30 s, resuming its periodic send; no boxes.",
               setting(&O::reconnect, std::optional<bool>(true))),
    };
}

// Where an unattended run keeps its logs and when it ends.
QList<CommandLineOption> endingOptions()
{
    return {
        option("log-dir", "DIR",
               "Write the logs into DIR (made if missing; refused if it cannot be made or "
               "written).",
               [](const QString &v, O &o) {
                   o.logDir = v;
                   return QString();
               }),
        option("keep-logs", "", "Keep this run's logs at exit without asking.",
               setting(&O::keepLogs, std::optional<bool>(true))),
        option("discard-logs", "", "Delete this run's logs at exit without asking.",
               setting(&O::keepLogs, std::optional<bool>(false))),
        // Once with a duration and once with script at most.
        repeatable(option(
            "quit-after", "DURATION|script",
            "Close the window after DURATION (90, 90s, 15m, 8h), or when the script ends, as File "
            "> Exit does. Both may be given: the first to come closes it.",
            [](const QString &v, O &o) {
                const bool script = v.trimmed().toLower() == QLatin1String("script");
                if (script ? o.quitAfterScript : o.quitAfterMs.has_value())
                    return script ? QStringLiteral("script was given already")
                                  : QStringLiteral("a DURATION was given already");
                if (script) {
                    o.quitAfterScript = true;
                    return QString();
                }
                return into(o.quitAfterMs, durationFromText(v),
                            "DURATION must be 1 second to 7 days, as 90, 90s, 15m or 8h, or "
                            "script");
            })),
    };
}

QString readOneScript(const QString &path, O &o)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
    o.scripts.append({ path, file.readAll() });
    return {};
}

// A script is read once, here, so that the run executes the text that was checked. A folder
// gives its scripts in the order of their names.
QString readScript(const QString &path, O &o)
{
    if (!QFileInfo(path).isDir()) {
        const QString problem = readOneScript(path, o);
        return problem.isEmpty() ? problem
                                 : QStringLiteral("FILE cannot be read: %1")
                                       .arg(problem.section(QStringLiteral(": "), 1));
    }
    const QDir folder(path);
    const QStringList names
        = folder.entryList({ QStringLiteral("*.lua") }, QDir::Files | QDir::Readable, QDir::Name);
    if (names.isEmpty())
        return QStringLiteral("the folder holds no *.lua script");
    for (const QString &name : names)
        if (const QString problem = readOneScript(folder.filePath(name), o); !problem.isEmpty())
            return problem;
    return {};
}

// NAME=VALUE, NAME as a Lua name can be written: args.NAME.
QString readArgument(const QString &text, O &o)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    const QString key = text.section(QLatin1Char('='), 0, 0);
    if (!text.contains(QLatin1Char('=')) || !name.match(key).hasMatch())
        return QStringLiteral("NAME must be a letter or _ followed by letters, digits or _");
    for (const auto &[given, value] : qAsConst(o.scriptArgs))
        if (given == key)
            return QStringLiteral("%1 is given already").arg(key);
    o.scriptArgs.append({ key, text.section(QLatin1Char('='), 1) });
    return {};
}

// A scripted test: what it runs and where its verdict goes.
QList<CommandLineOption> scriptOptions()
{
    return {
        repeatable(option(
            "script", "FILE",
            "Run the Lua script FILE once the links asked for are open (see Scripted tests in "
            "the README); exit status 0 when every check passed, 1 when one failed, 3 when "
            "the script stopped on an error. Repeatable, and FILE may be a folder (its *.lua "
            "in name order): they run one after the other, and the worst verdict is the "
            "run's.",
            readScript)),
        repeatable(option("arg", "NAME=VALUE",
                          "Give the scripts args.NAME, the text VALUE. Repeatable.", readArgument)),
        option("script-timeout", "DURATION",
               "Stop a script that runs longer than DURATION (90, 90s, 15m, 8h; the default is "
               "1h) with an error, and go on with the next.",
               [](const QString &v, O &o) {
                   const std::optional<qint64> ms = durationFromText(v);
                   if (!ms)
                       return QStringLiteral("DURATION must be 1 second to 7 days, as 90, 90s, "
                                             "15m or 8h");
                   o.scriptTimeLimitMs = *ms;
                   return QString();
               }),
        option("report", "FILE",
               "Write the script's checks to FILE as a JUnit XML report, only over an earlier "
               "report.",
               [](const QString &v, O &o) {
                   o.reportPath = v;
                   return QString();
               }),
    };
}

// QCommandLineParser::helpText() names the program after QCoreApplication::arguments() and
// crashes without an application object; a core application needs no display.
QString helpText(const QCommandLineParser &parser, Program program)
{
    const QLatin1String epilogue(program == Program::Window ? windowEpilogue : runEpilogue);
    if (QCoreApplication::instance())
        return parser.helpText() + epilogue;
    int argc = 1;
    QByteArray name = programName(program).toLatin1();
    char *argv[] = { name.data(), nullptr };
    const QCoreApplication application(argc, argv);
    return parser.helpText() + epilogue;
}

CommandLine exitWith(int code, const QString &text)
{
    CommandLine result;
    result.exitCode = code;
    result.text = text;
    return result;
}

// A mistake is named on one line, then where to read more, as other command-line tools do.
CommandLine mistake(const QString &line, Program program)
{
    return exitWith(2,
                    line
                        + QStringLiteral("\nTry '%1 --help' for more information.\n")
                              .arg(programName(program)));
}

CommandLine badValue(const QString &value, const QString &name, const QString &valueName,
                     const QString &problem, Program program)
{
    return mistake(
        QStringLiteral("Bad value '%1' for --%2 (%3): %4.").arg(value, name, valueName, problem),
        program);
}

void declareOptions(QCommandLineParser &parser, Program program)
{
    // Qt's options have a single dash and a word: -platform, not -p -l -a ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        program == Program::Window
            ? QStringLiteral(
                "Exercises devices over a serial line and over TCP: one window, four channels\n"
                "(one serial port and three TCP clients).")
            : QStringLiteral("Runs a Lua script against TeskManager's four channels (one serial "
                             "port and three TCP\nclients) without a window, and gives its "
                             "verdict: teskmanager-run --script FILE [options]"));
    for (const CommandLineOption &option : commandLineOptions(program))
        parser.addOption(QCommandLineOption(option.names, option.description, option.valueName));
    if (program == Program::Run)
        return;
    for (const char *names : { qtOptionsWithValue, qtSwitches }) {
        for (const QString &name : QString::fromLatin1(names).split(QLatin1Char(' '))) {
            QCommandLineOption option(name);
            if (names == qtOptionsWithValue)
                option.setValueName(QStringLiteral("value"));
            option.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(option);
        }
    }
}

} // namespace

QList<CommandLineOption> commandLineOptions(Program program)
{
    static const QList<CommandLineOption> options
        = benchOptions() + unattendedOptions() + endingOptions() + scriptOptions();
    if (program == Program::Window)
        return options;
    const QStringList taken = QString::fromLatin1(runOptionNames).split(QLatin1Char(' '));
    QList<CommandLineOption> run;
    for (const CommandLineOption &option : options)
        if (taken.contains(option.names.constLast()))
            run << option;
    return run;
}

namespace {
// The path as the system will find it: links resolved, of the folder where the file is not there
// yet.
QString resolvedPath(const QString &path)
{
    const QFileInfo file(path);
    if (file.exists())
        return file.canonicalFilePath();
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? file.absoluteFilePath() : folder + QLatin1Char('/') + file.fileName();
}

// An earlier run's report may be written over; a file that begins otherwise is somebody's work.
bool isJUnitReport(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd() && !xml.isStartElement())
        xml.readNext();
    return xml.isStartElement()
        && (xml.name() == QLatin1String("testsuites") || xml.name() == QLatin1String("testsuite"));
}

// The report is written at the end of the run, over whatever the path holds: never over what the
// run reads, nor over anything but an earlier report.
QString reportProblem(const RunOptions &o)
{
    const QString report = resolvedPath(o.reportPath);
    const QFileInfo file(o.reportPath);
    for (const RunOptions::Script &script : o.scripts)
        if (report == resolvedPath(script.path))
            return QStringLiteral("FILE is the script");
    if (report == resolvedPath(QDir::currentPath() + QStringLiteral("/demosettings.ini")))
        return QStringLiteral("FILE is the settings file");
    for (const QString &port : o.serialPorts)
        if (report == resolvedPath(port))
            return QStringLiteral("FILE is a serial port");
    if (file.isDir())
        return QStringLiteral("FILE is a folder");
    if (file.exists() && !file.isFile())
        return QStringLiteral("FILE is not a plain file");
    if (file.exists() && !isJUnitReport(o.reportPath))
        return QStringLiteral("FILE exists and is not a JUnit report");
    if (!QFileInfo(file.absolutePath()).isDir())
        return QStringLiteral("the folder of FILE does not exist");
    return {};
}

// What only the whole command line tells: where the run's record goes, options that need
// --script, and whether the script compiles. A script that does not is named on one line, file,
// line and Lua's message, as a compiler names a mistake; --help would not help with it.
std::optional<CommandLine> checkScript(const RunOptions &o, Program program)
{
    if (o.scripts.isEmpty() && program == Program::Run)
        return mistake(QStringLiteral("teskmanager-run needs --script FILE."), program);
    if (o.scripts.isEmpty() && !o.reportPath.isEmpty())
        return mistake(QStringLiteral("--report needs --script."), program);
    if (o.scripts.isEmpty() && o.quitAfterScript)
        return mistake(QStringLiteral("--quit-after script needs --script."), program);
    if (const QString problem = o.reportPath.isEmpty() ? QString() : reportProblem(o);
        !problem.isEmpty())
        return badValue(o.reportPath, QStringLiteral("report"), QStringLiteral("FILE"), problem,
                        program);
    if (const QString problem = o.logDir.isEmpty() ? QString() : logFolderProblem(o.logDir);
        !problem.isEmpty())
        return badValue(o.logDir, QStringLiteral("log-dir"), QStringLiteral("DIR"),
                        QStringLiteral("DIR ") + problem, program);
    // Every script is checked before any runs: a run that would stop halfway through its
    // scripts on a typing mistake has told nothing of the rest.
    for (const RunOptions::Script &script : o.scripts) {
        const QString error = ScriptRunner::compileError(script.path, script.source);
        if (!error.isEmpty())
            return exitWith(2, error + QLatin1Char('\n'));
    }
    return std::nullopt;
}
} // namespace

CommandLine parseCommandLine(const QStringList &arguments, Program program)
{
    QCommandLineParser parser;
    declareOptions(parser, program);
    if (!parser.parse(arguments))
        return mistake(parser.errorText(), program);
    if (!parser.positionalArguments().isEmpty())
        return mistake(QStringLiteral("Unexpected argument '%1'.")
                           .arg(parser.positionalArguments().constFirst()),
                       program);
    if (parser.isSet(QStringLiteral("help")))
        return exitWith(0, helpText(parser, program));
    if (parser.isSet(QStringLiteral("version")))
        return exitWith(0,
                        (program == Program::Window ? QStringLiteral("TeskManager %1\n")
                                                    : QStringLiteral("teskmanager-run "
                                                                     "(TeskManager) %1\n"))
                            .arg(QLatin1String(teskManagerVersion)));
    if (program == Program::Window && parser.isSet(QStringLiteral("keep-logs"))
        && parser.isSet(QStringLiteral("discard-logs")))
        return mistake(QStringLiteral("--keep-logs and --discard-logs contradict each other."),
                       program);

    CommandLine result;
    result.options.scriptsOnConsole = true;
    if (program == Program::Run)
        result.options.keepLogs = !parser.isSet(QStringLiteral("discard-logs"));
    for (const CommandLineOption &option : commandLineOptions(program)) {
        const QString &name = option.names.constLast();
        if (!option.read || !parser.isSet(name))
            continue;
        const QStringList values
            = option.valueName.isEmpty() ? QStringList { QString() } : parser.values(name);
        if (values.size() > 1 && !option.repeatable)
            return mistake(QStringLiteral("--%1 takes one %2, and was given %3: '%4'.")
                               .arg(name, option.valueName)
                               .arg(values.size())
                               .arg(values.join(QStringLiteral("', '"))),
                           program);
        for (const QString &value : values) {
            if (value.isEmpty() && !option.valueName.isEmpty())
                return mistake(QStringLiteral("Missing value after '--%1'.").arg(name), program);
            const QString problem = option.read(value, result.options);
            if (!problem.isEmpty())
                return badValue(value, name, option.valueName, problem, program);
        }
    }
    if (std::optional<CommandLine> refusal = checkScript(result.options, program))
        return *refusal;
    return result;
}
