#include "testenvironment.h"
#include "viewchecks.h"
#include "windowfixture.h"

#include <QAction>
#include <QDir>
#include <QRegularExpression>
#include <QtTest>

namespace {
const QString stampFormat = QStringLiteral("yyyy-MM-dd_hh-mm-ss");
} // namespace

// The window's own part: the wiring from its controls to its channels, what the command line
// and the settings file ask of its start, its logs and its close. What a channel does is tested
// on the channels alone.
class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(Pty().isValid(), "no pseudo-terminal available"); }
    void controlsReachTheirChannel_data();
    void controlsReachTheirChannel();
    void countersAgreeWithViews_data();
    void countersAgreeWithViews();
    void startsAsTold();
    void logsCreatedAtStartUp();
    void closeQuestion_data();
    void closeQuestion();
    void answeredAhead_data();
    void answeredAhead();
    void everyByteOnTheWireLogged_data();
    void everyByteOnTheWireLogged();
};

void MainWindowTest::controlsReachTheirChannel_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QByteArray>("lineEnd");
    QTest::newRow("Serial, line ending from the file") << int(serial) << QByteArray("\r\n");
    QTest::newRow("Network1, the command line's over the file's") << 1 << QByteArray("\r");
    QTest::newRow("Network2, the command line's over the file's") << 2 << QByteArray();
    QTest::newRow("Network3, the file's meaningless one gives the default")
        << 3 << QByteArray("\n");
}

// Each channel's buttons, its command line, its link's signals and the run's settings reach that
// channel and no other. What the channel then does is the channels' own tests' business.
void MainWindowTest::controlsReachTheirChannel()
{
    QFETCH(int, channel);
    QFETCH(QByteArray, lineEnd);
    WindowFixture fixture(WindowFixture::Start::Later);
    QVERIFY(writeFile(fixture.env.settingsPath(),
                      "[Setup_Parameter]\nseriallineending=CRLF\nnetwork1lineending=None\n"
                      "network2lineending=CR\nnetwork3lineending=XY\ntimestamps=log\n"));
    fixture.options.lineEndings[1] = LineEnding::CR;
    fixture.options.lineEndings[2] = LineEnding::None;
    fixture.options.dtr = true;
    fixture.start();
    for (int c : { 1, 2, 3, serial })
        QVERIFY(fixture.open(c));
    if (channel == serial) // a pty has no control lines
        QVERIFY2(fixture.status().contains("could not set DTR"), qPrintable(fixture.status()));

    fixture.setHexMode(channel, true);
    fixture.commandLine(channel)->setText(QStringLiteral("41 42"));
    QTest::keyClick(fixture.commandLine(channel), Qt::Key_Return);
    fixture.setHexMode(channel, false);
    fixture.send(channel, QStringLiteral("AT"));
    QTRY_COMPARE(fixture.written(channel), "ABAT" + lineEnd);
    QVERIFY(fixture.deliver(channel, "ok"));
    QTRY_COMPARE(fixture.received(channel), 1);
    if (channel == serial) {
        QTest::keyClicks(fixture.view(serial), QStringLiteral("k"));
        QTRY_COMPARE(fixture.written(serial), "ABAT" + lineEnd + 'k');
    }
    const QRegularExpression stamped(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} TX 41 42\n"));
    QVERIFY2(stamped.match(QString::fromUtf8(fixture.log(channel))).hasMatch(),
             fixture.log(channel).constData());
    fixture.startPeriodicSend(channel, QStringLiteral("AT"), 100);
    QTRY_VERIFY(fixture.sent(channel) >= 3);
    fixture.timerButton(channel)->click();
    QCOMPARE(fixture.periodicSend(channel), QStringLiteral("Start"));
    fixture.clearButton(channel)->click();
    QCOMPARE(fixture.sent(channel), 0);
    QCOMPARE(fixture.received(channel), 0);
    QCOMPARE(fixture.shown(channel), QString());

    // The link's own report reaches its channel alone.
    if (channel == serial)
        fixture.pty.closeMaster();
    else
        emit fixture.socket(channel)->errorOccurred(QAbstractSocket::NetworkError);
    QTRY_VERIFY(!fixture.linkButton(channel)->isChecked());
    // The box comes once the button has been told; on a slow build, a turn of the loop later.
    QTRY_COMPARE(fixture.dialogs.titles(),
             QStringList { channel == serial ? "Critical Error" : "Client" });
    for (int other = 0; other < 4; ++other) {
        if (other == channel)
            continue;
        QVERIFY(fixture.linkButton(other)->isChecked());
        QCOMPARE(fixture.sent(other), 0);
        QCOMPARE(fixture.received(other), 0);
        QCOMPARE(fixture.log(other), QByteArray());
    }
}

void MainWindowTest::countersAgreeWithViews_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("change");
    const char *names[] = { "Serial", "Network1", "Network2", "Network3" };
    for (int channel = serial; channel <= 3; ++channel)
        for (const char *change : { "arrival", "send", "hex send", "Clear then arrival", "colour" })
            QTest::addRow("%s, %s", names[channel], change) << channel << QString(change);
}

