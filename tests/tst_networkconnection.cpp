#include "channelfixture.h"
#include "networkchannel.h"
#include "tcppeer.h"

#include <QtTest>

namespace {

const QString hostNotFound
    = QStringLiteral("The host was not found. Please check the host name and port settings.");
const QString refused = QStringLiteral(
    "The connection was refused by the peer. Make sure the server is running, and check that "
    "the host name and port settings are correct.");
// Each names what it is about: the peer tried, the port typed.
const QString badPort = QStringLiteral("The port must be a number from 1 to 65535, not '%1'.");

} // namespace

class TestNetworkConnection : public QObject {
    Q_OBJECT

private slots:
    void portFromText_data();
    void portFromText();
    void connectAndDisconnect_data();
    void connectAndDisconnect();
    void failedConnect_data();
    void failedConnect();
    // All three channels connect to one server; then one of them meets an error.
    void errorAffectsOnlyItsChannel_data();
    void errorAffectsOnlyItsChannel();
    void reconnectsAsTold_data();
    void reconnectsAsTold();
};

void TestNetworkConnection::portFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");
    // 0 names no port: nothing is connected to.
    QTest::newRow("plain") << "8080" << 8080;
    QTest::newRow("white space around") << " 8080\t" << 8080;
    QTest::newRow("lowest and highest") << "1" << 1;
    QTest::newRow("highest") << "65535" << 65535;
    QTest::newRow("leading zeros") << "00080" << 80;
    QTest::newRow("above 65535 is no port") << "70000" << 0;
    QTest::newRow("far above") << "4294967297" << 0;
    QTest::newRow("minus one is no port") << "-1" << 0;
    QTest::newRow("plus sign") << "+80" << 0;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("not a number") << "abc" << 0;
    QTest::newRow("digits then text") << "80abc" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("hex is not read") << "0x50" << 0;
}

void TestNetworkConnection::portFromText()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    QCOMPARE(int(::portFromText(text)), port);
}

void TestNetworkConnection::connectAndDisconnect_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("portPattern");
    QTest::newRow("Network1") << 1 << "%1";
    QTest::newRow("Network2") << 2 << "%1";
    QTest::newRow("Network3") << 3 << "%1";
    QTest::newRow("Network1, port typed with spaces around") << 1 << " %1 ";
}

void TestNetworkConnection::connectAndDisconnect()
{
    QFETCH(int, channel);
    QFETCH(QString, portPattern);
    ChannelFixture fixture;
    fixture.setTarget(portPattern.arg(fixture.server.serverPort()));
    QPushButton *connect = fixture.linkButton(channel);

    fixture.press(channel, ChannelFixture::Button::Link);
    QTRY_COMPARE(fixture.status(), QStringLiteral("connected Network%1.").arg(channel));
    QCOMPARE(connect->text(), QStringLiteral("Disconnect"));
    QVERIFY(connect->isChecked());
    QTcpSocket *peer = fixture.nextPeer();
    QVERIFY(peer);
    QTcpSocket *socket = fixture.socket(channel);
    QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);
    // The button tells where the link goes, also once the shared fields name another peer.
    const QString peerName
        = QStringLiteral("Connected to 127.0.0.1:%1").arg(fixture.server.serverPort());
    fixture.setTarget(QStringLiteral("1"));
    QCOMPARE(connect->toolTip(), peerName);
    QCOMPARE(connect->accessibleDescription(), peerName);

    QSignalSpy peerGone(peer, &QTcpSocket::disconnected);
    fixture.press(channel, ChannelFixture::Button::Link);
    QCOMPARE(fixture.status(), QStringLiteral("disconnected Network%1.").arg(channel));
    QCOMPARE(connect->text(), QStringLiteral("Connect"));
    QVERIFY(!connect->isChecked());
    QVERIFY(!socket->isOpen());
    QTRY_COMPARE(peerGone.count(), 1);
    QCOMPARE(fixture.dialogs.count(), 0);
    QCOMPARE(connect->toolTip(), QString());
    QCOMPARE(connect->accessibleDescription(), QString());
}

