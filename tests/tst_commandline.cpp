#include "version.h"
#include "windowfixture.h"

#include <QProcess>
#include <QSerialPortInfo>
#include <QSettings>
#include <QtTest>

#include <csignal>

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void run_data();
    void run();
    void serialPortsInWindow();
    void endsCleanly_data();
    void endsCleanly();
};

void CommandLineTest::run_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("exitCode"); // -1: the window opens and stays
    QTest::addColumn<QString>("firstLine"); // of standard output on 0, of standard error on 2
    QTest::addColumn<QStringList>("mentions");
    const QString usage = QStringLiteral("Usage: teskmanager [options]");
    const QString version = QStringLiteral("TeskManager ") + QLatin1String(teskManagerVersion);
    const QStringList files = { "~/Documents/TeskManager/<date>_<time>-serial.txt", "-network3.txt",
                                "demosettings.ini", "directory TeskManager is started from" };
    QTest::newRow("--help") << "--help" << 0 << usage << files;
    QTest::newRow("-h") << "-h" << 0 << usage << files;
    QTest::newRow("--version") << "--version" << 0 << version << QStringList();
    QTest::newRow("-v") << "-v" << 0 << version << QStringList();
    QTest::newRow("unknown option")
        << "--bogus" << 2 << "Unknown option 'bogus'." << QStringList(usage);
    QTest::newRow("missing value")
        << "--serial-port" << 2 << "Missing value after '--serial-port'." << QStringList(usage);
    QTest::newRow("empty value") << "--serial-port=" << 2 << "Missing value after '--serial-port'."
                                 << QStringList(usage);
    const std::pair<const char *, const char *> mistakes[] = {
        { "--line-ending serial=XY", "CH=VALUE" },
        { "--line-ending 4=CR", "CH=VALUE" },
        { "--line-ending CR", "CH=VALUE" },
        { "--timestamps sometimes", "off|log|view" },
        { "--dtr maybe", "on|off" },
        { "--baud -5", "N" },
        { "--baud 0", "N" },
        { "--connect 4", "N" },
        { "--connect 1,serial", "N" },
        { "--every 1=0", "CH=MS" },
        { "--every all=500", "CH=MS" },
        { "--command 5=AT", "CH=TEXT" },
        { "--mode serial=binary", "CH=ascii|hex" },
        { "--port 70000", "PORT" },
        { "--quit-after soon", "DURATION" },
        { "--quit-after 0", "DURATION" },
        { "--quit-after 5124095576031h", "DURATION" }, // wraps to 34 minutes in 64 bits
    };
    for (const auto &[mistake, valueName] : mistakes) {
        const QString arguments = QString::fromLatin1(mistake);
        QTest::addRow("%s", mistake)
            << arguments << 2
            << QStringLiteral("Bad value '%1' for %2 (%3).")
                   .arg(arguments.section(' ', 1), arguments.section(' ', 0, 0),
                        QLatin1String(valueName))
            << QStringList(usage);
    }
    QTest::newRow("stray argument")
        << "ttyS0" << 2 << "Unexpected argument 'ttyS0'." << QStringList(usage);
    QTest::newRow("Qt options pass, the wrong one is named")
        << "-platform offscreen -style=fusion -reverse -geometry 640x480 --bogus" << 2
        << "Unknown option 'bogus'." << QStringList(usage);
    QTest::newRow("repeated --serial-port and -platform offscreen open the window")
        << "-platform offscreen --serial-port /dev/ttyV0 -style fusion --serial-port /dev/ttyV1"
        << -1 << QString() << QStringList();
    QTest::newRow("every bench option opens the window")
        << "-platform offscreen --line-ending all=CRLF --line-ending serial=None --timestamps view "
           "--dtr on --rts off --baud 250000"
        << -1 << QString() << QStringList();
}

void CommandLineTest::run()
{
    QFETCH(QString, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, firstLine);
    QFETCH(QStringList, mentions);
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
    const QString text = exitCode == 0 ? out : err;
    QCOMPARE(text.section(QLatin1Char('\n'), 0, 0), firstLine);
    for (const QString &mention : mentions)
        QVERIFY2(text.contains(mention), qPrintable(mention));

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
                               "--quit-after <DURATION>" }));
}

void CommandLineTest::serialPortsInWindow()
{
    WindowFixture fixture(WindowFixture::Start::Later);
    const TestEnvironment &env = fixture.env;
    const auto found = QSerialPortInfo::availablePorts();
    // The settings chose a port that is not here now: it stays listed after the found ones, but
    // the command line wins the selection.
    const QStringList paths = { "/dev/saved-tty", env.workPath() + "/ttyV0", "/dev/no-such-tty" };
    QSettings(env.settingsPath(), QSettings::IniFormat)
        .setValue("Setup_Parameter/portname", paths.first());
    fixture.start().addSerialPorts(paths.mid(1));

    const auto *combo = fixture.widget<QComboBox>(QStringLiteral("CB_SerialPort"));
    QCOMPARE(combo->count(), found.size() + 3);
    for (int i = 0; i < combo->count(); ++i) {
        const QString name = i < found.size() ? found.at(i).portName() : paths.at(i - found.size());
        QCOMPARE(combo->itemText(i), name);
        QCOMPARE(combo->itemData(i).userType(), int(QMetaType::QStringList));
        if (i >= found.size())
            QCOMPARE(combo->itemData(i).toStringList(),
                     QStringList({ name, "", "", name, "", "" }));
    }
    QCOMPARE(combo->currentIndex(), found.size() + 1);
}

void CommandLineTest::endsCleanly_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("signal"); // 0: none, the run ends on time
    QTest::newRow("--quit-after") << "--quit-after 1 --keep-logs" << 0;
    QTest::newRow("SIGTERM") << "" << int(SIGTERM);
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
                      + arguments.split(' ', Qt::SkipEmptyParts));
    QVERIFY2(program.waitForStarted(), "TESKMANAGER names no program");
    QTRY_COMPARE_WITH_TIMEOUT(env.logFiles().size(), 4, 30000);
    if (signal)
        ::kill(pid_t(program.processId()), signal);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(QFileInfo::exists(env.settingsPath()));
    QCOMPARE(env.logFiles().size(), 4);
}

QTEST_MAIN(CommandLineTest)
#include "tst_commandline.moc"
