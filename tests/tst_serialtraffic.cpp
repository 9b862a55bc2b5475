#include "modaldialoghelper.h"
#include "serialbench.h"

#include <QElapsedTimer>
#include <QSpinBox>

#include <atomic>
#include <thread>
#include <unistd.h>

namespace {

// Opens the channel on the pty before the test starts.
struct OpenSerialBench : SerialBench {
    OpenSerialBench() { openButton()->click(); }
};

} // namespace

class TestSerialTraffic : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void burstShownAsOneBlock_data();
    void burstShownAsOneBlock();
    void quietLineSeparatesBlocks_data();
    void quietLineSeparatesBlocks();
    void modeSwitchDuringBurst();
    void streamingDeviceShownInBlocks();
    void closedPortPollDoesNotBlock();
    void send_data();
    void send();
    void refusedWhileClosed_data();
    void refusedWhileClosed();
    void periodicSend();
    void failedSendNotCounted_data();
    void failedSendNotCounted();
    void clearResetsViewAndCounters();
};

void TestSerialTraffic::initTestCase()
{
    Pty pty;
    QVERIFY2(pty.isValid(), "no pseudo-terminal available");
}

void TestSerialTraffic::burstShownAsOneBlock_data()
{
    QTest::addColumn<bool>("hexMode");
    QTest::addColumn<QByteArrayList>("pieces"); // each taken by its own poll
    QTest::addColumn<QString>("shown");

    QTest::newRow("text in one poll") << false << QByteArrayList { "hello" } << "hello";
    QTest::newRow("text over three polls")
        << false << QByteArrayList { "hel", "lo wor", "ld" } << "hello world";
    QTest::newRow("zero byte shows as the NUL symbol")
        << false << QByteArrayList { QByteArray("A\0B", 3) } << "A\u2400B";
    QTest::newRow("hex, line feed breaks the line")
        << true << QByteArrayList { "\x4F\x4B", "\x0D\x0A" } << "4F 4B 0D \n";
    QTest::newRow("hex, high bytes")
        << true << QByteArrayList { "\x01\x7F\xAB\xFF" } << "01 7F AB FF ";
}

void TestSerialTraffic::burstShownAsOneBlock()
{
    QFETCH(bool, hexMode);
    QFETCH(QByteArrayList, pieces);
    QFETCH(QString, shown);

    OpenSerialBench bench;
    bench.setHexMode(hexMode);
    for (const QByteArray &piece : pieces)
        QVERIFY(bench.collect(piece));
    QCOMPARE(bench.view(), QString());
    bench.resumePolling();

    QTRY_COMPARE(bench.received(), QStringLiteral("1"));
    QCOMPARE(bench.view(), shown);
    QCOMPARE(bench.log(), shown.toUtf8());
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
    OpenSerialBench bench;
    QVERIFY(bench.pty.write(second == "two" ? "one" : "one\xc3"));
    QTRY_COMPARE(bench.received(), QStringLiteral("1"));
    if (!second.isEmpty()) {
        QVERIFY(bench.pty.write(second));
        QTRY_COMPARE(bench.received(), QStringLiteral("2"));
    } else if (then == "hex") {
        bench.setHexMode(true);
    } else if (then == "clear") {
        bench.widget<QPushButton>("PB_ClearSerialPort")->click();
    } else {
        bench.openButton()->click();
    }
    QCOMPARE(bench.view(), shown);
    QCOMPARE(bench.log(), logged.toLocal8Bit());
}

void TestSerialTraffic::modeSwitchDuringBurst()
{
    OpenSerialBench bench;
    QVERIFY(bench.collect("AB"));
    bench.setHexMode(true);
    QVERIFY(bench.collect("C"));
    bench.resumePolling();

    QTRY_COMPARE(bench.received(), QStringLiteral("1"));
    QCOMPARE(bench.view(), QStringLiteral("41 42 43 "));
}

