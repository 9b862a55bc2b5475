#include "channelfixture.h"
#include "responsiveness.h"

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
    void networkSendFromTheForm_data();
    void networkSendFromTheForm();
    void refusedWhenNotConnected_data();
    void refusedWhenNotConnected();
    void periodicSendStopsWhenLinkEnds_data();
    void periodicSendStopsWhenLinkEnds();
    void sendOnLostLinkIsNotCounted_data();
    void sendOnLostLinkIsNotCounted();
    void commandHistory_data();
    void commandHistory();
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

void ChannelPanelTest::networkSendFromTheForm_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("failure"); // status text of a send that must not leave
    QTest::addColumn<QString>("lineEnding"); // as --line-ending names it; empty: LF
    QTest::newRow("Network1 ASCII gets a line feed, no CR")
        << 1 << false << "AT" << QByteArray("AT\n") << QString() << QString();
    QTest::newRow("Network2 ASCII is not trimmed")
        << 2 << false << " a b " << QByteArray(" a b \n") << QString() << QString();
    QTest::newRow("Network3 hex, either case")
        << 3 << true << "01 a0 FF" << QByteArray::fromHex("01a0ff") << QString() << QString();
    QTest::newRow("Network1 hex, spaces around are not sent")
        << 1 << true << "  01 a0 FF  " << QByteArray::fromHex("01a0ff") << QString() << QString();
    QTest::newRow("Network2 hex bytes written 0x.., with colons")
        << 2 << true << "0x41 0X42:43" << QByteArray("ABC") << QString() << QString();
    QTest::newRow("Network2 hex without a digit is not sent")
        << 2 << true << " \t " << QByteArray()
        << "Send failed on Network2: the command holds no hexadecimal digit" << QString();
    QTest::newRow("Network1 hex with a point is not sent")
        << 1 << true << "41.42" << QByteArray()
        << "Send failed on Network1: the command holds '.' at position 3, which is neither a "
           "hexadecimal digit nor a separator"
        << QString();
    QTest::newRow("Network3 hex with an odd digit is not sent")
        << 3 << true << "01 a0 FF 4" << QByteArray()
        << "Send failed on Network3: the command holds an odd number of hexadecimal digits (7), "
           "and every byte needs two"
        << QString();
    QTest::newRow("Network1 ASCII, CR")
        << 1 << false << "AT" << QByteArray("AT\r") << QString() << "CR";
    QTest::newRow("Network2 ASCII, CRLF")
        << 2 << false << "AT" << QByteArray("AT\r\n") << QString() << "CRLF";
    QTest::newRow("Network3 ASCII, nothing")
        << 3 << false << "AT" << QByteArray("AT") << QString() << "None";
}

// The command stays on its line; one that cannot be sent is told on the status bar until the
// next good one.
void ChannelPanelTest::networkSendFromTheForm()
{
    QFETCH(int, channel);
    QFETCH(bool, hex);
    QFETCH(QString, command);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, failure);
    QFETCH(QString, lineEnding);
    ChannelFixture fixture;
    fixture.channel(channel).setLineEnding(lineEndingFromText(lineEnding).value_or(LineEnding::LF));
    QVERIFY(fixture.open(channel, hex));
    fixture.send(channel, command);

    QCOMPARE(fixture.commandLine(channel)->text(), command);
    if (!failure.isEmpty()) {
        QCOMPARE(fixture.status(), failure);
        QVERIFY(fixture.shown(channel).isEmpty());
        fixture.send(channel, QStringLiteral("41"));
        QTRY_COMPARE(fixture.written(channel), QByteArray("A"));
        QCOMPARE(fixture.status(), QString());
        return;
    }
    QTRY_COMPARE(fixture.written(channel), bytes);
    QCOMPARE(fixture.shown(channel), command + QLatin1Char('\n'));
}

