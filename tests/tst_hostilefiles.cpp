#include "filesizelimit.h"
#include "joiningthread.h"
#include "settingsformat.h"
#include "tcppeer.h"
#include "testdata.h"
#include "windowfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSettings>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

namespace {

// What saveSettings should write for the window as it stands.
QVariantMap settingsShown(const WindowFixture &fixture)
{
    QVariantMap values;
    const auto *port = fixture.widget<QComboBox>("CB_SerialPort");
    values["port"] = port->currentIndex();
    values["portname"] = port->currentText();
    values["bandrate"] = fixture.value("CB_BandRate");
    values["serialtimermsecond"] = fixture.value("SB_SerialTimerSecond");
    values["networkipaddress"] = fixture.value("LE_IPAddress1");
    values["networkport"] = fixture.value("LE_Port1");
    for (int n = 1; n <= 3; ++n)
        values[QStringLiteral("network%1timermsecond").arg(n)]
            = fixture.value(QStringLiteral("SB_Network%1TimerSecond").arg(n));
    return values;
}

// A file that any reader of the settings format takes in full and finds these values in.
void verifySettingsFile(const QString &path, const QVariantMap &expected)
{
    QVERIFY(QFileInfo(path).isFile());
    QSettings settings(path, QSettings::IniFormat);
    useUtf8Ini(settings);
    QCOMPARE(settings.status(), QSettings::NoError);
    settings.beginGroup(QStringLiteral("Setup_Parameter"));
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        const QVariant stored = settings.value(it.key());
        QVERIFY2(stored.isValid(), qPrintable(it.key()));
        if (it.value().userType() == QMetaType::Int)
            QCOMPARE(stored.toString(), QString::number(it.value().toInt()));
        else
            QCOMPARE(stored.toString(), it.value().toString());
    }
}

} // namespace

class TestHostileFiles : public QObject {
    Q_OBJECT

private slots:
    void hostileSettings_data();
    void hostileSettings();
    void settingsPathNotAFile_data();
    void settingsPathNotAFile();
    void logFolderBlocked_data();
    void logFolderBlocked();
    void closeWhileTrafficFlows_data();
    void closeWhileTrafficFlows();
};

void TestHostileFiles::hostileSettings_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QVariantMap>("expected"); // widget values that differ from the defaults

    QTest::newRow("binary garbage") << randomBytes(64 * 1024, 1) << QVariantMap();
    QByteArray garbageThenGroup = randomBytes(4096, 2);
    garbageThenGroup.replace('\n', 'x').replace('\r', 'x').replace('[', 'x');
    QTest::newRow("garbage without a line break, then the group") << garbageThenGroup
            + "\n[Setup_Parameter]\nbandrate=2\n" << QVariantMap { { "CB_BandRate", 2 } };
    QTest::newRow("values far out of range")
        << QByteArray("[Setup_Parameter]\nbandrate=2147483647\nserialtimermsecond=2147483647\n"
                      "network1timermsecond=99999999999999999999\nnetwork2timermsecond=1e9\n"
                      "network3timermsecond=10001\nnetworkport=99999999999999999999\n")
        << QVariantMap { { "CB_BandRate", -1 },
                         { "SB_SerialTimerSecond", 10000 },
                         { "SB_Network1TimerSecond", 100 },
                         { "SB_Network2TimerSecond", 100 },
                         { "SB_Network3TimerSecond", 10000 },
                         { "LE_Port1", "99999999999999999999" } };
    QTest::newRow("negative numbers")
        << QByteArray("[Setup_Parameter]\nbandrate=-3\nserialtimermsecond=-1\n"
                      "network1timermsecond=-2147483648\nnetwork2timermsecond=-0\n"
                      "network3timermsecond=-5000\nnetworkport=-1\n")
        << QVariantMap { { "CB_BandRate", -1 },
                         { "SB_SerialTimerSecond", 100 },
                         { "SB_Network1TimerSecond", 100 },
                         { "SB_Network2TimerSecond", 100 },
                         { "SB_Network3TimerSecond", 100 },
                         { "LE_Port1", "-1" } };
    QTest::newRow("wrong types") << QByteArray(
        "[Setup_Parameter]\nbandrate=@Rect(1 2 3 4)\nserialtimermsecond=1, 2, 3\n"
        "network1timermsecond=@ByteArray(\\0\\x1)\nnetwork2timermsecond=true\n"
        "network3timermsecond=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x3xyz)\n"
        "portname=@Size(1 2)\nnetworkipaddress=@Point(1 2)\n"
        "networkport=@Variant(garbage)\n")
                                 << QVariantMap { { "SB_SerialTimerSecond", 100 },
                                                  { "SB_Network1TimerSecond", 100 },
                                                  { "SB_Network2TimerSecond", 100 },
                                                  { "SB_Network3TimerSecond", 100 } };
}

