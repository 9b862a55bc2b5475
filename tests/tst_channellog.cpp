#include "viewchecks.h"
#include "windowfixture.h"

#include <QAction>
#include <QDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString stampFormat = QStringLiteral("yyyy-MM-dd_hh-mm-ss");

// A window given this clock takes its run stamp from one time far from now, however long its
// start takes.
struct FixedClock {
    const ChannelLog::Clock clock = [] { return QDateTime(QDate(2031, 5, 6), QTime(7, 8, 9)); };
    const QString stamp = QStringLiteral("2031-05-06_07-08-09");
};

// Puts a full disk under the open file at path, as if the disk had filled up during the run.
bool fillDiskUnder(const QString &path)
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &entry : fds.entryList(QDir::Files | QDir::System)) {
        if (QFile::symLinkTarget(fds.filePath(entry)) != QFileInfo(path).canonicalFilePath())
            continue;
        const int full = ::open("/dev/full", O_WRONLY);
        const bool replaced = full >= 0 && ::dup2(full, entry.toInt()) >= 0;
        ::close(full);
        return replaced;
    }
    return false;
}

} // namespace

class ChannelLogTest : public QObject {
    Q_OBJECT

private slots:
    void logsCreatedAtStartUp();
    void closeQuestion_data();
    void closeQuestion();
    void twoWindowsInOneSecond();
    void takenNameMovesWholeRun_data();
    void takenNameMovesWholeRun();
    void unusableDocumentsFolder();
    void failedWriteReportedOnce();
    void timestamps_data();
    void timestamps();
    void answeredAhead_data();
    void answeredAhead();
    void everyByteOnTheWireLogged_data();
    void everyByteOnTheWireLogged();
};

void ChannelLogTest::logsCreatedAtStartUp()
{
    WindowFixture fixture(WindowFixture::Start::Later);
    const TestEnvironment &env = fixture.env;
    QVERIFY(!QFileInfo::exists(env.homePath() + "/Documents"));
    const QDateTime before = QDateTime::currentDateTime();
    fixture.start();
    const QDateTime after = QDateTime::currentDateTime();

    const QStringList files = env.logFiles();
    QCOMPARE(files.size(), 4);
    const QString stamp = files.first().chopped(int(qstrlen("-network1.txt")));
    QVERIFY2(
        QRegularExpression("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d$").match(stamp).hasMatch(),
        qPrintable(stamp));
    const QDateTime started = QDateTime::fromString(stamp, stampFormat);
    QVERIFY(started >= before.addMSecs(-before.time().msec()) && started <= after);
    QCOMPARE(files, TestEnvironment::runFiles(stamp));
    for (const QString &name : files)
        QCOMPARE(QFileInfo(env.logDirPath() + '/' + name).size(), qint64(0));
    QVERIFY(fixture.status().isEmpty());
}

void ChannelLogTest::closeQuestion_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("key"); // answered with this key instead of a button
    QTest::addColumn<bool>("kept");
    QTest::newRow("Yes keeps this run's logs") << int(QMessageBox::Yes) << 0 << true;
    QTest::newRow("No removes this run's logs") << int(QMessageBox::No) << 0 << false;
    // Only an explicit No deletes: a reflexive key keeps the logs.
    QTest::newRow("Return keeps them") << 0 << int(Qt::Key_Return) << true;
    QTest::newRow("Escape keeps them") << 0 << int(Qt::Key_Escape) << true;
}

