#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "testenvironment.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QStringList suffixes { "-serial.txt", "-network1.txt", "-network2.txt", "-network3.txt" };
const QString stampFormat = QStringLiteral("yyyy-MM-dd_hh-mm-ss");

QString currentStamp()
{
    return QDateTime::currentDateTime().toString(stampFormat);
}

// Returns once a second has just begun, so that what follows runs within that second.
void waitForFreshSecond()
{
    QTRY_VERIFY_WITH_TIMEOUT(QTime::currentTime().msec() < 150, 2000);
}

QStringList runFiles(const QString &stamp)
{
    QStringList names;
    for (const QString &suffix : suffixes)
        names << stamp + suffix;
    names.sort();
    return names;
}

void writeFile(const QString &path, const QByteArray &contents,
               QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    QVERIFY(file.open(mode));
    file.write(contents);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStatusBar *statusBar(const MainWindow &window)
{
    return window.findChild<QStatusBar *>(QStringLiteral("statusBar"));
}

bool connectNetwork(MainWindow &window, QTcpServer &server, int n)
{
    window.findChild<QLineEdit *>("LE_IPAddress1")->setText(QStringLiteral("127.0.0.1"));
    window.findChild<QLineEdit *>("LE_Port1")->setText(QString::number(server.serverPort()));
    window.findChild<QPushButton *>(QStringLiteral("PB_ConnectNetwork%1").arg(n))->click();
    return server.waitForNewConnection(2000);
}

void send(MainWindow &window, int n, const QString &command)
{
    window.findChild<QLineEdit *>(QStringLiteral("LE_Network%1Cmd").arg(n))->setText(command);
    window.findChild<QPushButton *>(QStringLiteral("PB_SendNetwork%1").arg(n))->click();
}

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
    TestEnvironment env;
    QVERIFY(!QFileInfo::exists(env.homePath() + "/Documents"));
    const QDateTime before = QDateTime::currentDateTime();
    MainWindow window;
    const QDateTime after = QDateTime::currentDateTime();

    const QStringList files = env.logFiles();
    QCOMPARE(files.size(), 4);
    const QString stamp = files.first().chopped(int(qstrlen("-network1.txt")));
    QVERIFY2(
        QRegularExpression("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d$").match(stamp).hasMatch(),
        qPrintable(stamp));
    const QDateTime started = QDateTime::fromString(stamp, stampFormat);
    QVERIFY(started >= before.addMSecs(-before.time().msec()) && started <= after);
    QCOMPARE(files, runFiles(stamp));
    for (const QString &name : files)
        QCOMPARE(QFileInfo(env.logDirPath() + '/' + name).size(), qint64(0));
    QVERIFY(statusBar(window)->currentMessage().isEmpty());
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
    TestEnvironment env;
    QVERIFY(QDir().mkpath(env.logDirPath()));
    const QStringList earlier = runFiles(QStringLiteral("2020-01-01_00-00-00"));
    for (const QString &name : earlier)
        writeFile(env.logDirPath() + '/' + name, "earlier run\n");

    ModalDialogHelper helper;
    helper.setMessageBoxAnswer(QMessageBox::StandardButton(answer));
    helper.setMessageBoxKey(key);
    QStringList thisRun;
    {
        MainWindow window;
        thisRun = env.logFiles().mid(4); // sorted after the earlier run's
        QCOMPARE(env.logFiles().mid(0, 4), earlier);
        QVERIFY(window.close());
    }

    QCOMPARE(helper.count(), 1);
    QCOMPARE(helper.records().first().className, QStringLiteral("QMessageBox"));
    QCOMPARE(helper.records().first().title, QStringLiteral("TeskManager"));
    QCOMPARE(helper.records().first().text,
             QStringLiteral("Do you want to save log file into your Documents directory?"));
    for (const QString &name : thisRun)
        QCOMPARE(QFileInfo::exists(env.logDirPath() + '/' + name), kept);
    for (const QString &name : earlier)
        QCOMPARE(readFile(env.logDirPath() + '/' + name), QByteArray("earlier run\n"));
    QVERIFY(QFileInfo::exists(env.settingsPath())); // saved whatever the answer
}