void TestHostileFiles::hostileSettings()
{
    QFETCH(QByteArray, contents);
    QFETCH(QVariantMap, expected);
    WindowFixture fixture(WindowFixture::Start::Later);
    QVERIFY(writeFile(fixture.env.settingsPath(), contents));
    fixture.dialogs.setMessageBoxAnswer(QMessageBox::No);
    fixture.start();
    QVariantMap shown = WindowFixture::firstRunValues();
    for (auto it = expected.begin(); it != expected.end(); ++it)
        shown[it.key()] = it.value();
    const QString differences = fixture.differences(shown);
    QVERIFY2(differences.isEmpty(), qPrintable(differences));
    const QVariantMap atClose = settingsShown(fixture);
    QVERIFY(fixture.window().close());
    QCOMPARE(fixture.dialogs.count(), 1);
    verifySettingsFile(fixture.env.settingsPath(), atClose);
}

void TestHostileFiles::settingsPathNotAFile_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a directory") << "directory"
                                 << "it is not a plain file";
    QTest::newRow("a named pipe") << "pipe"
                                  << "it is not a plain file";
    QTest::newRow("a file size limit refuses the write")
        << "size limit" << QString::fromLocal8Bit(strerror(EFBIG));
}

void TestHostileFiles::settingsPathNotAFile()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, reason);
    const bool pipe = obstacle == QLatin1String("pipe");
    const bool limit = obstacle == QLatin1String("size limit");
    const QByteArray before = "[Setup_Parameter]\nbandrate=0\n";
    WindowFixture fixture(WindowFixture::Start::Later);
    const TestEnvironment &env = fixture.env;
    const QByteArray path = QFile::encodeName(env.settingsPath());
    if (pipe) {
        QVERIFY(::mkfifo(path.constData(), 0644) == 0);
    } else if (limit) {
        QVERIFY(writeFile(env.settingsPath(), before));
    } else {
        QVERIFY(QDir().mkpath(env.settingsPath()));
        QVERIFY(writeFile(env.settingsPath() + "/inside", "kept\n"));
    }
    // Whoever opens the pipe waits for its other end. The rescuer lends one end after the
    // other, so that such a wait ends instead of the test, and tells whether anyone waited: a
    // write end opens at once only while a reader waits, a writer let through writes or closes.
    std::atomic<bool> done { false };
    std::atomic<bool> waited { false };
    JoiningThread rescuer([&] { done = true; });
    rescuer.start([&] {
        while (pipe && !done) {
            const int writeEnd = ::open(path.constData(), O_WRONLY | O_NONBLOCK);
            pollfd readEnd { ::open(path.constData(), O_RDONLY | O_NONBLOCK), POLLIN, 0 };
            if (writeEnd >= 0 || ::poll(&readEnd, 1, 50) > 0)
                waited = true;
            ::close(writeEnd);
            ::close(readEnd.fd);
        }
    });
    fixture.dialogs.setMessageBoxAnswer(QMessageBox::No);
    fixture.start();
    const QString differences = fixture.differences(WindowFixture::firstRunValues());
    QVERIFY2(differences.isEmpty(), qPrintable(differences));
    {
        std::optional<FileSizeLimit> fileSize;
        if (limit)
            QVERIFY(fileSize.emplace(16).isSet());
        QVERIFY(fixture.window().close());
    }
    // The user is told, after the question about the logs.
    QCOMPARE(fixture.dialogs.titles(), (QStringList { "TeskManager", "Settings" }));
    QCOMPARE(fixture.dialogs.texts().constLast(),
             QStringLiteral("The settings could not be saved to %1: %2.")
                 .arg(env.settingsPath(), reason));
    QVERIFY(!waited);
    // Nothing can be written there; nothing is destroyed and nothing is left behind either.
    const QFileInfo info(env.settingsPath());
    if (limit) {
        QCOMPARE(fileContents(env.settingsPath()), before);
    } else if (pipe) {
        QVERIFY(!info.isFile() && !info.isDir() && info.exists());
    } else {
        QVERIFY(info.isDir());
        QCOMPARE(fileContents(env.settingsPath() + "/inside"), QByteArray("kept\n"));
    }
    QCOMPARE(QDir(env.workPath())
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
             QStringList { "demosettings.ini" });
}