void ChannelLogTest::closeQuestion()
{
    QFETCH(int, answer);
    QFETCH(int, key);
    QFETCH(bool, kept);
    WindowFixture fixture(WindowFixture::Start::Later);
    const TestEnvironment &env = fixture.env;
    QVERIFY(QDir().mkpath(env.logDirPath()));
    const QStringList earlier = TestEnvironment::runFiles(QStringLiteral("2020-01-01_00-00-00"));
    for (const QString &name : earlier)
        QVERIFY(writeFile(env.logDirPath() + '/' + name, "earlier run\n"));

    ModalDialogHelper &dialogs = fixture.dialogs;
    dialogs.setMessageBoxAnswer(QMessageBox::StandardButton(answer));
    dialogs.setMessageBoxKey(key);
    fixture.start();
    const QStringList thisRun = env.logFiles().mid(4); // sorted after the earlier run's
    QCOMPARE(env.logFiles().mid(0, 4), earlier);
    QVERIFY(fixture.window().close());

    QCOMPARE(dialogs.count(), 1);
    QCOMPARE(dialogs.records().first().className, QStringLiteral("QMessageBox"));
    QCOMPARE(dialogs.records().first().title, QStringLiteral("TeskManager"));
    QCOMPARE(dialogs.records().first().text,
             QStringLiteral("Do you want to save log file into your Documents directory?"));
    for (const QString &name : thisRun)
        QCOMPARE(QFileInfo::exists(env.logDirPath() + '/' + name), kept);
    for (const QString &name : earlier)
        QCOMPARE(fileContents(env.logDirPath() + '/' + name), QByteArray("earlier run\n"));
    QVERIFY(QFileInfo::exists(env.settingsPath())); // saved whatever the answer
}

void ChannelLogTest::twoWindowsInOneSecond()
{
    const FixedClock clock;
    WindowFixture fixture(WindowFixture::Start::Now, clock.clock);
    const TestEnvironment &env = fixture.env;
    const QString firstSerial
        = env.logDirPath() + '/' + clock.stamp + TestEnvironment::logSuffixes.first();
    QVERIFY(writeFile(firstSerial, "first run\n", QIODevice::Append));

    MainWindow second(nullptr, {}, clock.clock);
    QCOMPARE(fileContents(firstSerial), QByteArray("first run\n"));
    QCOMPARE(env.logFiles(),
             TestEnvironment::runFiles(clock.stamp)
                 + TestEnvironment::runFiles(clock.stamp + "_2")); // sorts the same
}

void ChannelLogTest::takenNameMovesWholeRun_data()
{
    QTest::addColumn<QStringList>("taken"); // appended to the run stamp
    QTest::addColumn<QString>("expectedSuffix");
    QTest::newRow("one of the four names taken") << QStringList { "-network3.txt" } << "_2";
    QTest::newRow("a name of the _2 run taken as well")
        << QStringList { "-serial.txt", "_2-network2.txt" } << "_3";
}

void ChannelLogTest::takenNameMovesWholeRun()
{
    QFETCH(QStringList, taken);
    QFETCH(QString, expectedSuffix);
    const FixedClock clock;
    WindowFixture fixture(WindowFixture::Start::Later, clock.clock);
    const TestEnvironment &env = fixture.env;
    QVERIFY(QDir().mkpath(env.logDirPath()));
    for (const QString &name : taken)
        QVERIFY(writeFile(env.logDirPath() + '/' + clock.stamp + name, "taken\n"));

    fixture.start();
    for (const QString &name : taken)
        QCOMPARE(fileContents(env.logDirPath() + '/' + clock.stamp + name), QByteArray("taken\n"));
    QStringList expected = TestEnvironment::runFiles(clock.stamp + expectedSuffix);
    for (const QString &name : taken)
        expected << clock.stamp + name;
    expected.sort();
    QCOMPARE(env.logFiles(), expected);
}

void ChannelLogTest::unusableDocumentsFolder()
{
    const FixedClock clock;
    WindowFixture fixture(WindowFixture::Start::Later, clock.clock);
    const TestEnvironment &env = fixture.env;
    // Permission bits do not stop root; a file in the folder's place stops everyone.
    QVERIFY(writeFile(env.homePath() + "/Documents", "not a folder\n"));
    fixture.dialogs.setMessageBoxAnswer(QMessageBox::No);
    fixture.start();
    const QString status = fixture.status();
    QVERIFY2(status.startsWith("Log file error: " + env.logDirPath() + '/' + clock.stamp
                               + "-serial.txt: ")
                 && !status.endsWith(": "),
             qPrintable(status));

    // The window works on without its logs.
    QVERIFY(fixture.connectNetwork(1));
    fixture.send(1, QStringLiteral("AT"));
    QCOMPARE(fixture.shown(1), QStringLiteral("AT\n"));
    QVERIFY(fixture.window().close());

    QCOMPARE(fixture.dialogs.titles(), QStringList { "TeskManager" });
    QCOMPARE(fileContents(env.homePath() + "/Documents"), QByteArray("not a folder\n"));
    QVERIFY(QFileInfo::exists(env.settingsPath()));
}

