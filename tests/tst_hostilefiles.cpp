#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "pty.h"
#include "responsiveness.h"
#include "tcppeer.h"
#include "testdata.h"
#include "testenvironment.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QByteArray textAlphabet
    = "abcdefghijklmnopqrstuvwxyz0123456789 \n"; // untouched by the clean-up

const QString group = QStringLiteral("Setup_Parameter");
const QStringList periodBoxes { "SB_SerialTimerSecond", "SB_Network1TimerSecond",
                                "SB_Network2TimerSecond", "SB_Network3TimerSecond" };
const QStringList logSuffixes { "-serial.txt", "-network1.txt", "-network2.txt", "-network3.txt" };

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(contents), qint64(contents.size()));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

template<class T> T *widget(const MainWindow &window, const QString &name)
{
    return window.findChild<T *>(name);
}

QString status(const MainWindow &window)
{
    return widget<QStatusBar>(window, QStringLiteral("statusBar"))->currentMessage();
}

// What saveSettings should write for the window as it stands.
QVariantMap settingsShown(const MainWindow &window)
{
    QVariantMap values;
    const auto *port = widget<QComboBox>(window, "CB_SerialPort");
    values["port"] = port->currentIndex();
    values["portname"] = port->currentText();
    values["bandrate"] = widget<QComboBox>(window, "CB_BandRate")->currentIndex();
    values["serialtimermsecond"] = widget<QSpinBox>(window, "SB_SerialTimerSecond")->value();
    values["networkipaddress"] = widget<QLineEdit>(window, "LE_IPAddress1")->text();
    values["networkport"] = widget<QLineEdit>(window, "LE_Port1")->text();
    for (int n = 1; n <= 3; ++n)
        values[QStringLiteral("network%1timermsecond").arg(n)]
            = widget<QSpinBox>(window, QStringLiteral("SB_Network%1TimerSecond").arg(n))->value();
    return values;
}

// A file that any reader of the settings format takes in full and finds these values in.
void verifySettingsFile(const QString &path, const QVariantMap &expected)
{
    QVERIFY(QFileInfo(path).isFile());
    QSettings settings(path, QSettings::IniFormat);
    QCOMPARE(settings.status(), QSettings::NoError);
    settings.beginGroup(group);
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        const QVariant stored = settings.value(it.key());
        QVERIFY2(stored.isValid(), qPrintable(it.key()));
        if (it.value().type() == QVariant::Int)
            QCOMPARE(stored.toString(), QString::number(it.value().toInt()));
        else
            QCOMPARE(stored.toString(), it.value().toString());
    }
}

// Makes every write of this process past `bytes` into any file fail, as `ulimit -f` does: the
// write that crosses the limit stops short at it, the following ones fail outright.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { lift(); }
    bool isSet() const { return m_set; }
    void lift()
    {
        if (m_set)
            setrlimit(RLIMIT_FSIZE, &m_previous);
        m_set = false;
    }

private:
    rlimit m_previous {};
    bool m_set = false;
};

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
    void logFillsUp_data();
    void logFillsUp();
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
    TestEnvironment env;
    writeFile(env.settingsPath(), contents);
    ModalDialogHelper dialogs;
    dialogs.setMessageBoxAnswer(QMessageBox::No);
    QVariantMap atClose;
    {
        MainWindow window;
        QVariantMap shown {
            { "CB_BandRate", 0 },
            { "LE_IPAddress1", "192.168.1.100" },
            { "LE_Port1", "6001" },
        };
        for (const QString &box : periodBoxes)
            shown[box] = 1000;
        for (auto it = expected.begin(); it != expected.end(); ++it)
            shown[it.key()] = it.value();
        for (auto it = shown.begin(); it != shown.end(); ++it) {
            const QObject *w = window.findChild<QObject *>(it.key());
            QVariant actual;
            if (const auto *box = qobject_cast<const QComboBox *>(w))
                actual = box->currentIndex();
            else if (const auto *box = qobject_cast<const QSpinBox *>(w))
                actual = box->value();
            else if (const auto *edit = qobject_cast<const QLineEdit *>(w))
                actual = edit->text();
            QVERIFY2(
                actual == it.value(),
                qPrintable(it.key() + ": " + actual.toString() + " != " + it.value().toString()));
        }
        atClose = settingsShown(window);
        QVERIFY(window.close());
    }
    QCOMPARE(dialogs.count(), 1);
    verifySettingsFile(env.settingsPath(), atClose);
}

void TestHostileFiles::settingsPathNotAFile_data()
{
    QTest::addColumn<bool>("pipe");
    QTest::newRow("a directory") << false;
    QTest::newRow("a named pipe") << true;
}