void TestHostileFiles::logFolderBlocked_data()
{
    QTest::addColumn<QString>("obstacle"); // relative to the home folder
    QTest::addColumn<bool>("link");
    QTest::addColumn<int>("answer");
    QTest::newRow("a file for Documents, answer No")
        << "Documents" << false << int(QMessageBox::No);
    QTest::newRow("a file for the log folder, answer Yes")
        << "Documents/TeskManager" << false << int(QMessageBox::Yes);
    QTest::newRow("a file for the log folder, answer No")
        << "Documents/TeskManager" << false << int(QMessageBox::No);
    QTest::newRow("a dangling link for the log folder, answer No")
        << "Documents/TeskManager" << true << int(QMessageBox::No);
}

void TestHostileFiles::logFolderBlocked()
{
    QFETCH(QString, obstacle);
    QFETCH(bool, link);
    QFETCH(int, answer);
    // The run stamp of a fixed time, however long the start takes.
    WindowFixture fixture(WindowFixture::Start::Later,
                          [] { return QDateTime(QDate(2031, 5, 6), QTime(7, 8, 9)); });
    const TestEnvironment &env = fixture.env;
    const QString path = env.homePath() + '/' + obstacle;
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    if (link)
        QVERIFY(QFile::link(env.homePath() + "/nowhere/at/all", path));
    else
        QVERIFY(writeFile(path, "in the way\n"));
    fixture.dialogs.setMessageBoxAnswer(QMessageBox::StandardButton(answer));
    fixture.start();
    QVERIFY(fixture.show());
    // Told once for the folder, naming it and why.
    QCOMPARE(fixture.status(),
             "The logs cannot be written: the folder " + env.logDirPath()
                 + " cannot be made: Not a directory.");

    // Every channel works on without its log.
    QVERIFY(fixture.open(2));
    QVERIFY(fixture.deliver(2, "from the peer\n"));
    QTRY_COMPARE(fixture.shown(2), QStringLiteral("from the peer\n"));
    QVERIFY(fixture.open(serial));
    fixture.send(serial, "AT");
    QVERIFY(fixture.pty.write("OK\r\n"));
    QTRY_COMPARE(fixture.shown(serial), QStringLiteral("AT\nOK\n")); // CR LF: one break
    // Told once, not at every append.
    QVERIFY2(fixture.status().startsWith("Connected to "), qPrintable(fixture.status()));
    QVERIFY(fixture.window().close());

    QCOMPARE(fixture.dialogs.titles(), QStringList { "TeskManager" });
    // The obstacle is left as it was, whatever the answer.
    if (link)
        QCOMPARE(QFileInfo(path).symLinkTarget(), env.homePath() + "/nowhere/at/all");
    else
        QCOMPARE(fileContents(path), QByteArray("in the way\n"));
    QVERIFY(QFileInfo(env.settingsPath()).isFile());
}

void TestHostileFiles::closeWhileTrafficFlows_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("Yes keeps complete files") << int(QMessageBox::Yes);
    QTest::newRow("No removes exactly this run's files") << int(QMessageBox::No);
}

