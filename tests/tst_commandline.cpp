#include "commandline.h"
#include "linkends.h"
#include "version.h"

#include <QProcess>
#include <QtTest>

#include <csignal>

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void run_data();
    void run();
    void endsCleanly_data();
    void endsCleanly();
    void scripted_data();
    void scripted();
    void suiteOnTheConsole_data();
    void suiteOnTheConsole();
    void runNeedsNoDisplay();
    void neverWaits_data();
    void neverWaits();
    void recordIsSafe_data();
    void recordIsSafe();
};

namespace {
// The built program, offscreen, in the test's folder and home.
bool startProgram(QProcess &program, const TestEnvironment &env, const QStringList &arguments)
{
    program.setWorkingDirectory(env.workPath());
    program.start(qEnvironmentVariable("TESKMANAGER"),
                  QStringList { "-platform", "offscreen" } + arguments);
    return program.waitForStarted();
}

// A run of scripts by either program: the window offscreen, or teskmanager-run with no display
// at all.
void startScripts(QProcess &program, const TestEnvironment &env, bool window,
                  const QStringList &arguments)
{
    program.setWorkingDirectory(env.workPath());
    if (window) {
        program.start(qEnvironmentVariable("TESKMANAGER"),
                      QStringList { "-platform", "offscreen" } + arguments
                          + QStringList { "--quit-after", "script" });
        return;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    program.setProcessEnvironment(environment);
    program.start(qEnvironmentVariable("TESKMANAGER_RUN"), arguments);
}

// False, with the program killed, when it does not end within the time.
bool endsWithin(QProcess &program, int ms)
{
    if (program.waitForFinished(ms))
        return true;
    program.kill();
    program.waitForFinished();
    return false;
}
} // namespace

void CommandLineTest::parse_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("exitCode"); // -1: the run goes on to the window
    QTest::addColumn<QString>("firstLine"); // of the text for standard output or error
    QTest::addColumn<QStringList>("mentions");
    const QString usage = QStringLiteral("Usage: teskmanager [options]");
    const QString version = QStringLiteral("TeskManager ") + QLatin1String(teskManagerVersion);
    const QStringList files = { "~/Documents/TeskManager/<date>_<time>-serial.txt", "-network3.txt",
                                "demosettings.ini", "directory TeskManager is started from" };
    QTest::newRow("--help") << "--help" << 0 << usage << files;
    QTest::newRow("-h") << "-h" << 0 << usage << files;
    QTest::newRow("--version") << "--version" << 0 << version << QStringList();
    QTest::newRow("-v") << "-v" << 0 << version << QStringList();
    // A mistake is named on one line, followed by where to read more, not the whole usage.
    const QStringList tryHelp { "Try 'teskmanager --help' for more information." };
    QTest::newRow("unknown option") << "--bogus" << 2 << "Unknown option 'bogus'." << tryHelp;
    QTest::newRow("missing value")
        << "--serial-port" << 2 << "Missing value after '--serial-port'." << tryHelp;
    QTest::newRow("empty value") << "--serial-port=" << 2 << "Missing value after '--serial-port'."
                                 << tryHelp;
    // Each bad value says what the option takes.
    const std::tuple<const char *, const char *, const char *> mistakes[] = {
        { "--line-ending serial=XY", "CH=VALUE", "VALUE must be LF, CR, CRLF or None" },
        { "--line-ending 4=CR", "CH=VALUE", "CH must be serial, 1, 2, 3 or all" },
        { "--line-ending CR", "CH=VALUE", "CH must be serial, 1, 2, 3 or all" },
        { "--timestamps sometimes", "off|log|view", "must be off, log or view" },
        { "--dtr maybe", "on|off", "must be on or off" },
        { "--serial-port rfc2217://lab-rack", "path", "no port (HOST:PORT)" },
        { "--serial-port socket://:7001", "path", "no host (HOST:PORT)" },
        { "--serial-port rfc2217://lab-rack:99999", "path",
          "the port 99999 is not a number from 1 to 65535" },
        { "--baud -5", "N", "N must be a whole number from 1 to 2147483647" },
        { "--baud 0", "N", "N must be a whole number from 1 to 2147483647" },
        { "--connect 4", "N", "N must be 1, 2 or 3" },
        { "--connect 1,serial", "N", "N must be 1, 2 or 3" },
        { "--every 1=0", "CH=MS", "MS must be 100 to 10000" },
        { "--every 1=99", "CH=MS", "MS must be 100 to 10000" },
        { "--every all=500", "CH=MS", "CH must be serial, 1, 2 or 3" },
        { "--command 5=AT", "CH=TEXT", "CH must be serial, 1, 2 or 3" },
        { "--mode serial=binary", "CH=ascii|hex", "the mode must be ascii or hex" },
        { "--port 70000", "PORT", "PORT must be 1 to 65535" },
        { "--quit-after soon", "DURATION|script",
          "DURATION must be 1 second to 7 days, as 90, 90s, 15m or 8h, or script" },
        { "--quit-after 0", "DURATION|script",
          "DURATION must be 1 second to 7 days, as 90, 90s, 15m or 8h, or script" },
        // wraps to 34 minutes in 64 bits
        { "--quit-after 5124095576031h", "DURATION|script",
          "DURATION must be 1 second to 7 days, as 90, 90s, 15m or 8h, or script" },
        { "--script no-such.lua", "FILE", "FILE cannot be read: No such file or directory" },
        { "--script /proc/self", "FILE", "the folder holds no *.lua script" },
        { "--arg 9lives=yes", "NAME=VALUE",
          "NAME must be a letter or _ followed by letters, digits or _" },
        { "--arg a=1 --arg a=2", "NAME=VALUE", "a is given already" },
        { "--script-timeout 0", "DURATION",
          "DURATION must be 1 second to 7 days, as 90, 90s, 15m or 8h" },
        // A value for each channel, once: a second one would silently win.
        { "--command 1=AT --command 1=ATZ", "CH=TEXT", "CH 1 was given one already" },
        { "--every serial=500 --every serial=1000", "CH=MS", "CH serial was given one already" },
        { "--mode 2=hex --mode 2=ascii", "CH=ascii|hex", "CH 2 was given one already" },
        { "--quit-after 8h --quit-after 90", "DURATION|script", "a DURATION was given already" },
    };
    for (const auto &[mistake, valueName, why] : mistakes) {
        const QString arguments = QString::fromLatin1(mistake);
        QTest::addRow("%s", mistake)
            << arguments << 2
            << QStringLiteral("Bad value '%1' for %2 (%3): %4.")
                   .arg(arguments.section(' ', -1), arguments.section(' ', -2, -2),
                        QLatin1String(valueName), QLatin1String(why))
            << tryHelp;
    }
    // An option of one value given twice is refused, not decided by its place on the line.
    const std::pair<const char *, const char *> twice[] = {
        { "--log-dir logs --log-dir /tmp/logs",
          "--log-dir takes one DIR, and was given 2: 'logs', "
          "'/tmp/logs'." },
        { "--timestamps log --timestamps view --timestamps off",
          "--timestamps takes one off|log|view, and was given 3: 'log', 'view', 'off'." },
        { "--host a --host b", "--host takes one HOST, and was given 2: 'a', 'b'." },
        { "--port 1 --port 1", "--port takes one PORT, and was given 2: '1', '1'." },
        { "--baud 9600 --baud 115200", "--baud takes one N, and was given 2: '9600', '115200'." },
        { "--dtr on --dtr off", "--dtr takes one on|off, and was given 2: 'on', 'off'." },
        { "--script-timeout 1m --script-timeout 2m",
          "--script-timeout takes one DURATION, and was given 2: '1m', '2m'." },
    };
    for (const auto &[arguments, refusal] : twice)
        QTest::addRow("%s", arguments) << arguments << 2 << refusal << tryHelp;
    // What the README lets repeat: a value for each channel, all of them a second time, one
    // end by time beside the end of the script.
    QTest::newRow("the repeatable options open the window")
        << "-platform offscreen --serial-port a --serial-port b --line-ending all=CRLF "
           "--line-ending serial=CR --line-ending serial=None --connect 1 --connect 2,3 "
           "--connect 1 --command serial=AT --command 1=PING --mode serial=hex --mode 1=ascii "
           "--every serial=1000 --every 1=500 --quit-after 8h"
        << -1 << QString() << QStringList();
    QTest::newRow("--report without a script")
        << "--report r.xml" << 2 << "--report needs --script." << tryHelp;
    QTest::newRow("--quit-after script without a script")
        << "--quit-after script" << 2 << "--quit-after script needs --script." << tryHelp;
    QTest::newRow("stray argument") << "ttyS0" << 2 << "Unexpected argument 'ttyS0'." << tryHelp;
    QTest::newRow("Qt options pass, the wrong one is named")
        << "-platform offscreen -style=fusion -reverse -geometry 640x480 --bogus" << 2
        << "Unknown option 'bogus'." << tryHelp;
    QTest::newRow("repeated --serial-port and -platform offscreen open the window")
        << "-platform offscreen --serial-port /dev/ttyV0 -style fusion --serial-port /dev/ttyV1"
        << -1 << QString() << QStringList();
    QTest::newRow("every bench option opens the window")
        << "-platform offscreen --line-ending all=CRLF --line-ending serial=None --timestamps view "
           "--dtr on --rts off --baud 250000"
        << -1 << QString() << QStringList();
}

