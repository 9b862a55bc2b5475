#include "corefixture.h"

#include <QSignalSpy>
#include <QtTest>

// The channels as code drives them, with no window: what a script or another program relies on.
class ChannelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(Pty().isValid(), "no pseudo-terminal available"); }
    void drivenByCode_data();
    void drivenByCode();
};

void ChannelTest::drivenByCode_data()
{
    QTest::addColumn<bool>("serial");
    QTest::newRow("serial on a pty") << true;
    QTest::newRow("network to a server on 127.0.0.1") << false;
}

// Closed, a send is refused with its reason and nothing leaves; open, what is sent is counted,
// shown and logged, what arrives is told raw before it is shown, and the link's state is told
// as it changes.
void ChannelTest::drivenByCode()
{
    QFETCH(bool, serial);
    CoreFixture fixture;
    Channel &channel = serial ? static_cast<Channel &>(fixture.serial()) : fixture.network();
    QSignalSpy states(&channel, &Channel::linkStateChanged);
    QSignalSpy arrivals(&channel, &Channel::received);

    QString why;
    QVERIFY(!channel.send(QStringLiteral("AT"), &why));
    QCOMPARE(why,
             serial ? QStringLiteral("the serial port is not open")
                    : QStringLiteral("Network1 is not connected"));
    QVERIFY(serial ? fixture.openSerial() : fixture.connectNetwork() != nullptr);
    QCOMPARE(channel.linkState(), LinkState::Open);

    QVERIFY(channel.send(QStringLiteral("AT")));
    QVERIFY(channel.send(QStringLiteral("01 0a"), nullptr, true));
    QVERIFY(channel.sendBytes(QByteArray("\xff\x00", 2)));
    QTRY_COMPARE(fixture.written(channel), QByteArray("AT\n\x01\x0a\xff\x00", 7));
    QCOMPARE(channel.sentCount(), 3);
    QCOMPARE(fixture.shown(channel), QStringLiteral("AT\n01 0a\nFF 00\n"));

    channel.setHexMode(true);
    const QByteArray reply("OK\r\n");
    QVERIFY(serial ? fixture.pty.write(reply) : fixture.peer()->write(reply) == reply.size());
    QTRY_COMPARE(channel.receivedCount(), 1);
    QCOMPARE(arrivals.count(), 1);
    QCOMPARE(arrivals.first().first().toByteArray(), reply);
    QCOMPARE(fixture.log(channel),
             QByteArray("AT\n01 0a\nFF 00\n4F 4B 0D 0A").append(serial ? "\n" : " \n"));

    serial ? fixture.serial().close() : fixture.network().disconnectFromPeer();
    QCOMPARE(channel.linkState(), LinkState::Closed);
    QList<LinkState> seen;
    for (const QList<QVariant> &state : states)
        seen << state.first().value<LinkState>();
    const QList<LinkState> expected = serial
        ? QList<LinkState> { LinkState::Open, LinkState::Closed }
        : QList<LinkState> { LinkState::Opening, LinkState::Open, LinkState::Closed };
    QCOMPARE(seen, expected);
    QCOMPARE(fixture.failures(serial ? 0 : 1), QStringList());
}

QTEST_GUILESS_MAIN(ChannelTest)
#include "tst_channel.moc"