void TestHostileFiles::closeWhileTrafficFlows()
{
    QFETCH(int, answer);
    const int size = 256 * 1024;
    const QByteArray alphabet = plainAlphabet + '\n';
    const QByteArray payload[] = { plainText(size, 10, alphabet), plainText(size, 11, alphabet),
                                   plainText(size, 12, alphabet) };
    const QByteArray serialPayload = plainText(48 * 1024, 13, alphabet); // the line: ~100 KB/s

    std::atomic<int> connections { 0 };
    std::atomic<bool> go { false };
    // Each stream sends its second half only once the close has begun, so that the question
    // is asked while traffic is still under way however slowly the window runs.
    std::atomic<bool> closing { false };
    TcpPeer peer([&](TcpPeer &p, int fd) {
        const int index = connections++;
        const QByteArray &bytes = payload[index];
        if (p.waitUntil([&] { return go.load(); })
            && p.sendAll(fd, bytes.left(bytes.size() / 2), 2048, 10)
            && p.waitUntil([&] { return closing.load(); }))
            p.sendAll(fd, bytes.mid(bytes.size() / 2), 2048, 10);
        p.waitUntil([] { return false; });
    });
    WindowFixture fixture(WindowFixture::Start::Later);
    const TestEnvironment &env = fixture.env;
    QVERIFY(QDir().mkpath(env.logDirPath()));
    const QStringList earlier = TestEnvironment::runFiles("2020-01-01_00-00-00")
        << QStringLiteral("notes.txt");
    for (const QString &name : earlier)
        QVERIFY(writeFile(env.logDirPath() + '/' + name, name.toLatin1()));
    JoiningThread device([&] { closing = true; });
    fixture.start();
    QVERIFY(fixture.show());
    QCOMPARE(env.logFiles().size(), earlier.size() + 4);
    auto logSizes = [&] {
        QList<qint64> sizes;
        for (int channel = 0; channel < 4; ++channel)
            sizes << QFileInfo(fixture.logPath(channel)).size();
        return sizes;
    };
    const QList<qint64> complete { serialPayload.size(), size, size, size };

    for (int n = 1; n <= 3; ++n) {
        QVERIFY(fixture.connectTo(n, peer.port()));
        QTRY_COMPARE(connections.load(), n);
    }
    QVERIFY(fixture.open(serial));
    QVERIFY(fixture.status().startsWith("Connected to "));
    go = true;
    device.start([&] {
        for (int done = 0; done < serialPayload.size(); done += 512) {
            while (done >= serialPayload.size() / 2 && !closing)
                ::usleep(5000);
            fixture.pty.write(serialPayload.mid(done, 512));
            ::usleep(10000);
        }
    });
    QTRY_VERIFY(logSizes().at(1) > 0 && logSizes().at(0) > 0);

    // The question stays up until every stream has ended and been logged, or for 30 s.
    QElapsedTimer sinceClose;
    fixture.dialogs.setMessageBoxAnswer(QMessageBox::StandardButton(answer));
    fixture.dialogs.setAnswerCondition(
        [&] { return logSizes() == complete || sinceClose.elapsed() >= 30000; });
    QList<qint64> sizesAtAnswer;
    connect(&fixture.dialogs, &ModalDialogHelper::answered, this,
            [&] { sizesAtAnswer = logSizes(); });
    const QList<qint64> sizesAtClose = logSizes();
    closing = true;
    sinceClose.start();
    QVERIFY(fixture.window().close());
    auto join = [](const QList<qint64> &sizes) {
        QStringList texts;
        for (const qint64 size : sizes)
            texts << QString::number(size);
        return texts.join(QLatin1Char(' '));
    };
    qInfo("question up for %lld ms; log sizes at the close: %s, at the answer: %s",
          sinceClose.elapsed(), qPrintable(join(sizesAtClose)), qPrintable(join(sizesAtAnswer)));
    QCOMPARE(fixture.dialogs.titles(), QStringList { "TeskManager" });
    QCOMPARE(sizesAtAnswer, complete);
    for (int i = 0; i < 4; ++i)
        QVERIFY2(sizesAtClose[i] < complete[i], qPrintable(QString::number(i)));
    device.join();

    for (const QString &name : earlier)
        QCOMPARE(fileContents(env.logDirPath() + '/' + name), name.toLatin1());
    if (answer == QMessageBox::Yes) {
        QCOMPARE(env.logFiles().size(), earlier.size() + 4);
        for (int channel = 0; channel < 4; ++channel)
            QVERIFY(fixture.log(channel) == (channel ? payload[channel - 1] : serialPayload));
    } else {
        QStringList left = earlier;
        left.sort();
        QCOMPARE(env.logFiles(), left);
    }
    QVERIFY(QFileInfo(env.settingsPath()).isFile());
}

QTEST_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