void TestNetworkConnection::failedConnect_data()
{
    QTest::addColumn<QString>("address");
    // "<closed>": nothing listens; "<late>": accepts only after 1.5 s; "<abandoned>": the same,
    // and the user clicks again while the channel waits.
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("box"); // "%1": the host and port tried
    // One box each, with the reason the socket gave.
    QTest::newRow("nothing listens") << "127.0.0.1"
                                     << "<closed>"
                                     << "%1: " + refused;
    QTest::newRow("server answers too late") << "127.0.0.1"
                                             << "<late>"
                                             << "No answer from %1 within 1 second.";
    QTest::newRow("attempt abandoned") << "127.0.0.1"
                                       << "<abandoned>" << QString();
    QTest::newRow("unknown host") << "no-such-host.invalid"
                                  << "<closed>"
                                  << "%1: " + hostNotFound;
    // Ports that name no port are not tried at all.
    for (const char *port : { "70000", "-1", "0", "abc", "" })
        QTest::addRow("port \"%s\"", port)
            << "127.0.0.1" << port << badPort.arg(QLatin1String(port));
}

void TestNetworkConnection::failedConnect()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, box);
    const bool abandoned = port == QLatin1String("<abandoned>");
    const bool late = abandoned || port == QLatin1String("<late>");
    LateListener listener;
    if (late)
        QVERIFY(listener.isReady());
    ChannelFixture fixture;
    fixture.widget<QTimer>(QStringLiteral("network2ConnectTimer"))->setInterval(1000);
    QString target = port;
    if (late)
        target = QString::number(listener.port());
    else if (port == QLatin1String("<closed>"))
        target = QString::number(ChannelFixture::unusedPort());
    fixture.setTarget(target, address);
    const bool portRefused = box.startsWith(badPort.left(20));
    if (!portRefused)
        box = box.arg(address + QLatin1Char(':') + target);
    QPushButton *connect = fixture.linkButton(2);
    QSignalSpy attempts(fixture.socket(2), &QTcpSocket::stateChanged);

    fixture.press(2, ChannelFixture::Button::Link);
    if (!portRefused) {
        // Waiting, the channel goes on and offers to abandon the attempt.
        QVERIFY(connect->isChecked());
        QCOMPARE(connect->text(), QStringLiteral("Disconnect"));
        if (abandoned) {
            QTRY_COMPARE(fixture.socket(2)->state(), QAbstractSocket::ConnectingState);
            fixture.press(2, ChannelFixture::Button::Link);
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(!connect->isChecked(), 12000);
    QCOMPARE(fixture.dialogs.texts(), box.isEmpty() ? QStringList() : QStringList { box });
    QCOMPARE(fixture.dialogs.titles(), box.isEmpty() ? QStringList() : QStringList { "Client" });
    QCOMPARE(connect->text(), QStringLiteral("Connect"));
    QCOMPARE(connect->toolTip(), QString());
    if (portRefused)
        QCOMPARE(attempts.count(), 0);

    // The next request starts afresh (the old attempt is aborted) and may succeed.
    QVERIFY(fixture.connectNetwork(2));
    QCOMPARE(connect->text(), QStringLiteral("Disconnect"));
}

void TestNetworkConnection::errorAffectsOnlyItsChannel_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("error"); // -1: the peer really closes
    QTest::addColumn<QString>("box"); // "PEER: ": the host and port of the link
    const int peerCloses = -1;
    QTest::newRow("Network1 peer closes") << 1 << peerCloses << QString();
    QTest::newRow("Network2 peer closes") << 2 << peerCloses << QString();
    QTest::newRow("Network3 peer closes") << 3 << peerCloses << QString();
    QTest::newRow("Network1 other error")
        << 1 << int(QAbstractSocket::NetworkError)
        << QStringLiteral("PEER: The following error occurred: Unknown error.");
    QTest::newRow("Network2 host not found")
        << 2 << int(QAbstractSocket::HostNotFoundError) << "PEER: " + hostNotFound;
    QTest::newRow("Network3 refused")
        << 3 << int(QAbstractSocket::ConnectionRefusedError) << "PEER: " + refused;
}

