#include "channelfixture.h"
#include "responsiveness.h"

#include <QtTest>

class TestNetworkTraffic : public QObject {
    Q_OBJECT

private slots:
    void sendBytes_data();
    void sendBytes();
    void refusedWhenNotConnected_data();
    void refusedWhenNotConnected();
    void receive_data();
    void receive();
    void emptyCommandArrivalsAndClear();
    void periodicSendTicksAtSpinBoxPeriod();
    void periodicSendStopsWhenLinkEnds_data();
    void periodicSendStopsWhenLinkEnds();
    void sendOnLostLinkIsNotCounted_data();
    void sendOnLostLinkIsNotCounted();
    void commandHistory_data();
    void commandHistory();
};

void TestNetworkTraffic::sendBytes_data()
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

void TestNetworkTraffic::sendBytes()
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

    if (!failure.isEmpty()) {
        QCOMPARE(fixture.status(), failure);
        QCOMPARE(fixture.sent(channel), 0);
        QVERIFY(fixture.shown(channel).isEmpty());
        QVERIFY(fixture.log(channel).isEmpty());
        // Nothing went out ahead of the next good command, which takes the failure off.
        fixture.send(channel, QStringLiteral("41"));
        QTRY_COMPARE(fixture.written(channel), QByteArray("A"));
        QCOMPARE(fixture.status(), QString());
        return;
    }
    QTRY_COMPARE(fixture.written(channel), bytes);
    QCOMPARE(fixture.sent(channel), 1);
    // The view and the log show the command as typed, not the bytes.
    QCOMPARE(fixture.shown(channel), command + QLatin1Char('\n'));
    QCOMPARE(fixture.log(channel), (command + QLatin1Char('\n')).toLocal8Bit());
    QCOMPARE(fixture.commandLine(channel)->text(), command);
}

void TestNetworkTraffic::refusedWhenNotConnected_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("sendRefusal");
    QTest::addColumn<QString>("timerRefusal");
    for (int channel = 1; channel <= 3; ++channel)
        QTest::addRow("Network%d", channel)
            << channel << QStringLiteral("Please, First Connect Network%1!").arg(channel)
            << QStringLiteral("Please, First Connect network%1.").arg(channel);
}

void TestNetworkTraffic::refusedWhenNotConnected()
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

void TestNetworkTraffic::receive_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QByteArrayList>("arrivals");
    QTest::addColumn<QString>("then"); // what the user does after the last arrival
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("logged");
    const QByteArrayList hNulI { QByteArray("H\0I", 3) };
    QTest::newRow("Network1 ASCII shows a zero byte as the NUL symbol") << 1 << false << hNulI << ""
                                                                        << "H\u2400I"
                                                                        << "H\u2400I";
    QTest::newRow("Network2 hex, one line per arrival") << 2 << true << hNulI << ""
                                                        << "48 00 49 \n"
                                                        << "48 00 49 \n";
    QTest::newRow("Network3 hex, high bytes")
        << 3 << true << QByteArrayList { QByteArray::fromHex("01abff") } << ""
        << "01 AB FF \n"
        << "01 AB FF \n";
    QTest::newRow("Network3 ASCII keeps the peer's line breaks")
        << 3 << false << QByteArrayList { "one\ntwo\n" } << ""
        << "one\ntwo\n"
        << "one\ntwo\n";
    QTest::newRow("Network1 character split across two arrivals")
        << 1 << false << QByteArrayList { "caf\xc3", "\xa9!" } << ""
        << "caf\u00e9!"
        << "caf\u00e9!";
    const QByteArrayList unfinished { "x\xe2\x82" };
    QTest::newRow("Network2 unfinished character at a mode switch")
        << 2 << false << unfinished << "hex"
        << "x\ufffd"
        << "x\ufffd";
    QTest::newRow("Network3 unfinished character at a clear") << 3 << false << unfinished << "clear"
                                                              << ""
                                                              << "x\ufffd";
    QTest::newRow("Network1 unfinished character at the disconnect")
        << 1 << false << unfinished << "disconnect"
        << "x\ufffd"
        << "x\ufffd";
    // Shown before the loss that ended it.
    const QString lost
        = QStringLiteral("x\ufffd\n--- link lost: the peer closed the connection ---\n");
    QTest::newRow("Network2 unfinished character when the peer closes")
        << 2 << false << unfinished << "peer closes" << lost << lost;
}