void TestSerialTraffic::streamingDeviceShownInBlocks()
{
    OpenSerialBench bench;
    // A device that never pauses for a poll period: 32 bytes every millisecond for 1.5 s.
    std::atomic<bool> streaming { true };
    std::atomic<qint64> streamed { 0 };
    std::thread device([&] {
        const QByteArray chunk = "0123456789abcdefghijklmnopqrstuv";
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 1500 && bench.pty.write(chunk)) {
            streamed += chunk.size();
            usleep(1000);
        }
        streaming = false;
    });

    bool shownWhileStreaming = false;
    int firstBlockSize = 0;
    const bool shown = QTest::qWaitFor([&] {
        if (bench.received().toInt() < 1)
            return false;
        firstBlockSize = bench.view().size();
        shownWhileStreaming = streaming;
        return true;
    });
    // The window must go on reading while the device finishes, or its writes would block.
    const bool finished = QTest::qWaitFor([&] { return !streaming; }, 10000);
    device.join();

    QVERIFY(finished);
    QVERIFY(shown);
    QVERIFY(shownWhileStreaming);
    QVERIFY2(firstBlockSize >= 4096, qPrintable(QString::number(firstBlockSize)));
    // Nothing is lost across the blocks; the view only adds its own paragraph breaks.
    QTRY_COMPARE(qint64(bench.view().remove(QLatin1Char('\n')).size()), qint64(streamed));
    QCOMPARE(qint64(bench.log().size()), qint64(streamed));
}

void TestSerialTraffic::closedPortPollDoesNotBlock()
{
    OpenSerialBench bench;
    QVERIFY(bench.collect("late"));
    bench.openButton()->click();
    QVERIFY(!bench.port()->isOpen());

    // Twenty polls of a closed port; waiting on it would take 10 ms each.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 20; ++i)
        QVERIFY(QMetaObject::invokeMethod(&bench.window, "readSerialPort"));
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));

    // What had arrived before the close was shown by the first of them.
    QCOMPARE(bench.view(), QStringLiteral("late"));
    QCOMPARE(bench.received(), QStringLiteral("1"));
}

void TestSerialTraffic::send_data()
{
    QTest::addColumn<bool>("hexMode");
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("byReturnKey");
    QTest::addColumn<QByteArray>("written"); // empty: nothing may be written, sent or shown

    QTest::newRow("ascii") << false << "AT" << false << QByteArray("AT\n");
    QTest::newRow("ascii by Return") << false << "AT" << true << QByteArray("AT\n");
    QTest::newRow("ascii keeps spaces") << false << " AT " << false << QByteArray(" AT \n");
    QTest::newRow("ascii empty") << false << "" << false << QByteArray("\n");
    QTest::newRow("hex pairs, either case")
        << true << " 01 a0 FF " << false << QByteArray("\x01\xA0\xFF");
    QTest::newRow("hex without digits") << true << "zz" << false << QByteArray();
    QTest::newRow("hex with an odd digit") << true << "01 a0 FF 4" << true << QByteArray();
}

void TestSerialTraffic::send()
{
    QFETCH(bool, hexMode);
    QFETCH(QString, command);
    QFETCH(bool, byReturnKey);
    QFETCH(QByteArray, written);

    OpenSerialBench bench;
    bench.setHexMode(hexMode);
    bench.command()->setText(command);
    if (byReturnKey)
        QTest::keyClick(bench.command(), Qt::Key_Return);
    else
        bench.sendButton()->click();

    QCOMPARE(bench.command()->text(), command);
    QByteArray line;
    if (written.isEmpty()) {
        QVERIFY(bench.status().startsWith(QLatin1String("Send failed on Serial: the command")));
        QCOMPARE(bench.sent(), QStringLiteral("0"));
        QCOMPARE(bench.view(), QString());
        QCOMPARE(bench.log(), QByteArray());
        // Nothing went out ahead of the next good command.
        bench.command()->setText(QStringLiteral("41"));
        bench.sendButton()->click();
        QTRY_COMPARE(line += bench.pty.readAvailable(), QByteArray("A"));
        return;
    }
    QCOMPARE(bench.sent(), QStringLiteral("1"));
    QCOMPARE(bench.view(), command + QLatin1Char('\n'));
    QCOMPARE(bench.log(), (command + QLatin1Char('\n')).toUtf8());
    QTRY_COMPARE(line += bench.pty.readAvailable(), written);
}

void TestSerialTraffic::refusedWhileClosed_data()
{
    QTest::addColumn<bool>("byTimerButton");

    QTest::newRow("send button") << false;
    QTest::newRow("timer button") << true;
}

