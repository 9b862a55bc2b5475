#include "windowfixture.h"

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

    MainWindow second(nullptr, clock.clock);
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

QTEST_MAIN(ChannelLogTest)
#include "tst_channellog.moc"