void TestNetworkTraffic::receive()
{
    QFETCH(int, channel);
    QFETCH(bool, hex);
    QFETCH(QByteArrayList, arrivals);
    QFETCH(QString, then);
    QFETCH(QString, shown);
    QFETCH(QString, logged);
    ChannelFixture fixture;
    QVERIFY(fixture.open(channel, hex));

    for (int i = 0; i < arrivals.size(); ++i) {
        QVERIFY(fixture.deliver(channel, arrivals.at(i)));
        QTRY_COMPARE(fixture.received(channel), i + 1);
    }
    if (then == "hex")
        fixture.setHexMode(channel, true);
    else if (then == "clear")
        fixture.press(channel, ChannelFixture::Button::Clear);
    else if (then == "disconnect")
        fixture.press(channel, ChannelFixture::Button::Link);
    else if (then == "peer closes")
        fixture.peer(channel)->close();
    QTRY_COMPARE(fixture.log(channel), logged.toLocal8Bit());
    QCOMPARE(fixture.shown(channel), shown);
}

void TestNetworkTraffic::emptyCommandArrivalsAndClear()
{
    ChannelFixture fixture;
    QVERIFY(fixture.open(1));
    QVERIFY(fixture.deliver(1, "a"));
    QTRY_COMPARE(fixture.shown(1), QStringLiteral("a"));
    QVERIFY(fixture.deliver(1, "bb"));
    QTRY_COMPARE(fixture.received(1), 2);
    // An empty command does nothing at all; whatever it wrote would arrive ahead of "cmd".
    fixture.press(1, ChannelFixture::Button::Send);
    fixture.send(1, QStringLiteral("cmd"));
    QTRY_COMPARE(fixture.written(1), QByteArray("cmd\n"));
    QCOMPARE(fixture.sent(1), 1);
    QCOMPARE(fixture.shown(1), QStringLiteral("abbcmd\n"));
    QCOMPARE(fixture.dialogs.count(), 0);

    fixture.press(1, ChannelFixture::Button::Clear);
    QCOMPARE(fixture.sent(1), 0);
    QCOMPARE(fixture.received(1), 0);
    QVERIFY(fixture.shown(1).isEmpty());

    // The log keeps what was cleared from the view and goes on with what follows.
    QVERIFY(fixture.deliver(1, "c"));
    QTRY_COMPARE(fixture.received(1), 1);
    QCOMPARE(fixture.shown(1), QStringLiteral("c"));
    QCOMPARE(fixture.log(1), QByteArray("abbcmd\nc"));
    QVERIFY(fixture.socket(1)->isOpen());
}

void TestNetworkTraffic::periodicSendTicksAtSpinBoxPeriod()
{
    ChannelFixture fixture;
    QVERIFY(fixture.open(3));
    QTimer *sendTimer = fixture.sendTimer(3);
    QSignalSpy ticks(sendTimer, &QTimer::timeout);

    fixture.startPeriodicSend(3, QStringLiteral("t"), 200);
    QCOMPARE(fixture.periodicSend(3), QStringLiteral("Stop checked running"));
    // The period is read only at the start.
    fixture.periodBox(3)->setValue(5000);
    QTRY_VERIFY(ticks.count() >= 3);
    QCOMPARE(sendTimer->interval(), 200);

    fixture.press(3, ChannelFixture::Button::Timer);
    QCOMPARE(fixture.periodicSend(3), QStringLiteral("Start"));
    QCOMPARE(fixture.sent(3), ticks.count());
    QTRY_COMPARE(fixture.written(3), QByteArray("t\n").repeated(ticks.count()));
    QCOMPARE(fixture.dialogs.count(), 0);
}

void TestNetworkTraffic::periodicSendStopsWhenLinkEnds_data()
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

void TestNetworkTraffic::periodicSendStopsWhenLinkEnds()
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

void TestNetworkTraffic::sendOnLostLinkIsNotCounted_data()
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
void TestNetworkTraffic::sendOnLostLinkIsNotCounted()
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

void TestNetworkTraffic::commandHistory_data()
{
    QTest::addColumn<int>("channel");
    QTest::newRow("Serial") << int(serial);
    for (int channel = 1; channel <= 3; ++channel)
        QTest::addRow("Network%d", channel) << channel;
}

// Up and Down walk what the channel sent, newest first, back to what was being typed.
void TestNetworkTraffic::commandHistory()
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

QTEST_MAIN(TestNetworkTraffic)
#include "tst_networktraffic.moc"