void ChannelLogTest::failedWriteReportedOnce()
{
    WindowFixture fixture;
    QVERIFY(fixture.connectNetwork(1));
    QVERIFY(fixture.connectNetwork(2));
    const QString logPath = fixture.logPath(1);
    QVERIFY(fillDiskUnder(logPath));
    auto *status = fixture.widget<QStatusBar>("statusBar");
    status->clearMessage();

    fixture.send(1, QStringLiteral("one"));
    const QString message = fixture.status();
    QVERIFY2(message.startsWith("Log file error: " + logPath + ": ") && !message.endsWith(": "),
             qPrintable(message));

    status->clearMessage();
    fixture.send(1, QStringLiteral("two"));
    fixture.send(2, QStringLiteral("other"));
    QVERIFY2(fixture.status().isEmpty(), qPrintable(fixture.status()));
    QCOMPARE(fixture.shown(1), QStringLiteral("one\ntwo\n"));
    QCOMPARE(fixture.log(2), QByteArray("other\n"));
    QCOMPARE(fixture.dialogs.count(), 0);
}

void ChannelLogTest::timestamps_data()
{
    QTest::addColumn<QByteArray>("setting"); // the settings file's line
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QStringList>("steps"); // "<" received, ">" sent
    QTest::addColumn<QString>("logged"); // @ stands for a time stamp
    QTest::addColumn<bool>("stampsShown");
    const QByteArray log = "timestamps=log";
    QTest::newRow("received lines, one split between arrivals")
        << log << 1 << false << QStringList { "<one\ntw", "<o\n" } << "@ RX one\n@ RX two\n"
        << false;
    QTest::newRow("sent commands")
        << log << 2 << false << QStringList { ">AT", ">ATI" } << "@ TX AT\n@ TX ATI\n"
        << false;
    QTest::newRow("a direction change inside a line")
        << log << 3 << false << QStringList { "<part", ">AT", "<rest\n" }
        << "@ RX part\n@ TX AT\n@ RX rest\n"
        << false;
    QTest::newRow("each hex block on its own line")
        << log << int(serial) << true << QStringList { "<AB", "<C", ">41" }
        << "@ RX 41 42 \n@ RX 43 \n@ TX 41\n"
        << false;
    QTest::newRow("in the view as well") << QByteArray("timestamps=view") << 1 << false
                                         << QStringList { ">AT", "<OK\n" } << "@ TX AT\n@ RX OK\n"
                                         << true;
    QTest::newRow("a value that means nothing is off")
        << QByteArray("timestamps=sometimes") << 1 << false << QStringList { ">AT", "<OK" }
        << "AT\nOK" << false;
}

void ChannelLogTest::timestamps()
{
    QFETCH(QByteArray, setting);
    QFETCH(int, channel);
    QFETCH(bool, hex);
    QFETCH(QStringList, steps);
    QFETCH(QString, logged);
    QFETCH(bool, stampsShown);
    // Each reading of the clock is 400 ms after the one before: the run crosses seconds.
    QDateTime time(QDate(2026, 12, 8), QTime(14, 3, 7, 125));
    WindowFixture fixture(WindowFixture::Start::Later,
                          [&time] { return time = time.addMSecs(400); });
    QVERIFY(writeFile(fixture.env.settingsPath(), "[Setup_Parameter]\n" + setting + "\n"));
    fixture.start();
    QVERIFY(fixture.open(channel, hex));
    int arrivals = 0;
    QString shown;
    for (const QString &step : qAsConst(steps)) {
        if (step.startsWith('>')) {
            fixture.send(channel, step.mid(1));
            shown += step.mid(1) + '\n';
        } else {
            QVERIFY(fixture.deliver(channel, step.mid(1).toLatin1()));
            ++arrivals;
            QTRY_COMPARE(fixture.received(channel), arrivals);
            shown += hex ? hexOf(step.mid(1).toLatin1()) : step.mid(1);
        }
    }
    const QString stamp = QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}");
    QStringList parts = logged.split('@');
    for (QString &part : parts)
        part = QRegularExpression::escape(part);
    const QRegularExpression pattern('^' + parts.join(stamp) + '$');
    const QString log = QString::fromLocal8Bit(fixture.log(channel));
    QVERIFY2(pattern.match(log).hasMatch(), qPrintable(log));
    const QStringList lines = log.split('\n', Qt::SkipEmptyParts);
    if (logged.startsWith('@'))
        QVERIFY2(lines.first().left(19) != lines.last().left(19), qPrintable(log));
    // The view shows the traffic as it would without stamps, or with them in a muted colour.
    QString view = fixture.shown(channel);
    if (stampsShown)
        QCOMPARE(view.remove(QRegularExpression(stamp + " (RX|TX) ")),
                 logged.remove("@ RX ").remove("@ TX "));
    else
        QCOMPARE(view, shown);
}