// Whoever reads the window, a person or a program, finds in a channel's view whatever its
// counters count by then, in its colour: a counter that shows N is never ahead of the view. Each
// change comes right after a command, as in any exchange of commands and answers.
void MainWindowTest::countersAgreeWithViews()
{
    QFETCH(int, channel);
    QFETCH(QString, change);
    WindowFixture fixture;
    QVERIFY(fixture.show());
    const bool hex = change == "hex send";
    QVERIFY(fixture.open(channel, hex));
    auto shownNow = [&] { return fixture.viewNow(channel)->toPlainText(); };
    if (change == "colour") {
        fixture.dialogs.setColorAnswer(Qt::blue);
        fixture
            .widget<QPushButton>(channel == serial ? "PB_SerialInputColor" : "PB_NetworkInputColor")
            ->click();
    }
    fixture.send(channel, hex ? QStringLiteral("41 54") : QStringLiteral("AT"));
    QTRY_COMPARE(fixture.sentNow(channel), 1);
    QCOMPARE(shownNow(), hex ? QStringLiteral("41 54\n") : QStringLiteral("AT\n"));

    if (change == "send" || change == "hex send") {
        fixture.send(channel, hex ? QStringLiteral("41 54 49") : QStringLiteral("ATI"));
        QTRY_COMPARE(fixture.sentNow(channel), 2);
        QCOMPARE(shownNow(),
                 hex ? QStringLiteral("41 54\n41 54 49\n") : QStringLiteral("AT\nATI\n"));
        return;
    }
    if (change == "Clear then arrival") {
        fixture.clearButton(channel)->click();
        QCOMPARE(fixture.sentNow(channel), 0);
        QCOMPARE(shownNow(), QString());
    }
    QVERIFY(fixture.deliver(channel, "OK\r\n"));
    QTRY_COMPARE(fixture.receivedNow(channel), 1);
    const QString expected = change == "Clear then arrival" ? "OK\n" : "AT\nOK\n";
    QCOMPARE(shownNow(), expected);
    if (change == "colour")
        QCOMPARE(colourOf(fixture.viewNow(channel), QStringLiteral("OK")), QColor(Qt::blue));
}

// What the command line asks of a run reaches the window and its channels once it is up: the
// address and port, the links to open, the commands, modes and periods, the reconnection.
void MainWindowTest::startsAsTold()
{
    WindowFixture fixture(WindowFixture::Start::Later);
    // A value that means nothing is as good as none: no stamps.
    QVERIFY(writeFile(fixture.env.settingsPath(), "[Setup_Parameter]\ntimestamps=sometimes\n"));
    RunOptions &o = fixture.options;
    o.serialPorts = QStringList { fixture.pty.slavePath() };
    o.openSerial = true;
    o.host = QStringLiteral("127.0.0.1");
    o.port = QString::number(fixture.server.serverPort());
    o.connect = { 2 };
    o.commands[serial] = QStringLiteral("P");
    o.commands[2] = QStringLiteral("74 69 63 6B 0A");
    o.hexModes[2] = true;
    o.periodsMs[serial] = 100;
    o.periodsMs[2] = 200;
    o.reconnect = true;
    fixture.start();
    QTRY_VERIFY(fixture.written(serial).startsWith("P\nP\n"));
    QTRY_VERIFY(fixture.server.hasPendingConnections());
    QTcpSocket *peer = fixture.server.nextPendingConnection();
    QByteArray got;
    QTRY_VERIFY((got += peer->readAll()).startsWith("tick\ntick\n"));
    QVERIFY(fixture.log(2).startsWith("74 69 63 6B 0A\n74 69 63 6B 0A\n"));
    QCOMPARE(fixture.value("LE_IPAddress1"), QVariant("127.0.0.1"));
    QCOMPARE(fixture.value("LE_Port1"), QVariant(*o.port));
    QCOMPARE(fixture.value("SB_Network2TimerSecond"), QVariant(200));
    QVERIFY(fixture.widget<QRadioButton>("RB_Network2Hex")->isChecked());
    for (int channel : { serial, 2 })
        QCOMPARE(fixture.periodicSend(channel), QStringLiteral("Stop checked running"));
    for (int channel : { 1, 3 })
        QVERIFY(!fixture.linkButton(channel)->isChecked());

    // A link that is lost is tried again, without a box.
    peer->close();
    QTRY_VERIFY(fixture.log(2).contains("--- link lost: "));
    QVERIFY(fixture.linkButton(2)->isChecked());
    QCOMPARE(fixture.dialogs.count(), 0);
}

void MainWindowTest::logsCreatedAtStartUp()
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

void MainWindowTest::closeQuestion_data()
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

void MainWindowTest::closeQuestion()
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

void MainWindowTest::answeredAhead_data()
{
    QTest::addColumn<bool>("keep");
    QTest::newRow("--keep-logs") << true;
    QTest::newRow("--discard-logs") << false;
}

// An unattended run names its log folder and answers the question at exit ahead.
void MainWindowTest::answeredAhead()
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

void MainWindowTest::everyByteOnTheWireLogged_data()
{
    QTest::addColumn<QString>("close");
    QTest::newRow("File > Exit, the question answered") << "exit";
    QTest::newRow("--quit-after or a signal") << "unattended";
    QTest::newRow("a signal while the exit question waits") << "question";
}

// However the window closes, what the device and the peer received is in the logs, with what they
// had already sent back when the close came.
void MainWindowTest::everyByteOnTheWireLogged()
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

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
