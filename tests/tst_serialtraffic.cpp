#include "corefixture.h"
#include "joiningthread.h"
#include "responsiveness.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <unistd.h>

class TestSerialTraffic : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(Pty().isValid(), "no pseudo-terminal available"); }
    void burstShownAsOneBlock_data();
    void burstShownAsOneBlock();
    void quietLineSeparatesBlocks_data();
    void quietLineSeparatesBlocks();
    void modeSwitchDuringBurst();
    void streamingDeviceShownInBlocks();
    void intakeCutsBlocks_data();
    void intakeCutsBlocks();
    void repeatedPolls_data();
    void repeatedPolls();
    void send_data();
    void send();
    void periodicSend();
    void failedSendNotCounted_data();
    void failedSendNotCounted();
    void clearResetsViewAndCounters();
};

void TestSerialTraffic::burstShownAsOneBlock_data()
{
    QTest::addColumn<bool>("hexMode");
    QTest::addColumn<QByteArrayList>("pieces"); // each taken by its own poll
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("logged"); // empty: as shown

    QTest::newRow("text in one poll") << false << QByteArrayList { "hello" } << "hello"
                                      << "";
    QTest::newRow("text over three polls")
        << false << QByteArrayList { "hel", "lo wor", "ld" } << "hello world"
        << "";
    QTest::newRow("zero byte shows as the NUL symbol")
        << false << QByteArrayList { QByteArray("A\0B", 3) } << "A\u2400B"
        << "";
    // The view tidies terminal noise; the log keeps every byte.
    QTest::newRow("0A in text stays text")
        << false << QByteArrayList { "REG 0A = 5" } << "REG 0A = 5"
        << "";
    QTest::newRow("CR CR, view only") << false << QByteArrayList { "A\r\rB" } << "AB"
                                      << "A\r\rB";
    QTest::newRow("erase echo, view only") << false << QByteArrayList { "x\b \by" } << "xy"
                                           << "x\b \by";
    QTest::newRow("four CRs, view only") << false << QByteArrayList { "10\r\r\r\r20" } << "1020"
                                         << "10\r\r\r\r20";
    QTest::newRow("hex, line feed keeps its pair and ends the line")
        << true << QByteArrayList { "\x4F\x4B", "\x0D\x0A" } << "4F 4B 0D 0A\n"
        << "";
    QTest::newRow("hex, one pair per byte")
        << true << QByteArrayList { QByteArray("\x01\x0A\x0A\x02\x0D\x0A") }
        << "01 0A\n0A\n02 0D 0A\n"
        << "";
    QTest::newRow("hex, high bytes")
        << true << QByteArrayList { "\x01\x7F\xAB\xFF" } << "01 7F AB FF "
        << "";
}

void TestSerialTraffic::burstShownAsOneBlock()
{
    QFETCH(bool, hexMode);
    QFETCH(QByteArrayList, pieces);
    QFETCH(QString, shown);
    QFETCH(QString, logged);

    CoreFixture fixture;
    QVERIFY(fixture.open(serial, hexMode));
    for (const QByteArray &piece : pieces)
        QVERIFY(fixture.collect(piece));
    QCOMPARE(fixture.shown(serial), QString());
    fixture.resumePolling();

    QTRY_COMPARE(fixture.received(serial), 1);
    // The channel hands on what it logs; only the view tidies terminal noise.
    QCOMPARE(fixture.shown(serial), logged.isEmpty() ? shown : logged);
    QCOMPARE(fixture.log(serial), (logged.isEmpty() ? shown : logged).toUtf8());
}

void TestSerialTraffic::quietLineSeparatesBlocks_data()
{
    QTest::addColumn<QByteArray>("second"); // empty: the user acts after the first block
    QTest::addColumn<QString>("then");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("logged");
    QTest::newRow("two blocks") << QByteArray("two") << ""
                                << "onetwo"
                                << "onetwo";
    QTest::newRow("character split between blocks") << QByteArray("\xa9!") << ""
                                                    << "one\u00e9!"
                                                    << "one\u00e9!";
    QTest::newRow("unfinished character at a mode switch") << QByteArray() << "hex"
                                                           << "one\ufffd"
                                                           << "one\ufffd";
    QTest::newRow("unfinished character at a clear") << QByteArray() << "clear"
                                                     << ""
                                                     << "one\ufffd";
    QTest::newRow("unfinished character at the close") << QByteArray() << "close"
                                                       << "one\ufffd"
                                                       << "one\ufffd";
}