// What the command line asks, read as main() reads it before any application object exists.
void CommandLineTest::parse()
{
    QFETCH(QString, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, firstLine);
    QFETCH(QStringList, mentions);
    const CommandLine read
        = parseCommandLine(QStringList { "teskmanager" } + arguments.split(QLatin1Char(' ')));
    QCOMPARE(read.exitCode.value_or(-1), exitCode);
    // Within this process the usage names the test's own program.
    const QString text = QString(read.text).replace(
        "Usage: " + QCoreApplication::arguments().constFirst(), "Usage: teskmanager");
    QCOMPARE(text.section(QLatin1Char('\n'), 0, 0), firstLine);
    for (const QString &mention : mentions)
        QVERIFY2(text.contains(mention), qPrintable(mention));
    if (exitCode == 2)
        QCOMPARE(text.count(QLatin1Char('\n')), 2);

    // Only our options are listed; Qt's stay hidden.
    const QStringList lines = text.split(QLatin1Char('\n'));
    QStringList options;
    const QRegularExpression optionLine(QStringLiteral("^  (-\\S.*\\S)  +\\S"));
    for (int i = lines.indexOf(QStringLiteral("Options:")) + 1; i > 0 && !lines.at(i).isEmpty();
         ++i)
        if (lines.at(i).startsWith(QLatin1String("  -")))
            options << optionLine.match(lines.at(i)).captured(1);
    if (text.contains(QLatin1String("Usage:")))
        QCOMPARE(options,
                 QStringList({ "-h, --help",
                               "-v, --version",
                               "--serial-port <path>",
                               "--line-ending <CH=VALUE>",
                               "--timestamps <off|log|view>",
                               "--dtr <on|off>",
                               "--rts <on|off>",
                               "--baud <N>",
                               "--open",
                               "--host <HOST>",
                               "--port <PORT>",
                               "--connect <N>",
                               "--command <CH=TEXT>",
                               "--mode <CH=ascii|hex>",
                               "--every <CH=MS>",
                               "--reconnect",
                               "--log-dir <DIR>",
                               "--keep-logs",
                               "--discard-logs",
                               "--quit-after <DURATION|script>",
                               "--script <FILE>",
                               "--arg <NAME=VALUE>",
                               "--script-timeout <DURATION>",
                               "--report <FILE>" }));
}

