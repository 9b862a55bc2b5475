#include "channelfixture.h"
#include "filesizelimit.h"
#include "tcppeer.h"
#include "testdata.h"
#include "viewchecks.h"

#include <QDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

Q_DECLARE_METATYPE(Timestamps)

namespace {

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
    void runPrefix_data();
    void runPrefix();
    void failedWriteReportedOnce();
    void timestamps_data();
    void timestamps();
    void logFillsUp_data();
    void logFillsUp();
};

void ChannelLogTest::runPrefix_data()
{
    QTest::addColumn<QStringList>("taken"); // appended to the run stamp
    QTest::addColumn<QString>("expectedSuffix");
    QTest::newRow("no run in that second") << QStringList() << "";
    QTest::newRow("a run in the same second") << TestEnvironment::logSuffixes << "_2";
    QTest::newRow("one of the four names taken") << QStringList { "-network3.txt" } << "_2";
    QTest::newRow("a name of the _2 run taken as well")
        << QStringList { "-serial.txt", "_2-network2.txt" } << "_3";
}

// A run's four logs start with the stamp of its start; a run that would take a name of an
// earlier one moves as a whole, and never writes over it.
void ChannelLogTest::runPrefix()
{
    QFETCH(QStringList, taken);
    QFETCH(QString, expectedSuffix);
    TestEnvironment env;
    const QString folder = env.logDirPath();
    QVERIFY(QDir().mkpath(folder));
    const QString stamp = QStringLiteral("2031-05-06_07-08-09");
    for (const QString &name : taken)
        QVERIFY(writeFile(folder + '/' + stamp + name, "taken\n"));

    QCOMPARE(ChannelLog::runPrefix(folder, TestEnvironment::logSuffixes,
                                   QDateTime(QDate(2031, 5, 6), QTime(7, 8, 9, 500))),
             folder + '/' + stamp + expectedSuffix);
    for (const QString &name : taken)
        QCOMPARE(fileContents(folder + '/' + stamp + name), QByteArray("taken\n"));
}

void ChannelLogTest::failedWriteReportedOnce()
{
    ChannelFixture fixture;
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
    QTest::addColumn<Timestamps>("timestamps");
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QStringList>("steps"); // "<" received, ">" sent
    QTest::addColumn<QString>("logged"); // @ stands for a time stamp
    const Timestamps log = Timestamps::Log;
    QTest::newRow("received lines, one split between arrivals")
        << log << 1 << false << QStringList { "<one\ntw", "<o\n" } << "@ RX one\n@ RX two\n";
    QTest::newRow("sent commands")
        << log << 2 << false << QStringList { ">AT", ">ATI" } << "@ TX AT\n@ TX ATI\n";
    QTest::newRow("a direction change inside a line")
        << log << 3 << false << QStringList { "<part", ">AT", "<rest\n" }
        << "@ RX part\n@ TX AT\n@ RX rest\n";
    QTest::newRow("each hex block on its own line")
        << log << int(serial) << true << QStringList { "<AB", "<C", ">41" }
        << "@ RX 41 42 \n@ RX 43 \n@ TX 41\n";
    QTest::newRow("in the view as well")
        << Timestamps::View << 1 << false << QStringList { ">AT", "<OK\n" } << "@ TX AT\n@ RX OK\n";
    QTest::newRow("off") << Timestamps::Off << 1 << false << QStringList { ">AT", "<OK" }
                         << "AT\nOK";
}

void ChannelLogTest::timestamps()
{
    QFETCH(Timestamps, timestamps);
    QFETCH(int, channel);
    QFETCH(bool, hex);
    QFETCH(QStringList, steps);
    QFETCH(QString, logged);
    // Each reading of the clock is 400 ms after the one before: the run crosses seconds.
    QDateTime time(QDate(2026, 12, 8), QTime(14, 3, 7, 325));
    ChannelFixture fixture([&time] { return time = time.addMSecs(400); });
    fixture.channel(channel).setTimestamps(timestamps);
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
    if (timestamps == Timestamps::View)
        QCOMPARE(view.remove(QRegularExpression(stamp + " (RX|TX) ")),
                 logged.remove("@ RX ").remove("@ TX "));
    else
        QCOMPARE(view, shown);
}

void ChannelLogTest::logFillsUp_data()
{
    QTest::addColumn<bool>("flood");
    QTest::newRow("a flood runs into the limit") << true;
    QTest::newRow("the last send crosses the limit") << false;
}

void ChannelLogTest::logFillsUp()
{
    QFETCH(bool, flood);
    const QByteArray text = plainText(256 * 1024, 3, plainAlphabet + '\n');
    std::atomic<bool> go { false };
    std::atomic<int> connections { 0 };
    TcpPeer peer([&](TcpPeer &p, int fd) {
        if (connections++ == 0 && p.waitUntil([&] { return go.load(); }))
            p.sendAll(fd, text, 4096, 1);
        p.waitUntil([] { return false; });
    });
    ChannelFixture fixture;
    QVERIFY(fixture.show());
    QVERIFY(fixture.connectTo(1, peer.port()));
    QTRY_COMPARE(connections.load(), 1); // the first connection is the one that floods
    QVERIFY(fixture.connectTo(3, peer.port()));
    QVERIFY(fixture.status().startsWith("connected"));
    const QString logPath = fixture.logPath(1);

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
                [&] { return fixture.shown(1).endsWith(QString::fromLatin1(text.right(50))); },
                30000);
        } else {
            fixture.send(1, QStringLiteral("x").repeated(60)); // 61 bytes, fits
            fixture.press(1, ChannelFixture::Button::Send); // crosses the limit
        }
        messageAtLimit = fixture.status();
        shownAtLimit = fixture.shown(1);
        // Another channel's log is a file of its own, below the limit.
        fixture.send(3, "other");
    }

    QVERIFY(allShown);
    const QByteArray log = fileContents(logPath);
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
    QCOMPARE(fixture.log(3), QByteArray("other\n"));
    // Told once; the view goes on.
    fixture.send(1, QStringLiteral("after"));
    QVERIFY(fixture.shown(1).endsWith("after\n"));
    QCOMPARE(fixture.status(), messageAtLimit);
    QCOMPARE(fixture.dialogs.count(), 0);
    // Writing works again: the gap is told in a line of its own, never joined silently.
    const qint64 lost = flood ? text.size() - qint64(limit) : 61 - 39;
    const QString tail = QString::fromLocal8Bit(fixture.log(1).mid(int(limit)));
    const QRegularExpression gapNote(
        QStringLiteral("^\n?--- %1 bytes of traffic from [-0-9: ]{19} to [-0-9: ]{19} could not be "
                       "logged: %2 ---\nafter\n$")
            .arg(lost)
            .arg(QRegularExpression::escape(QString::fromLocal8Bit(strerror(EFBIG)))));
    QVERIFY2(gapNote.match(tail).hasMatch(), qPrintable(tail));
}

QTEST_MAIN(ChannelLogTest)
#include "tst_channellog.moc"