void TestSerialTraffic::quietLineSeparatesBlocks()
{
    QFETCH(QByteArray, second);
    QFETCH(QString, then);
    QFETCH(QString, shown);
    QFETCH(QString, logged);
    CoreFixture fixture;
    QVERIFY(fixture.open(serial));
    QVERIFY(fixture.pty.write(second == "two" ? "one" : "one\xc3"));
    QTRY_COMPARE(fixture.received(serial), 1);
    if (!second.isEmpty()) {
        QVERIFY(fixture.pty.write(second));
        QTRY_COMPARE(fixture.received(serial), 2);
    } else if (then == "hex") {
        fixture.setHexMode(serial, true);
    } else if (then == "clear") {
        fixture.channel(serial).clear();
    } else {
        fixture.serial().close();
    }
    QCOMPARE(fixture.shown(serial), shown);
    QCOMPARE(fixture.log(serial), logged.toLocal8Bit());
}

void TestSerialTraffic::modeSwitchDuringBurst()
{
    CoreFixture fixture;
    QVERIFY(fixture.open(serial));
    QVERIFY(fixture.collect("AB"));
    fixture.setHexMode(serial, true);
    QVERIFY(fixture.collect("C"));
    fixture.resumePolling();

    QTRY_COMPARE(fixture.received(serial), 1);
    QCOMPARE(fixture.shown(serial), QStringLiteral("41 42 43 "));
}

void TestSerialTraffic::streamingDeviceShownInBlocks()
{
    CoreFixture fixture;
    QVERIFY(fixture.open(serial));
    // A busy machine may leave the device's thread asleep for longer than the quiet period now
    // and then, which ends a block as it should; the quiet period is made longer than any such
    // pause, so that only the block size ends one here.
    fixture.pollTimer()->setInterval(500);
    // A device that never pauses for a poll period: 32 bytes every millisecond, until 200 ms
    // after the first block is shown (5 s at most).
    std::atomic<bool> streaming { true };
    std::atomic<bool> blockShown { false };
    std::atomic<qint64> streamed { 0 };
    JoiningThread device;
    device.start([&] {
        const QByteArray chunk = "0123456789abcdefghijklmnopqrstuv";
        QElapsedTimer clock;
        clock.start();
        qint64 end = 5000;
        while (clock.elapsed() < end && fixture.pty.write(chunk)) {
            streamed += chunk.size();
            if (blockShown && end == 5000)
                end = clock.elapsed() + 200;
            usleep(1000);
        }
        streaming = false;
    });

    bool shownWhileStreaming = false;
    int firstBlockSize = 0;
    const bool shown = QTest::qWaitFor([&] {
        if (fixture.received(serial) < 1)
            return false;
        firstBlockSize = fixture.shown(serial).size();
        shownWhileStreaming = streaming;
        blockShown = true;
        return true;
    });
    // The channel must go on reading while the device finishes, or its writes would block.
    const bool finished = QTest::qWaitFor([&] { return !streaming; }, 10000);
    device.join();

    QVERIFY(finished);
    QVERIFY(shown);
    QVERIFY(shownWhileStreaming);
    QCOMPARE(firstBlockSize, 4096);
    // Nothing is lost across the blocks; the view only adds its own paragraph breaks.
    QTRY_COMPARE(qint64(fixture.shown(serial).remove(QLatin1Char('\n')).size()), qint64(streamed));
    QCOMPARE(qint64(fixture.log(serial).size()), qint64(streamed));
}

void TestSerialTraffic::intakeCutsBlocks_data()
{
    QTest::addColumn<int>("chunks"); // written one after another by the device
    QTest::addColumn<int>("chunkSize");
    QTest::addColumn<int>("gapMs"); // between two chunks
    QTest::addColumn<QList<int>>("blocks"); // the sizes shown, in order
    QTest::newRow("one burst") << 1 << 100 << 0 << QList<int> { 100 };
    QTest::newRow("exactly one full block") << 1 << 4096 << 0 << QList<int> { 4096 };
    QTest::newRow("one byte over a block") << 1 << 4097 << 0 << QList<int> { 4096, 1 };
    QTest::newRow("trickle faster than 10 ms") << 5 << 1 << 1 << QList<int> { 5 };
    QTest::newRow("trickle slower than 10 ms") << 3 << 1 << 80 << QList<int> { 1, 1, 1 };
}

