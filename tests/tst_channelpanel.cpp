#include "channelfixture.h"

#include <QtTest>

// What a channel's panel adds to the channel: the view's tidying, the command line, the captions
// of its buttons, the status bar, and the boxes for what a person asks of a link that is not
// open. The channel itself is tested under QCoreApplication.
class ChannelPanelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(Pty().isValid(), "no pseudo-terminal available"); }
    void serialViewTidies_data();
    void serialViewTidies();
    void sendFromTheForm_data();
    void sendFromTheForm();
    void refusedWhileClosed_data();
    void refusedWhileClosed();
    void periodicSendCaption();
    void failedSendShown_data();
    void failedSendShown();
};

void ChannelPanelTest::serialViewTidies_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    // The view tidies terminal noise; the log keeps every byte.
    QTest::newRow("CR CR, view only") << QByteArray("A\r\rB") << "AB";
    QTest::newRow("erase echo, view only") << QByteArray("x\b \by") << "xy";
    QTest::newRow("four CRs, view only") << QByteArray("10\r\r\r\r20") << "1020";
}

void ChannelPanelTest::serialViewTidies()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    ChannelFixture fixture;
    QVERIFY(fixture.open(serial));
    QVERIFY(fixture.collect(bytes));
    fixture.resumePolling();
    QTRY_COMPARE(fixture.received(serial), 1);
    QCOMPARE(fixture.shown(serial), shown);
    QCOMPARE(fixture.log(serial), bytes);
}

void ChannelPanelTest::sendFromTheForm_data()
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

// The command stays on its line; a command that cannot be sent is told on the status bar until
// the next good one.
void ChannelPanelTest::sendFromTheForm()
{
    QFETCH(bool, hexMode);
    QFETCH(QString, command);
    QFETCH(QByteArray, written);
    QFETCH(QString, lineEnding);

    ChannelFixture fixture;
    fixture.serial().setLineEnding(lineEndingFromText(lineEnding).value_or(LineEnding::LF));
    QVERIFY(fixture.open(serial, hexMode));
    fixture.send(serial, command);

    QCOMPARE(fixture.commandLine(serial)->text(), command);
    if (written.isEmpty()) {
        QVERIFY(fixture.status().startsWith(QLatin1String("Send failed on Serial: the command")));
        QCOMPARE(fixture.sent(serial), 0);
        QCOMPARE(fixture.shown(serial), QString());
        fixture.send(serial, QStringLiteral("41"));
        QTRY_COMPARE(fixture.written(serial), QByteArray("A"));
        QCOMPARE(fixture.status(), QString());
        return;
    }
    QCOMPARE(fixture.sent(serial), 1);
    QCOMPARE(fixture.shown(serial), command + QLatin1Char('\n'));
}

void ChannelPanelTest::refusedWhileClosed_data()
{
    QTest::addColumn<bool>("byTimerButton");

    QTest::newRow("send button") << false;
    QTest::newRow("timer button") << true;
}

void ChannelPanelTest::refusedWhileClosed()
{
    QFETCH(bool, byTimerButton);

    ChannelFixture fixture;
    QVERIFY(fixture.open(serial));
    fixture.press(serial, ChannelFixture::Button::Link);
    QVERIFY(!fixture.serialPort()->isOpen());
    const int sentBefore = fixture.sent(serial);
    if (byTimerButton)
        fixture.press(serial, ChannelFixture::Button::Timer);
    else
        fixture.press(serial, ChannelFixture::Button::Send);

    QCOMPARE(fixture.dialogs.titles(), QStringList { "Error" });
    QCOMPARE(fixture.dialogs.texts(), QStringList { "Please, First Open the Serial Port!" });
    QCOMPARE(fixture.periodicSend(serial), QStringLiteral("Start"));
    QCOMPARE(fixture.sent(serial), sentBefore);
    QCOMPARE(fixture.shown(serial), QString());
}

void ChannelPanelTest::periodicSendCaption()
{
    ChannelFixture fixture;
    QVERIFY(fixture.open(serial));
    QCOMPARE(fixture.periodicSend(serial), QStringLiteral("Start"));
    fixture.startPeriodicSend(serial, QStringLiteral("P"), 100);
    QCOMPARE(fixture.periodicSend(serial), QStringLiteral("Stop checked running"));
    QTRY_VERIFY(fixture.written(serial).startsWith("P\nP\nP\n"));

    fixture.press(serial, ChannelFixture::Button::Link); // closing stops it
    QCOMPARE(fixture.periodicSend(serial), QStringLiteral("Start"));
    QCOMPARE(fixture.status(), QStringLiteral("Disconnected"));
    QCOMPARE(fixture.dialogs.count(), 0);
}

void ChannelPanelTest::failedSendShown_data()
{
    QTest::addColumn<bool>("writeFails"); // else the command is no hex command
    QTest::addColumn<bool>("periodic");
    QTest::newRow("write fails, Send button") << true << false;
    QTest::newRow("write fails during a periodic send") << true << true;
    QTest::newRow("periodic send meets a hex command without digits") << false << true;
}

void ChannelPanelTest::failedSendShown()
{
    QFETCH(bool, writeFails);
    QFETCH(bool, periodic);
    ChannelFixture fixture;
    QVERIFY(fixture.open(serial, !writeFails));
    QSerialPort *port = fixture.serialPort();
    if (writeFails) {
        // Reopened read-only behind the channel's back: open, yet every write fails.
        port->close();
        QVERIFY(port->open(QIODevice::ReadOnly));
        QTest::ignoreMessage(QtWarningMsg,
                             "QIODevice::write (QSerialPort, \"serialPort\"): ReadOnly device");
    }
    if (periodic) {
        fixture.startPeriodicSend(serial, QStringLiteral("ping"), 100);
        QCOMPARE(fixture.periodicSend(serial), QStringLiteral("Stop checked running"));
    } else {
        fixture.send(serial, QStringLiteral("ping"));
    }

    QTRY_VERIFY(fixture.status().startsWith(QLatin1String("Send failed on Serial: ")));
    if (writeFails)
        QCOMPARE(fixture.status(), QStringLiteral("Send failed on Serial: ") + port->errorString());
    QCOMPARE(fixture.sent(serial), 0);
    QCOMPARE(fixture.shown(serial), QString());
    QCOMPARE(fixture.periodicSend(serial), QStringLiteral("Start"));
}

QTEST_MAIN(ChannelPanelTest)
#include "tst_channelpanel.moc"
