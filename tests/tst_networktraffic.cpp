#include "corefixture.h"

#include <QtTest>

class TestNetworkTraffic : public QObject {
    Q_OBJECT

private slots:
    void sendBytes_data();
    void sendBytes();
    void receive_data();
    void receive();
    void emptyCommandArrivalsAndClear();
    void periodicSendTicksAtSpinBoxPeriod();
};

void TestNetworkTraffic::sendBytes_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("failure"); // why a send must not leave, as the channel tells it
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
        << 2 << true << " \t " << QByteArray() << "the command holds no hexadecimal digit"
        << QString();
    QTest::newRow("Network1 hex with a point is not sent")
        << 1 << true << "41.42" << QByteArray()
        << "the command holds '.' at position 3, which is neither a "
           "hexadecimal digit nor a separator"
        << QString();
    QTest::newRow("Network3 hex with an odd digit is not sent")
        << 3 << true << "01 a0 FF 4" << QByteArray()
        << "the command holds an odd number of hexadecimal digits (7), "
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
    CoreFixture fixture;
    fixture.channel(channel).setLineEnding(lineEndingFromText(lineEnding).value_or(LineEnding::LF));
    QVERIFY(fixture.open(channel, hex));
    fixture.send(channel, command);

    if (!failure.isEmpty()) {
        QCOMPARE(fixture.failures(channel), QStringList { failure });
        QCOMPARE(fixture.sent(channel), 0);
        QVERIFY(fixture.shown(channel).isEmpty());
        QVERIFY(fixture.log(channel).isEmpty());
        // Nothing went out ahead of the next good command, which fails in nothing.
        fixture.send(channel, QStringLiteral("41"));
        QTRY_COMPARE(fixture.written(channel), QByteArray("A"));
        QCOMPARE(fixture.failures(channel).size(), 1);
        return;
    }
    QTRY_COMPARE(fixture.written(channel), bytes);
    QCOMPARE(fixture.sent(channel), 1);
    // The view and the log show the command as typed, not the bytes.
    QCOMPARE(fixture.shown(channel), command + QLatin1Char('\n'));
    QCOMPARE(fixture.log(channel), (command + QLatin1Char('\n')).toLocal8Bit());
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
    CoreFixture fixture;
    QVERIFY(fixture.open(channel, hex));

    for (int i = 0; i < arrivals.size(); ++i) {
        QVERIFY(fixture.deliver(channel, arrivals.at(i)));
        QTRY_COMPARE(fixture.received(channel), i + 1);
    }
    if (then == "hex")
        fixture.setHexMode(channel, true);
    else if (then == "clear")
        fixture.channel(channel).clear();
    else if (then == "disconnect")
        fixture.network(channel).disconnectFromPeer();
    else if (then == "peer closes")
        fixture.peer(channel)->close();
    QTRY_COMPARE(fixture.log(channel), logged.toLocal8Bit());
    QCOMPARE(fixture.shown(channel), shown);
}

void TestNetworkTraffic::emptyCommandArrivalsAndClear()
{
    CoreFixture fixture;
    QVERIFY(fixture.open(1));
    QVERIFY(fixture.deliver(1, "a"));
    QTRY_COMPARE(fixture.shown(1), QStringLiteral("a"));
    QVERIFY(fixture.deliver(1, "bb"));
    QTRY_COMPARE(fixture.received(1), 2);
    // An empty command does nothing at all; whatever it wrote would arrive ahead of "cmd".
    fixture.send(1, QString());
    fixture.send(1, QStringLiteral("cmd"));
    QTRY_COMPARE(fixture.written(1), QByteArray("cmd\n"));
    QCOMPARE(fixture.sent(1), 1);
    QCOMPARE(fixture.shown(1), QStringLiteral("abbcmd\n"));
    QCOMPARE(fixture.failures(1), QStringList());

    fixture.channel(1).clear();
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
    CoreFixture fixture;
    QVERIFY(fixture.open(3));
    QTimer *sendTimer = fixture.sendTimer(3);
    QSignalSpy ticks(sendTimer, &QTimer::timeout);

    fixture.startPeriodicSend(3, QStringLiteral("t"), 200);
    QCOMPARE(fixture.periodicSend(3), QStringLiteral("running"));
    // The period is read only at the start.
    fixture.channel(3).setPeriod(5000);
    QTRY_VERIFY(ticks.count() >= 3);
    QCOMPARE(sendTimer->interval(), 200);

    fixture.channel(3).stopPeriodicSend();
    QCOMPARE(fixture.periodicSend(3), QStringLiteral("off"));
    QCOMPARE(fixture.sent(3), ticks.count());
    QTRY_COMPARE(fixture.written(3), QByteArray("t\n").repeated(ticks.count()));
    QCOMPARE(fixture.failures(3), QStringList());
}

QTEST_GUILESS_MAIN(TestNetworkTraffic)
#include "tst_networktraffic.moc"