void CommandLineTest::run_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("exitCode"); // -1: the window opens and stays
    QTest::addColumn<QString>("firstLine"); // of standard output on 0, of standard error on 2
    QTest::newRow("--help") << "--help" << 0 << "Usage: teskmanager [options]";
    QTest::newRow("--version") << "-v" << 0
                               << QStringLiteral("TeskManager ")
            + QLatin1String(teskManagerVersion);
    QTest::newRow("a mistake") << "--bogus" << 2 << "Unknown option 'bogus'.";
    QTest::newRow("an option of one value given twice")
        << "--report a.xml --report b.xml" << 2
        << "--report takes one FILE, and was given 2: 'a.xml', 'b.xml'.";
    QTest::newRow("-platform offscreen and options open the window")
        << "-platform offscreen --serial-port /dev/ttyV0 -style fusion --serial-port /dev/ttyV1 "
           "--line-ending all=CRLF --timestamps view --dtr on --baud 250000"
        << -1 << QString();
}

// The program as it is run: help, version and mistakes need no display, and go to their streams
// with their exit statuses.
void CommandLineTest::run()
{
    QFETCH(QString, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, firstLine);
    TestEnvironment env;
    // No display at all: a window can only come up through -platform.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QLatin1String(name));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(env.workPath());
    program.start(qEnvironmentVariable("TESKMANAGER"), arguments.split(QLatin1Char(' ')));
    QVERIFY2(program.waitForStarted(), "TESKMANAGER names no program");
    if (exitCode < 0) { // the window creates its four logs while it is built
        QTRY_COMPARE_WITH_TIMEOUT(env.logFiles().size(), 4, 30000);
        QCOMPARE(program.state(), QProcess::Running);
        program.kill();
        QVERIFY(program.waitForFinished());
        return;
    }
    QVERIFY(program.waitForFinished());
    QCOMPARE(program.exitCode(), exitCode);
    const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(program.readAllStandardError());
    QCOMPARE(exitCode == 0 ? err : out, QString());
    QCOMPARE((exitCode == 0 ? out : err).section(QLatin1Char('\n'), 0, 0), firstLine);
}