void ChannelPanelTest::refusedWhenNotConnected_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("sendRefusal");
    QTest::addColumn<QString>("timerRefusal");
    for (int channel = 1; channel <= 3; ++channel)
        QTest::addRow("Network%d", channel)
            << channel << QStringLiteral("Please, First Connect Network%1!").arg(channel)
            << QStringLiteral("Please, First Connect network%1.").arg(channel);
}

void ChannelPanelTest::refusedWhenNotConnected()
{
    QFETCH(int, channel);
    QFETCH(QString, sendRefusal);
    QFETCH(QString, timerRefusal);
    ChannelFixture fixture;
    const int sentBefore = fixture.sent(channel);

    // The link is checked before the command: an empty one is refused as well.
    fixture.press(channel, ChannelFixture::Button::Send);
    fixture.send(channel, QStringLiteral("AT"));
    fixture.press(channel, ChannelFixture::Button::Timer);

    QCOMPARE(fixture.dialogs.texts(), QStringList({ sendRefusal, sendRefusal, timerRefusal }));
    QCOMPARE(fixture.dialogs.titles(), QStringList({ "Error", "Error", "Error" }));
    QCOMPARE(fixture.sent(channel), sentBefore);
    QVERIFY(fixture.shown(channel).isEmpty());
    QCOMPARE(fixture.periodicSend(channel), QStringLiteral("Start"));
}

void ChannelPanelTest::periodicSendStopsWhenLinkEnds_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("status");
    QTest::newRow("user disconnects") << "disconnect"
                                      << "disconnected Network2.";
    // Told as the loss it is, not as the user's own Disconnect.
    QTest::newRow("peer closes") << "peer"
                                 << "Network2 lost its link: the peer closed the connection.";
    // The command stops being one the channel can send whole.
    QTest::newRow("hex command without a digit")
        << "hex"
        << "Send failed on Network2: the command holds 't' at position 1, which is neither a "
           "hexadecimal digit nor a separator";
    // Closed behind the channel's back: the link has ended as if the peer had closed it.
    QTest::newRow("socket closed under it")
        << "close"
        << "Network2 lost its link: the peer closed the connection.";
    // What the peer does not take must not pile up in the program without end.
    QTest::newRow("peer stops reading") << "full"
                                        << "Send failed on Network2: the peer is not reading (";
}

void ChannelPanelTest::periodicSendStopsWhenLinkEnds()
{
    QFETCH(QString, how);
    QFETCH(QString, status);
    ChannelFixture fixture;
    QVERIFY(fixture.open(2));
    fixture.startPeriodicSend(2, QStringLiteral("t"), 100);
    QTRY_COMPARE(fixture.sent(2), 2);

    if (how == "disconnect")
        fixture.press(2, ChannelFixture::Button::Link);
    else if (how == "peer")
        fixture.peer(2)->close();
    else if (how == "hex")
        fixture.setHexMode(2, true);
    else if (how == "close")
        fixture.socket(2)->close();
    const qint64 command = 30000;
    if (how == "full") {
        fixture.peer(2)->setReadBufferSize(1);
        fixture.commandLine(2)->setText(QString(command, 't'));
        fixture.sendTimer(2)->start(1);
    }

    QVERIFY(loopUntil([&] { return fixture.periodicSend(2) == QLatin1String("Start"); }));
    QVERIFY2(fixture.status().startsWith(status), qPrintable(fixture.status()));
    QCOMPARE(fixture.dialogs.count(), 0);
    QCOMPARE(fixture.log(2).count("t\n"), fixture.sent(2));
    QCOMPARE(fixture.log(2).count("--- link lost: "), how == "peer" || how == "close" ? 1 : 0);
    if (how == "full") {
        // Refused just before the send that would have left more than 1 MiB waiting.
        const qint64 waiting = fixture.status().section('(', 1).section(' ', 0, 0).toLongLong();
        QCOMPARE(fixture.socket(2)->bytesToWrite(), waiting);
        QVERIFY2(waiting <= 1024 * 1024 && waiting + command + 1 > 1024 * 1024,
                 qPrintable(fixture.status()));
    }
}