// A block ends when the line has been quiet for 10 ms or holds 4096 bytes, whatever the pace.
void TestSerialTraffic::intakeCutsBlocks()
{
    QFETCH(int, chunks);
    QFETCH(int, chunkSize);
    QFETCH(int, gapMs);
    QFETCH(QList<int>, blocks);
    CoreFixture fixture;
    QVERIFY(fixture.open(serial));
    // Nothing runs while the line is quiet; a block that the quiet ends takes one tick.
    QTimer *quiet = fixture.pollTimer();
    QVERIFY(quiet->isSingleShot() && !quiet->isActive());
    QCOMPARE(quiet->interval(), 10);
    QSignalSpy ticks(quiet, &QTimer::timeout);
    QList<int> shown;
    qint64 logged = 0;
    const QObject watching;
    QObject::connect(&fixture.serial(), &Channel::countsChanged, &watching, [&] {
        const qint64 size = QFileInfo(fixture.logPath(serial)).size();
        shown << int(size - logged);
        logged = size;
    });
    JoiningThread device;
    device.start([&] {
        for (int i = 0; i < chunks; ++i) {
            if (i > 0)
                usleep(useconds_t(gapMs) * 1000);
            fixture.pty.write(QByteArray(chunkSize, char('a' + i % 26)));
        }
    });
    const int total = chunks * chunkSize;
    QTRY_VERIFY(logged == total && !fixture.pollTimer()->isActive());
    device.join();
    QCOMPARE(shown, blocks);
    QCOMPARE(ticks.count(), int(std::count_if(blocks.begin(), blocks.end(), [](int size) {
                 return size < maxSerialBlock;
             })));
}

void TestSerialTraffic::repeatedPolls_data()
{
    QTest::addColumn<bool>("closeFirst");
    QTest::newRow("closed port") << true;
    QTest::newRow("open, quiet port") << false;
}

void TestSerialTraffic::repeatedPolls()
{
    QFETCH(bool, closeFirst);
    CoreFixture fixture;
    QVERIFY(fixture.open(serial));
    QVERIFY(fixture.collect("late"));
    if (closeFirst) {
        fixture.serial().close();
        QVERIFY(!fixture.serialPort()->isOpen());
    }

    for (int i = 0; i < 20; ++i)
        fixture.serial().endBlock();

    // What had arrived before was shown by the first of them: a poll that finds nothing new
    // ends the block.
    QCOMPARE(fixture.shown(serial), QStringLiteral("late"));
    QCOMPARE(fixture.received(serial), 1);
}

void TestSerialTraffic::send_data()
{
    QTest::addColumn<bool>("hexMode");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("written"); // empty: nothing may be written, sent or shown
    QTest::addColumn<QString>("lineEnding"); // as --line-ending names it; empty: LF

    QTest::newRow("ascii") << false << "AT" << QByteArray("AT\n") << QString();
    QTest::newRow("ascii keeps spaces") << false << " AT " << QByteArray(" AT \n") << QString();
    QTest::newRow("ascii empty") << false << "" << QByteArray("\n") << QString();
    QTest::newRow("ascii 0A stays text")
        << false << "SET 0A 1" << QByteArray("SET 0A 1\n") << QString();
    QTest::newRow("hex pairs, either case")
        << true << " 01 a0 FF " << QByteArray("\x01\xA0\xFF") << QString();
    QTest::newRow("hex 0A stays as typed") << true << "0A 0D" << QByteArray("\n\r") << QString();
    QTest::newRow("hex bytes written 0x..")
        << true << "0x41 0X42,0x3" << QByteArray("AB\x03") << QString();
    QTest::newRow("hex with colons") << true << "41:42" << QByteArray("AB") << QString();
    QTest::newRow("hex without digits") << true << "   " << QByteArray() << QString();
    QTest::newRow("hex with a point") << true << "41.42" << QByteArray() << QString();
    QTest::newRow("hex with an odd digit") << true << "01 a0 FF 4" << QByteArray() << QString();
    QTest::newRow("ascii, CR") << false << "AT" << QByteArray("AT\r") << "CR";
    QTest::newRow("ascii, CRLF") << false << "AT" << QByteArray("AT\r\n") << "CRLF";
    QTest::newRow("ascii, nothing") << false << "AT" << QByteArray("AT") << "None";
    QTest::newRow("hex gets no line end") << true << "41" << QByteArray("A") << "CRLF";
}