void CommandLineTest::endsCleanly_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("signal"); // 0: none, the run ends on time
    QTest::newRow("--quit-after") << "--quit-after 1 --keep-logs" << 0;
    // Nobody is there to answer the question at exit.
    QTest::newRow("--quit-after, no answer ahead") << "--quit-after 1" << 0;
    QTest::newRow("SIGTERM") << "" << int(SIGTERM);
    // Nobody is there to answer the box that tells the connect failed either.
    QTest::newRow("SIGTERM while a box waits")
        << "--host 127.0.0.1 --port UNUSED --connect 1" << int(SIGTERM);
    QTest::newRow("SIGINT") << "" << int(SIGINT);
    QTest::newRow("SIGHUP") << "" << int(SIGHUP);
}

// The run ends as File > Exit ends it, with its settings saved and its logs kept, and status 0.
void CommandLineTest::endsCleanly()
{
    QFETCH(QString, arguments);
    QFETCH(int, signal);
    TestEnvironment env;
    QProcess program;
    program.setWorkingDirectory(env.workPath());
    program.start(qEnvironmentVariable("TESKMANAGER"),
                  QStringList { "-platform", "offscreen" }
                      + QString(arguments)
                            .replace("UNUSED", QString::number(LinkEnds::unusedPort()))
                            .split(' ', Qt::SkipEmptyParts));
    QVERIFY2(program.waitForStarted(), "TESKMANAGER names no program");
    QTRY_COMPARE_WITH_TIMEOUT(env.logFiles().size(), 4, 30000);
    // The refused connect's box comes up within a few milliseconds of the window; nothing outside
    // the program can see it.
    if (arguments.contains("--connect"))
        QTest::qWait(500);
    if (signal)
        ::kill(pid_t(program.processId()), signal);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(QFileInfo::exists(env.settingsPath()));
    QCOMPARE(env.logFiles().size(), 4);
}

void CommandLineTest::scripted_data()
{
    QTest::addColumn<bool>("window"); // else teskmanager-run
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said"); // on standard error, or the last line of the script's log
    for (const bool window : { true, false }) {
        const char *program = window ? "window" : "teskmanager-run";
        auto row = [program](const char *name) {
            return &QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(program, name)));
        };
        *row("every check passed") << window << QByteArray("check(true, 'fine')\n") << 0
                                   << "--- script ended: 1 passed, 0 failed ---";
        *row("a check failed") << window
                               << QByteArray("check(false, 'broken')\ncheck(true, 'fine')\n") << 1
                               << "--- script ended: 1 passed, 1 failed ---";
        *row("an error stopped it")
            << window << QByteArray("check(true, 'fine')\nerror('gave up')\n") << 3
            << "--- script stopped: 1 passed, 0 failed ---";
        // Stopped from outside while it waits: the links and logs close after the script has
        // stopped.
        *row("a signal while it waited")
            << window << QByteArray("check(true, 'fine')\nsleep(60000)\n") << 3
            << "--- script stopped: 1 passed, 0 failed ---";
        *row("it does not compile") << window << QByteArray("check(true, 'fine')\nif then\n") << 2
                                    << "WORK/test.lua:2: unexpected symbol near 'then'";
    }
}