void ChannelPanelTest::sendOnLostLinkIsNotCounted_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("closedBy"); // "peer" or "user"
    QTest::addColumn<QString>("send"); // "button", "periodic" or "code"
    QTest::newRow("Network1 peer closed, Send button") << 1 << "peer"
                                                       << "button";
    QTest::newRow("Network2 peer closed, a script's send") << 2 << "peer"
                                                           << "code";
    QTest::newRow("Network2 disconnected, a script's send") << 2 << "user"
                                                            << "code";
    QTest::newRow("Network3 peer closed, periodic send") << 3 << "peer"
                                                         << "periodic";
}

// A link that has ended is closed, whatever ended it: a send on it is refused as on any closed
// link, in the same words, and nothing is counted, shown or logged.

void ChannelPanelTest::sendOnLostLinkIsNotCounted()
{
    QFETCH(int, channel);
    QFETCH(QString, closedBy);
    QFETCH(QString, send);
    ChannelFixture fixture;
    QVERIFY(fixture.open(channel));
    if (closedBy == "peer")
        fixture.peer(channel)->close();
    else
        fixture.press(channel, ChannelFixture::Button::Link);
    QTRY_VERIFY(!fixture.linkButton(channel)->isChecked());
    const int sentBefore = fixture.sent(channel);
    const QByteArray logBefore = fixture.log(channel);

    QString why;
    if (send == "periodic")
        fixture.startPeriodicSend(channel, QStringLiteral("lost"), 100);
    else if (send == "button")
        fixture.send(channel, QStringLiteral("lost"));
    else
        QVERIFY(!fixture.channel(channel).send(QStringLiteral("lost"), &why));

    if (send == "code") {
        QCOMPARE(why, QStringLiteral("Network%1 is not connected").arg(channel));
        QCOMPARE(fixture.dialogs.count(), 0);
    } else {
        QCOMPARE(
            fixture.dialogs.texts(),
            QStringList { send == "periodic"
                              ? QStringLiteral("Please, First Connect network%1.").arg(channel)
                              : QStringLiteral("Please, First Connect Network%1!").arg(channel) });
    }
    QCOMPARE(fixture.sent(channel), sentBefore);
    QVERIFY(!fixture.shown(channel).contains("lost\n"));
    QCOMPARE(fixture.log(channel), logBefore);
    QCOMPARE(fixture.periodicSend(channel), QStringLiteral("Start"));
}

void ChannelPanelTest::commandHistory_data()
{
    QTest::addColumn<int>("channel");
    QTest::newRow("Serial") << int(serial);
    for (int channel = 1; channel <= 3; ++channel)
        QTest::addRow("Network%d", channel) << channel;
}

// Up and Down walk what the channel sent, newest first, back to what was being typed.

void ChannelPanelTest::commandHistory()
{
    QFETCH(int, channel);
    ChannelFixture fixture;
    QVERIFY(fixture.open(channel));
    QLineEdit *line = fixture.commandLine(channel);
    for (const char *command : { "one", "two", "two", "three" })
        fixture.send(channel, QString::fromLatin1(command));
    line->setText(QStringLiteral("draft"));
    QStringList walked;
    for (const Qt::Key key : { Qt::Key_Up, Qt::Key_Up, Qt::Key_Up, Qt::Key_Up, Qt::Key_Down,
                               Qt::Key_Down, Qt::Key_Down, Qt::Key_Down }) {
        QTest::keyClick(line, key);
        walked << line->text();
    }
    QCOMPARE(walked,
             QStringList({ "three", "two", "one", "one", "two", "three", "draft", "draft" }));

    // The last 100 are kept.
    for (int i = 0; i < 105; ++i)
        fixture.send(channel, QString::number(i));
    for (int i = 0; i < 150; ++i)
        QTest::keyClick(line, Qt::Key_Up);
    QCOMPARE(line->text(), QStringLiteral("5"));
}

QTEST_MAIN(ChannelPanelTest)
#include "tst_channelpanel.moc"