void TestSerialTraffic::send()
{
    QFETCH(bool, hexMode);
    QFETCH(QString, command);
    QFETCH(QByteArray, written);
    QFETCH(QString, lineEnding);

    CoreFixture fixture;
    fixture.serial().setLineEnding(lineEndingFromText(lineEnding).value_or(LineEnding::LF));
    QVERIFY(fixture.open(serial, hexMode));
    fixture.send(serial, command);

    if (written.isEmpty()) {
        QCOMPARE(fixture.failures(serial).size(), 1);
        QVERIFY2(fixture.failures(serial).first().startsWith(QLatin1String("the command")),
                 qPrintable(fixture.failures(serial).first()));
        QCOMPARE(fixture.sent(serial), 0);
        QCOMPARE(fixture.shown(serial), QString());
        QCOMPARE(fixture.log(serial), QByteArray());
        // Nothing went out ahead of the next good command, which fails in nothing.
        fixture.send(serial, QStringLiteral("41"));
        QTRY_COMPARE(fixture.written(serial), QByteArray("A"));
        QCOMPARE(fixture.failures(serial).size(), 1);
        return;
    }
    QCOMPARE(fixture.sent(serial), 1);
    QCOMPARE(fixture.shown(serial), command + QLatin1Char('\n'));
    QCOMPARE(fixture.log(serial), (command + QLatin1Char('\n')).toUtf8());
    QTRY_COMPARE(fixture.written(serial), written);
}

void TestSerialTraffic::periodicSend()
{
    CoreFixture fixture;
    QVERIFY(fixture.open(serial));
    // The sends wait for Start.
    QVERIFY(!fixture.sendTimer(serial)->isActive() && !fixture.sendTimer(serial)->isSingleShot());
    fixture.startPeriodicSend(serial, QStringLiteral("P"), 100);
    QCOMPARE(fixture.periodicSend(serial), QStringLiteral("running"));
    QCOMPARE(fixture.sendTimer(serial)->interval(), 100);

    QTRY_VERIFY(fixture.written(serial).startsWith("P\nP\nP\n"));
    QVERIFY(fixture.sent(serial) >= 3);

    fixture.serial().close(); // closing stops it
    QCOMPARE(fixture.periodicSend(serial), QStringLiteral("off"));
    const int sentAtClose = fixture.sent(serial);
    QVERIFY(passMarker(2 * fixture.sendTimer(serial)->interval())); // behind a tick still due
    QCOMPARE(fixture.sent(serial), sentAtClose);
    QCOMPARE(fixture.failures(serial), QStringList());
}

void TestSerialTraffic::failedSendNotCounted_data()
{
    QTest::addColumn<bool>("writeFails"); // else the command is no hex command
    QTest::addColumn<bool>("periodic");
    QTest::newRow("write fails, Send button") << true << false;
    QTest::newRow("write fails during a periodic send") << true << true;
    QTest::newRow("periodic send meets a hex command without digits") << false << true;
}

void TestSerialTraffic::failedSendNotCounted()
{
    QFETCH(bool, writeFails);
    QFETCH(bool, periodic);
    CoreFixture fixture;
    QVERIFY(fixture.open(serial, !writeFails));
    QSerialPort *port = fixture.serialPort();
    if (writeFails) {
        // Reopened read-only behind the channel's back: open, yet every write fails.
        port->close();
        QVERIFY(port->open(QIODevice::ReadOnly));
        QTest::ignoreMessage(QtWarningMsg,
                             "QIODevice::write (QSerialPort, \"serialPort\"): ReadOnly device");
    }
    const int sentBefore = fixture.sent(serial);
    if (periodic) {
        fixture.startPeriodicSend(serial, QStringLiteral("ping"), 100);
        QCOMPARE(fixture.periodicSend(serial), QStringLiteral("running"));
    } else {
        fixture.send(serial, QStringLiteral("ping"));
    }

    QTRY_VERIFY(!fixture.failures(serial).isEmpty());
    if (writeFails)
        QCOMPARE(fixture.failures(serial).first(), port->errorString());
    QCOMPARE(fixture.sent(serial), sentBefore);
    QCOMPARE(fixture.shown(serial), QString());
    QVERIFY(fixture.log(serial).isEmpty());
    QCOMPARE(fixture.periodicSend(serial), QStringLiteral("off"));
}

void TestSerialTraffic::clearResetsViewAndCounters()
{
    CoreFixture fixture;
    QVERIFY(fixture.open(serial));
    fixture.send(serial, QStringLiteral("AT"));
    QVERIFY(fixture.pty.write("OK"));
    QTRY_COMPARE(fixture.received(serial), 1);

    fixture.channel(serial).clear();
    QCOMPARE(fixture.sent(serial), 0);
    QCOMPARE(fixture.received(serial), 0);
    QCOMPARE(fixture.shown(serial), QString());
    QCOMPARE(fixture.log(serial), QByteArray("AT\nOK"));
    QVERIFY(fixture.serialPort()->isOpen());
}

QTEST_GUILESS_MAIN(TestSerialTraffic)
#include "tst_serialtraffic.moc"