// The real program runs a script and quits when it ends, with an exit status for the verdict;
// a script that does not compile is refused before any window.
void CommandLineTest::scripted()
{
    QFETCH(bool, window);
    QFETCH(QByteArray, script);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    TestEnvironment env;
    const QString path = env.workPath() + "/test.lua";
    QVERIFY(writeFile(path, script));
    QProcess program;
    startScripts(program, env, window,
                 { "--script", path, "--report", "report.xml", "--timestamps", "log" });
    QVERIFY2(program.waitForStarted(), "TESKMANAGER or TESKMANAGER_RUN names no program");
    if (script.contains("sleep")) {
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(env.logPath("-script.txt")).size() > 0, 30000);
        QTRY_VERIFY(fileContents(env.logPath("-script.txt")).contains("fine"));
        ::kill(pid_t(program.processId()), SIGTERM);
    }
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitCode(), exitCode);
    if (exitCode == 2) {
        QCOMPARE(QString::fromLocal8Bit(program.readAllStandardError()),
                 QString(said).replace("WORK", env.workPath()) + '\n');
        QCOMPARE(env.logFiles(), QStringList());
        return;
    }
    // The fifth log is named and kept with the four.
    QCOMPARE(env.logFiles().size(), 5);
    const QList<QByteArray> lines = fileContents(env.logPath("-script.txt")).trimmed().split('\n');
    QVERIFY2(lines.last().endsWith(said.toUtf8()), lines.last().constData());
    QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ---")
                .match(QString::fromUtf8(lines.last()))
                .hasMatch());
    QVERIFY(fileContents(env.workPath() + "/report.xml").contains("<testsuite name=\"test\""));
}

void CommandLineTest::suiteOnTheConsole_data()
{
    QTest::addColumn<bool>("window");
    QTest::newRow("window") << true;
    QTest::newRow("teskmanager-run") << false;
}

// Scripts given one by one and by their folder run one after the other, each with its log and
// its testsuite, the checks on the console as TAP as they happen, and the worst verdict is the
// run's.
void CommandLineTest::suiteOnTheConsole()
{
    QFETCH(bool, window);
    TestEnvironment env;
    QDir(env.workPath()).mkdir("suite");
    QVERIFY(writeFile(env.workPath() + "/suite/b.lua", "check(false, 'broken')\n"));
    QVERIFY(
        writeFile(env.workPath() + "/suite/a.lua",
                  "test('given', function() check(args.board == 'rev2') end)\nnote('a says')\n"));
    QVERIFY(writeFile(env.workPath() + "/suite/notes.txt", "not a script"));
    QVERIFY(writeFile(env.workPath() + "/c.lua", "error('gave up')\n"));
    QProcess program;
    startScripts(program, env, window,
                 { "--script", "suite", "--script", "c.lua", "--arg", "board=rev2", "--report",
                   "report.xml" });
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitCode(), 3);
    const QStringList out = QString::fromLocal8Bit(program.readAllStandardOutput()).split('\n');
    const QStringList expected
        = { "TAP version 13", "# Subtest: a", "    ok 1 - given", "    # a says",
            "    1..1",       "ok 1 - a",     "# Subtest: b",     "    not ok 1 - broken" };
    QCOMPARE(out.mid(0, expected.size()), expected);
    QVERIFY2(out.contains("not ok 2 - b") && out.contains("not ok 3 - c") && out.contains("1..3"),
             qPrintable(out.join('\n')));
    QVERIFY(
        QString::fromLocal8Bit(program.readAllStandardError())
            .contains(QRegularExpression("3 scripts, 1 passed, 1 failed, 1 error in [0-9.]+ s")));
    for (const char *name : { "a", "b", "c" })
        QVERIFY2(QFileInfo::exists(env.logPath(QStringLiteral("-script-%1.txt").arg(name))),
                 qPrintable(env.logFiles().join(' ')));
    QCOMPARE(env.logFiles().size(), 7);
    const QByteArray report = fileContents(env.workPath() + "/report.xml");
    QCOMPARE(report.count("<testsuite "), 3);
    QVERIFY(report.contains("<property name=\"arg.board\" value=\"rev2\"/>"));
}