void ChannelLogTest::twoWindowsInOneSecond()
{
    TestEnvironment env;
    waitForFreshSecond();
    const QString stamp = currentStamp();
    MainWindow first;
    const QString firstSerial = env.logDirPath() + '/' + stamp + suffixes.first();
    writeFile(firstSerial, "first run\n", QIODevice::Append);

    MainWindow second;
    QVERIFY2(currentStamp() == stamp, "the two windows took more than a second to start");
    QCOMPARE(readFile(firstSerial), QByteArray("first run\n"));
    QCOMPARE(env.logFiles(), runFiles(stamp) + runFiles(stamp + "_2")); // sorts the same
}

void ChannelLogTest::takenNameMovesWholeRun_data()
{
    QTest::addColumn<QStringList>("taken"); // appended to this second's stamp
    QTest::addColumn<QString>("expectedSuffix");
    QTest::newRow("one of the four names taken") << QStringList { "-network3.txt" } << "_2";
    QTest::newRow("a name of the _2 run taken as well")
        << QStringList { "-serial.txt", "_2-network2.txt" } << "_3";
}

void ChannelLogTest::takenNameMovesWholeRun()
{
    QFETCH(QStringList, taken);
    QFETCH(QString, expectedSuffix);
    TestEnvironment env;
    QVERIFY(QDir().mkpath(env.logDirPath()));
    waitForFreshSecond();
    const QString stamp = currentStamp();
    for (const QString &name : taken)
        writeFile(env.logDirPath() + '/' + stamp + name, "taken\n");

    MainWindow window;
    QVERIFY2(currentStamp() == stamp, "the window took more than a second to start");
    for (const QString &name : taken)
        QCOMPARE(readFile(env.logDirPath() + '/' + stamp + name), QByteArray("taken\n"));
    QStringList expected = runFiles(stamp + expectedSuffix);
    for (const QString &name : taken)
        expected << stamp + name;
    expected.sort();
    QCOMPARE(env.logFiles(), expected);
}

void ChannelLogTest::unusableDocumentsFolder()
{
    TestEnvironment env;
    // Permission bits do not stop root; a file in the folder's place stops everyone.
    writeFile(env.homePath() + "/Documents", "not a folder\n");
    ModalDialogHelper helper;
    helper.setMessageBoxAnswer(QMessageBox::No);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    {
        MainWindow window;
        const QString status = statusBar(window)->currentMessage();
        QVERIFY2(status.startsWith("Log file error: " + env.logDirPath() + '/'
                                   + currentStamp().left(10)),
                 qPrintable(status));
        QVERIFY2(status.contains("-serial.txt: ") && !status.endsWith(": "), qPrintable(status));

        // The window works on without its logs.
        QVERIFY(connectNetwork(window, server, 1));
        send(window, 1, QStringLiteral("AT"));
        QCOMPARE(window.findChild<QTextEdit *>("TE_Network1")->toPlainText(),
                 QStringLiteral("AT\n"));
        QVERIFY(window.close());
    }
    QCOMPARE(helper.titles(), QStringList { "TeskManager" });
    QCOMPARE(readFile(env.homePath() + "/Documents"), QByteArray("not a folder\n"));
    QVERIFY(QFileInfo::exists(env.settingsPath()));
}

void ChannelLogTest::failedWriteReportedOnce()
{
    TestEnvironment env;
    ModalDialogHelper helper;
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    MainWindow window;
    QVERIFY(connectNetwork(window, server, 1));
    QVERIFY(connectNetwork(window, server, 2));
    const QString logPath = env.logDirPath() + '/' + env.logFiles().first();
    QVERIFY(logPath.endsWith("-network1.txt"));
    QVERIFY(fillDiskUnder(logPath));
    QStatusBar *status = statusBar(window);
    status->clearMessage();

    send(window, 1, QStringLiteral("one"));
    const QString message = status->currentMessage();
    QVERIFY2(message.startsWith("Log file error: " + logPath + ": ") && !message.endsWith(": "),
             qPrintable(message));

    status->clearMessage();
    send(window, 1, QStringLiteral("two"));
    send(window, 2, QStringLiteral("other"));
    QVERIFY2(status->currentMessage().isEmpty(), qPrintable(status->currentMessage()));
    QCOMPARE(window.findChild<QTextEdit *>("TE_Network1")->toPlainText(),
             QStringLiteral("one\ntwo\n"));
    QCOMPARE(env.logContents("-network2.txt"), QByteArray("other\n"));
    QCOMPARE(helper.count(), 0);
}

QTEST_MAIN(ChannelLogTest)
#include "tst_channellog.moc"