void TestSerialTraffic::refusedWhileClosed()
{
    QFETCH(bool, byTimerButton);

    OpenSerialBench bench;
    bench.openButton()->click();
    QVERIFY(!bench.port()->isOpen());
    const QString sentBefore = bench.sent();
    ModalDialogHelper dialogs;
    if (byTimerButton)
        bench.timerButton()->click();
    else
        bench.sendButton()->click();

    QCOMPARE(dialogs.titles(), QStringList { "Error" });
    QCOMPARE(dialogs.texts(), QStringList { "Please, First Open the Serial Port!" });
    QVERIFY(!bench.timerButton()->isChecked());
    QCOMPARE(bench.timerButton()->text(), QStringLiteral("Start"));
    QVERIFY(!bench.sendTimer()->isActive());
    QCOMPARE(bench.sent(), sentBefore);
    QCOMPARE(bench.view(), QString());
}

void TestSerialTraffic::periodicSend()
{
    OpenSerialBench bench;
    ModalDialogHelper dialogs;
    bench.widget<QSpinBox>("SB_SerialTimerSecond")->setValue(100);
    bench.command()->setText(QStringLiteral("P"));
    bench.timerButton()->click();
    QVERIFY(bench.sendTimer()->isActive());
    QCOMPARE(bench.sendTimer()->interval(), 100);
    QCOMPARE(bench.timerButton()->text(), QStringLiteral("Stop"));

    QByteArray line;
    QTRY_VERIFY((line += bench.pty.readAvailable()).startsWith("P\nP\nP\n"));
    QVERIFY(bench.sent().toInt() >= 3);

    bench.openButton()->click(); // closing stops it
    QVERIFY(!bench.sendTimer()->isActive());
    QVERIFY(!bench.timerButton()->isChecked());
    QCOMPARE(bench.timerButton()->text(), QStringLiteral("Start"));
    QCOMPARE(bench.status(), QStringLiteral("Disconnected"));
    const QString sentAtClose = bench.sent();
    QTest::qWait(250);
    QCOMPARE(bench.sent(), sentAtClose);
    QCOMPARE(dialogs.count(), 0);
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
    OpenSerialBench bench;
    if (writeFails) {
        // Reopened read-only behind the window's back: open, yet every write fails.
        bench.openButton()->click();
        bench.port()->setPortName(bench.pty.slavePath());
        QVERIFY(bench.port()->open(QIODevice::ReadOnly));
        QTest::ignoreMessage(QtWarningMsg,
                             "QIODevice::write (QSerialPort, \"serialPort\"): ReadOnly device");
    } else {
        bench.setHexMode(true);
    }
    const QString sentBefore = bench.sent();
    bench.command()->setText(QStringLiteral("ping"));
    if (periodic) {
        bench.widget<QSpinBox>("SB_SerialTimerSecond")->setValue(100);
        bench.timerButton()->click();
        QVERIFY(bench.sendTimer()->isActive());
    } else {
        bench.sendButton()->click();
    }

    QTRY_VERIFY(bench.status().startsWith(QLatin1String("Send failed on Serial: ")));
    if (writeFails)
        QCOMPARE(bench.status(),
                 QStringLiteral("Send failed on Serial: ") + bench.port()->errorString());
    QCOMPARE(bench.sent(), sentBefore);
    QCOMPARE(bench.view(), QString());
    QVERIFY(bench.log().isEmpty());
    QVERIFY(!bench.sendTimer()->isActive());
    QVERIFY(!bench.timerButton()->isChecked());
    QCOMPARE(bench.timerButton()->text(), QStringLiteral("Start"));
}

void TestSerialTraffic::clearResetsViewAndCounters()
{
    OpenSerialBench bench;
    bench.command()->setText(QStringLiteral("AT"));
    bench.sendButton()->click();
    QVERIFY(bench.pty.write("OK"));
    QTRY_COMPARE(bench.received(), QStringLiteral("1"));

    bench.widget<QPushButton>("PB_ClearSerialPort")->click();
    QCOMPARE(bench.sent(), QStringLiteral("0"));
    QCOMPARE(bench.received(), QStringLiteral("0"));
    QCOMPARE(bench.view(), QString());
    QCOMPARE(bench.log(), QByteArray("AT\nOK"));
    QVERIFY(bench.port()->isOpen());
}

QTEST_MAIN(TestSerialTraffic)
#include "tst_serialtraffic.moc"