// The program without a window links neither Qt Gui nor Widgets: it runs where no display and no
// such library is.
void CommandLineTest::runNeedsNoDisplay()
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), { qEnvironmentVariable("TESKMANAGER_RUN") });
    QVERIFY(ldd.waitForFinished(10000));
    const QString libraries = QString::fromLocal8Bit(ldd.readAllStandardOutput());
    QVERIFY2(libraries.contains("Core"), qPrintable(libraries));
    QVERIFY2(!libraries.contains("Gui") && !libraries.contains("Widgets"), qPrintable(libraries));
}

void CommandLineTest::neverWaits_data()
{
    // WORK: the working folder, UNUSED: a port on 127.0.0.1 nobody listens on.
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("said"); // a line of standard error: what the box would have said
    QTest::addColumn<QString>("log"); // the log that notes it too
    const QString noPort = QStringLiteral("teskmanager: Error: WORK/no-such-tty: No such file or "
                                          "directory");
    QTest::newRow("a port that does not open, and an end on time")
        << "--serial-port WORK/no-such-tty --open --quit-after 2" << noPort << "-serial.txt";
    QTest::newRow("a connect refused, and an end on time")
        << "--host 127.0.0.1 --port UNUSED --connect 1 --quit-after 2"
        << "teskmanager: Client: 127.0.0.1:UNUSED: The connection was refused by the peer. Make "
           "sure the server is running, and check that the host name and port settings are "
           "correct."
        << "-network1.txt";
    QTest::newRow("a port that does not open, and a script")
        << "--serial-port WORK/no-such-tty --open --script WORK/closed.lua --quit-after script"
        << noPort << "-serial.txt";
}

// A run nobody watches shows no box: what it would say is on standard error and in the log, and
// the run ends when it was told to, its logs kept, its settings saved.
void CommandLineTest::neverWaits()
{
    QFETCH(QString, arguments);
    QFETCH(QString, said);
    QFETCH(QString, log);
    TestEnvironment env;
    QVERIFY(writeFile(env.workPath() + "/closed.lua",
                      "check(serial:state() == 'closed', 'the port is closed')\n"));
    const QString unused = QString::number(LinkEnds::unusedPort());
    auto filled = [&](QString text) {
        return text.replace("WORK", env.workPath()).replace("UNUSED", unused);
    };
    QProcess program;
    QVERIFY2(startProgram(program, env, filled(arguments).split(' ')),
             "TESKMANAGER names no program");
    // Two seconds, and the time to start and to close: a box that waited would hold it for good.
    QVERIFY2(endsWithin(program, 20000), "the run did not end on its own");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    const QStringList errors = QString::fromLocal8Bit(program.readAllStandardError()).split('\n');
    QVERIFY2(errors.contains(filled(said)), qPrintable(errors.join('\n')));
    const QString noted = "--- " + filled(said).mid(int(qstrlen("teskmanager: "))) + " ---\n";
    QVERIFY2(fileContents(env.logPath(log)).contains(noted.toLocal8Bit()),
             fileContents(env.logPath(log)).constData());
    QCOMPARE(env.logFiles().size(), arguments.contains("--script") ? 5 : 4);
    QVERIFY(QFileInfo::exists(env.settingsPath()));
}