void TestHostileFiles::settingsPathNotAFile()
{
    QFETCH(bool, pipe);
    TestEnvironment env;
    const QByteArray path = QFile::encodeName(env.settingsPath());
    if (pipe) {
        QVERIFY(::mkfifo(path.constData(), 0644) == 0);
    } else {
        QVERIFY(QDir().mkpath(env.settingsPath()));
        writeFile(env.settingsPath() + "/inside", "kept\n");
    }
    // Anyone who opens the pipe to read waits for a writer; after 3 s one comes by now and
    // then, so that a hang shows as a slow start instead of a test that never ends.
    struct Rescuer {
        std::atomic<bool> done { false };
        std::thread thread;
        ~Rescuer()
        {
            done = true;
            thread.join();
        }
    } rescuer;
    rescuer.thread = std::thread([&] {
        QElapsedTimer clock;
        clock.start();
        while (!rescuer.done) {
            ::usleep(50000);
            if (pipe && clock.elapsed() > 3000)
                ::close(::open(path.constData(), O_RDWR | O_NONBLOCK));
        }
    });
    ModalDialogHelper dialogs;
    dialogs.setMessageBoxAnswer(QMessageBox::No);
    QElapsedTimer clock;
    qint64 startUp = 0;
    qint64 shutDown = 0;
    {
        clock.start();
        MainWindow window;
        startUp = clock.restart();
        for (const QString &box : periodBoxes)
            QCOMPARE(widget<QSpinBox>(window, box)->value(), 1000);
        QCOMPARE(widget<QLineEdit>(window, "LE_Port1")->text(), QStringLiteral("6001"));
        clock.restart();
        QVERIFY(window.close());
        shutDown = clock.elapsed();
    }
    QCOMPARE(dialogs.count(), 1);
    QVERIFY2(startUp < 1000 && shutDown < 1000,
             qPrintable(QStringLiteral("start %1 ms, close %2 ms").arg(startUp).arg(shutDown)));
    // Nothing can be written there; nothing is destroyed and nothing is left behind either.
    const QFileInfo info(env.settingsPath());
    if (pipe) {
        QVERIFY(!info.isFile() && !info.isDir() && info.exists());
    } else {
        QVERIFY(info.isDir());
        QCOMPARE(readFile(env.settingsPath() + "/inside"), QByteArray("kept\n"));
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
    TestEnvironment env;
    const QString path = env.homePath() + '/' + obstacle;
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    if (link)
        QVERIFY(QFile::link(env.homePath() + "/nowhere/at/all", path));
    else
        writeFile(path, "in the way\n");

    TcpPeer peer([](TcpPeer &p, int fd) {
        p.sendAll(fd, "from the peer\n");
        p.waitUntil([] { return false; });
    });
    Pty pty;
    QVERIFY(pty.isValid());
    ModalDialogHelper dialogs;
    dialogs.setMessageBoxAnswer(QMessageBox::StandardButton(answer));
    {
        MainWindow window;
        window.show();
        const QString message = status(window);
        QVERIFY2(message.startsWith("Log file error: " + env.logDirPath() + '/')
                     && message.contains("-serial.txt: ") && !message.endsWith(": "),
                 qPrintable(message));

        // Every channel works on without its log.
        widget<QLineEdit>(window, "LE_IPAddress1")->setText("127.0.0.1");
        widget<QLineEdit>(window, "LE_Port1")->setText(QString::number(peer.port()));
        widget<QPushButton>(window, "PB_ConnectNetwork2")->click();
        QTRY_COMPARE(widget<QTextEdit>(window, "TE_Network2")->toPlainText(),
                     QStringLiteral("from the peer\n"));
        auto *ports = widget<QComboBox>(window, "CB_SerialPort");
        ports->addItem(pty.slavePath());
        ports->setCurrentIndex(ports->count() - 1);
        widget<QPushButton>(window, "PB_OpenSerialPort")->click();
        widget<QLineEdit>(window, "LE_SerialPortCmd")->setText("AT");
        widget<QPushButton>(window, "PB_SendSerialPort")->click();
        QVERIFY(pty.write("OK\r\n"));
        QTRY_COMPARE(widget<QTextEdit>(window, "TE_SerialPort")->toPlainText(),
                     QStringLiteral("AT\nOK\n")); // CR LF is one paragraph break
        // Told once, not at every append.
        QVERIFY2(status(window).startsWith("Connected to "), qPrintable(status(window)));
        QVERIFY(window.close());
    }
    QCOMPARE(dialogs.titles(), QStringList { "TeskManager" });
    // The obstacle is left as it was, whatever the answer.
    if (link)
        QCOMPARE(QFileInfo(path).symLinkTarget(), env.homePath() + "/nowhere/at/all");
    else
        QCOMPARE(readFile(path), QByteArray("in the way\n"));
    QVERIFY(QFileInfo(env.settingsPath()).isFile());
}

void TestHostileFiles::logFillsUp_data()
{
    QTest::addColumn<bool>("flood");
    QTest::newRow("a flood runs into the limit") << true;
    QTest::newRow("the last send crosses the limit") << false;
}

void TestHostileFiles::logFillsUp()
{
    QFETCH(bool, flood);
    const QByteArray text = plainText(256 * 1024, 3, textAlphabet);
    std::atomic<bool> go { false };
    std::atomic<int> connections { 0 };
    TcpPeer peer([&](TcpPeer &p, int fd) {
        if (connections++ == 0 && p.waitUntil([&] { return go.load(); }))
            p.sendAll(fd, text, 4096, 1);
        p.waitUntil([] { return false; });
    });
    TestEnvironment env;
    ModalDialogHelper dialogs;
    MainWindow window;
    window.show();
    widget<QLineEdit>(window, "LE_IPAddress1")->setText("127.0.0.1");
    widget<QLineEdit>(window, "LE_Port1")->setText(QString::number(peer.port()));
    widget<QPushButton>(window, "PB_ConnectNetwork1")->click();
    QTRY_COMPARE(connections.load(), 1); // the first connection is the one that floods
    widget<QPushButton>(window, "PB_ConnectNetwork3")->click();
    QVERIFY(widget<QPushButton>(window, "PB_ConnectNetwork1")->isChecked());
    QVERIFY(status(window).startsWith("connected"));
    const QString logPath = env.logDirPath() + '/' + env.logFiles().at(0);
    QVERIFY(logPath.endsWith("-network1.txt"));

    // The limit is set only while nothing but the logs writes: the test's own output may be a
    // file as well.
    const rlim_t limit = flood ? 64 * 1024 : 100;
    QString messageAtLimit;
    QString shownAtLimit;
    bool allShown = true;
    {
        FileSizeLimit fileSize(limit);
        QVERIFY(fileSize.isSet());
        if (flood) {
            go = true;
            allShown = QTest::qWaitFor(
                [&] {
                    return widget<QTextEdit>(window, "TE_Network1")
                        ->toPlainText()
                        .endsWith(QString::fromLatin1(text.right(50)));
                },
                30000);
        } else {
            widget<QLineEdit>(window, "LE_Network1Cmd")->setText(QStringLiteral("x").repeated(60));
            widget<QPushButton>(window, "PB_SendNetwork1")->click(); // 61 bytes, fits
            widget<QPushButton>(window, "PB_SendNetwork1")->click(); // crosses the limit
        }
        messageAtLimit = status(window);
        shownAtLimit = widget<QTextEdit>(window, "TE_Network1")->toPlainText();
        // Another channel's log is a file of its own, below the limit.
        widget<QLineEdit>(window, "LE_Network3Cmd")->setText("other");
        widget<QPushButton>(window, "PB_SendNetwork3")->click();
    }

    QVERIFY(allShown);
    const QByteArray log = readFile(logPath);
    QCOMPARE(qint64(log.size()), qint64(limit));
    // The message gives the reason, also when the write that met the limit got partly through.
    QCOMPARE(messageAtLimit,
             "Log file error: " + logPath + ": " + QString::fromLocal8Bit(strerror(EFBIG)));
    // The log holds the start of what the view gained.
    if (flood) {
        QVERIFY(text.startsWith(log));
        QVERIFY(shownAtLimit.endsWith(QString::fromLatin1(text.right(1000))));
    } else {
        QCOMPARE(log, QByteArray("x").repeated(60) + '\n' + QByteArray("x").repeated(39));
        QCOMPARE(shownAtLimit, (QString(60, 'x') + '\n').repeated(2));
    }
    QCOMPARE(env.logContents("-network3.txt"), QByteArray("other\n"));
    // Told once; the view goes on.
    widget<QLineEdit>(window, "LE_Network1Cmd")->setText(QStringLiteral("after"));
    widget<QPushButton>(window, "PB_SendNetwork1")->click();
    QVERIFY(widget<QTextEdit>(window, "TE_Network1")->toPlainText().endsWith("after\n"));
    QCOMPARE(status(window), messageAtLimit);
    QCOMPARE(dialogs.count(), 0);
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
    const QByteArray payload[]
        = { plainText(size, 10, textAlphabet), plainText(size, 11, textAlphabet),
            plainText(size, 12, textAlphabet) };
    const QByteArray serialPayload
        = plainText(48 * 1024, 13, textAlphabet); // the line moves ~100 KB/s

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
    TestEnvironment env;
    QVERIFY(QDir().mkpath(env.logDirPath()));
    QStringList earlier;
    for (const QString &suffix : logSuffixes)
        earlier << "2020-01-01_00-00-00" + suffix;
    earlier << "notes.txt";
    for (const QString &name : earlier)
        writeFile(env.logDirPath() + '/' + name, name.toLatin1());
    Pty pty;
    QVERIFY(pty.isValid());

    QStringList thisRun;
    QList<qint64> sizesAtClose;
    QList<qint64> sizesAtAnswer;
    ResponsivenessProbe probe;
    std::thread device;
    // Released and joined however the test ends.
    struct Joiner {
        std::thread &thread;
        std::atomic<bool> &closing;
        ~Joiner()
        {
            closing = true;
            if (thread.joinable())
                thread.join();
        }
    } joiner { device, closing };
    {
        MainWindow window;
        window.show();
        for (const QString &name : env.logFiles())
            if (!earlier.contains(name))
                thisRun << name;
        QCOMPARE(thisRun.size(), 4);
        auto logSizes = [&] {
            QList<qint64> sizes;
            for (const QString &suffix : logSuffixes)
                for (const QString &name : thisRun)
                    if (name.endsWith(suffix))
                        sizes << QFileInfo(env.logDirPath() + '/' + name).size();
            return sizes;
        };
        const QList<qint64> complete { serialPayload.size(), size, size, size };

        widget<QLineEdit>(window, "LE_IPAddress1")->setText("127.0.0.1");
        widget<QLineEdit>(window, "LE_Port1")->setText(QString::number(peer.port()));
        for (int n = 1; n <= 3; ++n) {
            widget<QPushButton>(window, QStringLiteral("PB_ConnectNetwork%1").arg(n))->click();
            QTRY_COMPARE(connections.load(), n);
        }
        auto *ports = widget<QComboBox>(window, "CB_SerialPort");
        ports->addItem(pty.slavePath());
        ports->setCurrentIndex(ports->count() - 1);
        widget<QPushButton>(window, "PB_OpenSerialPort")->click();
        QVERIFY(status(window).startsWith("Connected to "));

        go = true;
        device = std::thread([&] {
            for (int done = 0; done < serialPayload.size(); done += 512) {
                while (done >= serialPayload.size() / 2 && !closing)
                    ::usleep(5000);
                pty.write(serialPayload.mid(done, 512));
                ::usleep(10000);
            }
        });
        QTRY_VERIFY(logSizes().at(1) > 0 && logSizes().at(0) > 0);

        // The question stays up until every stream has ended and been logged, or for 30 s.
        std::unique_ptr<ModalDialogHelper> dialogs;
        QElapsedTimer sinceClose;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (dialogs || (logSizes() != complete && sinceClose.elapsed() < 30000))
                return;
            dialogs = std::make_unique<ModalDialogHelper>();
            dialogs->setMessageBoxAnswer(QMessageBox::StandardButton(answer));
            connect(dialogs.get(), &ModalDialogHelper::answered, this,
                    [&] { sizesAtAnswer = logSizes(); });
        });
        watch.start(20);
        sizesAtClose = logSizes();
        closing = true;
        sinceClose.start();
        probe.start();
        QVERIFY(window.close());
        probe.stop();
        watch.stop();
        auto join = [](const QList<qint64> &sizes) {
            QStringList texts;
            for (const qint64 size : sizes)
                texts << QString::number(size);
            return texts.join(QLatin1Char(' '));
        };
        qInfo("question up for %lld ms, worst probe lateness %lld ms; log sizes at the close: "
              "%s, at the answer: %s",
              sinceClose.elapsed(), probe.worstLatenessMs(), qPrintable(join(sizesAtClose)),
              qPrintable(join(sizesAtAnswer)));
        QVERIFY(dialogs);
        QCOMPARE(dialogs->titles(), QStringList { "TeskManager" });
        QCOMPARE(sizesAtAnswer, complete);
        for (int i = 0; i < 4; ++i)
            QVERIFY2(sizesAtClose[i] < complete[i], qPrintable(QString::number(i)));
    }
    device.join();

    QVERIFY2(probe.worstLatenessMs() <= maxLatenessMs,
             qPrintable(QString::number(probe.worstLatenessMs())));
    for (const QString &name : earlier)
        QCOMPARE(readFile(env.logDirPath() + '/' + name), name.toLatin1());
    if (answer == QMessageBox::Yes) {
        QCOMPARE(env.logFiles().size(), earlier.size() + 4);
        QCOMPARE(env.logContents("-serial.txt"), serialPayload);
        for (int n = 1; n <= 3; ++n)
            QVERIFY(env.logContents(QStringLiteral("-network%1.txt").arg(n)) == payload[n - 1]);
    } else {
        QStringList left = earlier;
        left.sort();
        QCOMPARE(env.logFiles(), left);
    }
    QVERIFY(QFileInfo(env.settingsPath()).isFile());
}

QTEST_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