void TestNetworkConnection::errorAffectsOnlyItsChannel()
{
    QFETCH(int, channel);
    QFETCH(int, error);
    QFETCH(QString, box);
    ChannelFixture fixture;
    QList<QTcpSocket *> peers;
    for (int n = 1; n <= 3; ++n) {
        peers << fixture.connectNetwork(n);
        QVERIFY(peers.last());
        fixture.startPeriodicSend(n, QStringLiteral("tick"), 100);
        QCOMPARE(fixture.periodicSend(n), QStringLiteral("Stop checked running"));
    }
    // The fields are read at each connect; later edits leave connected channels alone.
    fixture.setTarget(QString::number(ChannelFixture::unusedPort()));
    for (int n = 1; n <= 3; ++n)
        QCOMPARE(fixture.socket(n)->peerPort(), fixture.server.serverPort());

    if (error < 0)
        peers.at(channel - 1)->close();
    else
        emit fixture.socket(channel)->errorOccurred(QAbstractSocket::SocketError(error));

    QTRY_VERIFY(!fixture.linkButton(channel)->isChecked());
    box.replace("PEER", QStringLiteral("127.0.0.1:%1").arg(fixture.server.serverPort()));
    QCOMPARE(fixture.dialogs.texts(), box.isEmpty() ? QStringList() : QStringList { box });
    // The channel tells the truth: the link is down, and the next click connects.
    QCOMPARE(fixture.linkButton(channel)->text(), QStringLiteral("Connect"));
    QCOMPARE(fixture.channel(channel).linkState(), LinkState::Closed);
    // The loss is told as one, in the log and on the status bar, not as the user's Disconnect.
    QString reason = box.isEmpty() ? QStringLiteral("the peer closed the connection") : box;
    QCOMPARE(fixture.log(channel), "--- link lost: " + reason.toLocal8Bit() + " ---\n");
    if (reason.endsWith('.'))
        reason.chop(1);
    QCOMPARE(fixture.status(),
             QStringLiteral("Network%1 lost its link: %2.").arg(channel).arg(reason));
    for (int n = 1; n <= 3; ++n) {
        QCOMPARE(fixture.linkButton(n)->isChecked(), n != channel);
        QCOMPARE(fixture.periodicSend(n), n == channel ? "Start" : "Stop checked running");
    }
}

void TestNetworkConnection::reconnectsAsTold_data()
{
    QTest::addColumn<bool>("reset"); // else the peer closes
    QTest::newRow("server closes, then listens again") << false;
    QTest::newRow("server resets, then listens again") << true;
}

// Connected as at start with a periodic send, the channel survives a server restart on its own.
void TestNetworkConnection::reconnectsAsTold()
{
    QFETCH(bool, reset);
    ChannelFixture fixture;
    const quint16 port = fixture.server.serverPort();
    NetworkChannel &channel = fixture.network(2);
    channel.setReconnect(true);
    fixture.commandLine(2)->setText(QStringLiteral("tick"));
    fixture.periodBox(2)->setValue(100);
    channel.startPeriodicSendWhenOpen();
    fixture.setTarget(QString::number(port));
    fixture.networkPanel(2).connectLink(true);
    QTRY_VERIFY(fixture.server.hasPendingConnections());
    QTcpSocket *peer = fixture.server.nextPendingConnection();
    QByteArray got;
    QTRY_VERIFY((got += peer->readAll()).startsWith("tick\n"));
    QCOMPARE(fixture.periodicSend(2), QStringLiteral("Stop checked running"));

    fixture.server.close();
    if (reset)
        TcpPeer::resetOnClose(int(peer->socketDescriptor()));
    peer->close();
    QTRY_VERIFY(fixture.log(2).contains("--- link lost: "));
    QCOMPARE(fixture.periodicSend(2), QStringLiteral("Start"));
    QVERIFY(fixture.linkButton(2)->isChecked()); // a click on it stops the attempts

    QVERIFY(fixture.server.listen(QHostAddress::LocalHost, port));
    QTRY_VERIFY_WITH_TIMEOUT(fixture.server.hasPendingConnections(), 10000);
    peer = fixture.server.nextPendingConnection();
    got.clear();
    QTRY_VERIFY((got += peer->readAll()).startsWith("tick\n"));
    QCOMPARE(fixture.periodicSend(2), QStringLiteral("Stop checked running"));
    QVERIFY(fixture.log(2).contains("\n--- link back ---\ntick\n"));
    QCOMPARE(fixture.log(2).count("--- link lost: "), 1);
    QVERIFY2(fixture.shown(2).contains("tick\n--- link lost: ")
                 && fixture.shown(2).contains("\n--- link back ---\ntick\n"),
             qPrintable(fixture.shown(2)));
    QCOMPARE(fixture.dialogs.count(), 0);

    // The user's own Disconnect ends it for good.
    fixture.press(2, ChannelFixture::Button::Link);
    fixture.server.close();
    QCOMPARE(fixture.linkButton(2)->text(), QStringLiteral("Connect"));
    QVERIFY(!fixture.widget<QTimer>(QStringLiteral("network2RetryTimer"))->isActive());
}

QTEST_MAIN(TestNetworkConnection)
#include "tst_networkconnection.moc"