void CommandLineTest::recordIsSafe_data()
{
    // The working folder holds the script A.lua, somebody's notes.txt, an earlier report old.xml
    // and a plain file; WORK and HOME are the folders.
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<bool>("noDocuments"); // a plain file takes the place of ~/Documents
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said"); // a line of standard error
    auto refused = [](const char *option, const char *value, const char *why) {
        const QString valueName = QLatin1String(option) == QLatin1String("report") ? "FILE" : "DIR";
        return QStringLiteral("Bad value '%1' for --%2 (%3): %4.")
            .arg(QLatin1String(value), QLatin1String(option), valueName, QLatin1String(why));
    };
    QTest::newRow("--report naming the script") << "--script A.lua --report A.lua" << false << 2
                                                << refused("report", "A.lua", "FILE is the script");
    QTest::newRow("--report naming the script another way")
        << "--script A.lua --report WORK/A.lua" << false << 2
        << refused("report", "WORK/A.lua", "FILE is the script");
    QTest::newRow("--report naming the settings file")
        << "--script A.lua --report demosettings.ini" << false << 2
        << refused("report", "demosettings.ini", "FILE is the settings file");
    QTest::newRow("--report over a file that is no report")
        << "--script A.lua --report notes.txt" << false << 2
        << refused("report", "notes.txt", "FILE exists and is not a JUnit report");
    QTest::newRow("--report naming a folder") << "--script A.lua --report WORK" << false << 2
                                              << refused("report", "WORK", "FILE is a folder");
    QTest::newRow("--report in a folder that is not there")
        << "--script A.lua --report gone/r.xml" << false << 2
        << refused("report", "gone/r.xml", "the folder of FILE does not exist");
    QTest::newRow("--report over an earlier report")
        << "--script A.lua --report old.xml --quit-after script" << false << 0 << QString();
    QTest::newRow("--log-dir under a plain file")
        << "--log-dir file/logs" << false << 2
        << refused("log-dir", "file/logs", "DIR cannot be made: Not a directory");
    QTest::newRow("--log-dir where nothing can be made")
        << "--log-dir /proc/nope" << false << 2
        << refused("log-dir", "/proc/nope", "DIR cannot be made: No such file or directory");
    QTest::newRow("the home's log folder cannot be made, a script")
        << "--script A.lua --quit-after script" << true << 3
        << "teskmanager: The logs cannot be written: the folder HOME/Documents/TeskManager "
           "cannot be made: Not a directory.";
    QTest::newRow("the home's log folder cannot be made, an end on time")
        << "--quit-after 1" << true << 0
        << "teskmanager: The logs cannot be written: the folder HOME/Documents/TeskManager "
           "cannot be made: Not a directory.";
}

// Nothing the run reads or keeps is written over, and a record that cannot be kept is said:
// before any window when the command line named it, else on standard error and in the verdict.
void CommandLineTest::recordIsSafe()
{
    QFETCH(QString, arguments);
    QFETCH(bool, noDocuments);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    TestEnvironment env;
    const QString work = env.workPath();
    const QByteArray script = "check(true, 'fine')\n";
    const QByteArray notes = "somebody's notes\n";
    QVERIFY(writeFile(work + "/A.lua", script) && writeFile(work + "/notes.txt", notes)
            && writeFile(work + "/file", "")
            && writeFile(work + "/old.xml",
                         "<?xml version=\"1.0\"?>\n<testsuites name=\"earlier\" tests=\"0\"/>\n"));
    if (noDocuments)
        QVERIFY(writeFile(env.homePath() + "/Documents", notes));
    auto filled
        = [&](QString text) { return text.replace("WORK", work).replace("HOME", env.homePath()); };
    QProcess program;
    QVERIFY2(startProgram(program, env, filled(arguments).split(' ')),
             "TESKMANAGER names no program");
    QVERIFY2(endsWithin(program, 30000), "the run did not end on its own");
    QCOMPARE(program.exitCode(), exitCode);
    const QStringList errors = QString::fromLocal8Bit(program.readAllStandardError()).split('\n');
    if (exitCode == 2)
        QCOMPARE(errors.constFirst(), filled(said));
    else if (!said.isEmpty())
        QVERIFY2(errors.contains(filled(said)), qPrintable(errors.join('\n')));
    QCOMPARE(fileContents(work + "/A.lua"), script);
    QCOMPARE(fileContents(work + "/notes.txt"), notes);
    if (exitCode == 2)
        QCOMPARE(env.logFiles(), QStringList());
    if (arguments.contains("old.xml"))
        QVERIFY(fileContents(work + "/old.xml").contains("<testsuite name=\"A\""));
    // The report was written whole, beside where it goes, and renamed: nothing else is left.
    QCOMPARE(QDir(work).entryList(QDir::Files | QDir::Hidden).filter(".xml"),
             QStringList { "old.xml" });
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_commandline.moc"