void ChannelLogTest::answeredAhead_data()
{
    QTest::addColumn<bool>("keep");
    QTest::newRow("--keep-logs") << true;
    QTest::newRow("--discard-logs") << false;
}

// An unattended run names its log folder and answers the question at exit ahead.
void ChannelLogTest::answeredAhead()
{
    QFETCH(bool, keep);
    WindowFixture fixture(WindowFixture::Start::Later);
    const QString folder = fixture.env.homePath() + QStringLiteral("/bench/run 1");
    fixture.options.logDir = folder;
    fixture.options.keepLogs = keep;
    fixture.start();
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 4);
    QVERIFY(!QFileInfo::exists(fixture.env.logDirPath()));
    QVERIFY(fixture.connectNetwork(1));
    fixture.send(1, QStringLiteral("AT"));
    QVERIFY(fixture.window().close());
    QCOMPARE(fixture.dialogs.texts(), QStringList());
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), keep ? 4 : 0);
    QVERIFY(QFileInfo::exists(fixture.env.settingsPath()));
}

void ChannelLogTest::everyByteOnTheWireLogged_data()
{
    QTest::addColumn<QString>("close");
    QTest::newRow("File > Exit, the question answered") << "exit";
    QTest::newRow("--quit-after or a signal") << "unattended";
    QTest::newRow("a signal while the exit question waits") << "question";
}

// However the window closes, what the device and the peer received is in the logs, with what they
// had already sent back when the close came.
void ChannelLogTest::everyByteOnTheWireLogged()
{
    QFETCH(QString, close);
    WindowFixture fixture(WindowFixture::Start::Later);
    fixture.options.timestamps = Timestamps::Log;
    fixture.start();
    QVERIFY(fixture.open(serial) && fixture.open(1));
    for (int channel : { serial, 1 }) {
        fixture.startPeriodicSend(channel, "AT", 100);
        // Faster than the form allows, so that a tick falls due in the middle of the close.
        fixture.sendTimer(channel)->start(20);
    }
    QTRY_VERIFY(fixture.written(serial).count("AT\n") >= 5
                && fixture.written(1).count("AT\n") >= 5);
    QVERIFY(fixture.deliver(serial, "BYE\r\n") && fixture.deliver(1, "BYE\n"));
    fixture.peer(1)->flush();

    MainWindow &window = fixture.window();
    if (close == "exit") {
        fixture.widget<QAction>("actionExit")->trigger();
    } else if (close == "unattended") {
        window.closeUnattended();
    } else {
        fixture.dialogs.setAnswerCondition([] { return false; });
        connect(&fixture.dialogs, &ModalDialogHelper::seen, &window,
                [&window] { window.closeUnattended(); });
        window.close();
    }
    QTRY_VERIFY(!window.isVisible());
    // A tick that still came would come within this.
    QTest::qWait(100);
    for (int channel : { serial, 1 }) {
        const QByteArray log = fixture.log(channel);
        QCOMPARE(log.count(" TX AT\n"), fixture.written(channel).count("AT\n"));
        QVERIFY2(log.contains(" RX BYE"), log.right(200).constData());
    }
}

QTEST_MAIN(ChannelLogTest)
#include "tst_channellog.moc"
