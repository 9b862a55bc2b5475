#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

namespace {

// One main window in a throw-away home, a server on 127.0.0.1 for it to reach and the server
// side of the channel under test.
struct Bench {
    explicit Bench(int channel)
        : channel(channel)
    {
        server.listen(QHostAddress::LocalHost, 0);
        window.findChild<QLineEdit *>(QStringLiteral("LE_IPAddress1"))->setText("127.0.0.1");
        window.findChild<QLineEdit *>(QStringLiteral("LE_Port1"))
            ->setText(QString::number(server.serverPort()));
    }

    template<class T> T *widget(const char *pattern) const
    {
        return window.findChild<T *>(QString::fromLatin1(pattern).arg(channel));
    }

    bool connectChannel()
    {
        widget<QPushButton>("PB_ConnectNetwork%1")->click();
        if (!server.hasPendingConnections())
            server.waitForNewConnection(2000);
        peer = server.nextPendingConnection();
        return peer && widget<QPushButton>("PB_ConnectNetwork%1")->isChecked();
    }

    QTcpSocket *socket() const
    {
        return window.findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly)
            .at(channel - 1);
    }
    QTimer *sendTimer() const
    {
        return window.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly).at(channel + 1);
    }
    QString view() const { return widget<QTextEdit>("TE_Network%1")->toPlainText(); }
    QString sent() const { return widget<QLineEdit>("LE_Network%1SentCount")->text(); }
    QString received() const { return widget<QLineEdit>("LE_Network%1RecvCount")->text(); }
    QString status() const
    {
        return window.findChild<QStatusBar *>(QStringLiteral("statusBar"))->currentMessage();
    }
    QByteArray log() const
    {
        return env.logContents(QStringLiteral("-network%1.txt").arg(channel));
    }
    QByteArray peerBytes()
    {
        peerReceived += peer->readAll();
        return peerReceived;
    }

    const int channel;
    TestEnvironment env;
    QTcpServer server;
    MainWindow window;
    ModalDialogHelper dialogs;
    QTcpSocket *peer = nullptr;
    QByteArray peerReceived;
};

} // namespace

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
};

void TestNetworkTraffic::sendBytes_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<bool>("byReturn");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("failure"); // status text of a send that must not leave
    QTest::newRow("Network1 ASCII gets a line feed, no CR")
        << 1 << false << false << "AT" << QByteArray("AT\n") << QString();
    QTest::newRow("Network2 ASCII is not trimmed, Return sends")
        << 2 << false << true << " a b " << QByteArray(" a b \n") << QString();
    QTest::newRow("Network3 hex, either case")
        << 3 << true << false << "01 a0 FF" << QByteArray::fromHex("01a0ff") << QString();
    QTest::newRow("Network1 hex, spaces around are not sent")
        << 1 << true << true << "  01 a0 FF  " << QByteArray::fromHex("01a0ff") << QString();
    QTest::newRow("Network2 hex without a digit is not sent")
        << 2 << true << false << "ping" << QByteArray()
        << "Send failed on Network2: the command holds no hexadecimal digit";
    QTest::newRow("Network3 hex with an odd digit is not sent")
        << 3 << true << true << "01 a0 FF 4" << QByteArray()
        << "Send failed on Network3: the command holds an odd number of hexadecimal digits (7), "
           "and every byte needs two";
}

void TestNetworkTraffic::sendBytes()
{
    QFETCH(int, channel);
    QFETCH(bool, hex);
    QFETCH(bool, byReturn);
    QFETCH(QString, command);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, failure);
    Bench bench(channel);
    QVERIFY(bench.connectChannel());
    bench.widget<QRadioButton>(hex ? "RB_Network%1Hex" : "RB_Network%1Ascii")->click();
    auto *commandLine = bench.widget<QLineEdit>("LE_Network%1Cmd");
    commandLine->setText(command);

    if (byReturn)
        QTest::keyClick(commandLine, Qt::Key_Return);
    else
        bench.widget<QPushButton>("PB_SendNetwork%1")->click();

    if (!failure.isEmpty()) {
        QCOMPARE(bench.status(), failure);
        QCOMPARE(bench.sent(), QStringLiteral("0"));
        QVERIFY(bench.view().isEmpty());
        QVERIFY(bench.log().isEmpty());
        // Nothing went out ahead of the next good command.
        commandLine->setText(QStringLiteral("41"));
        bench.widget<QPushButton>("PB_SendNetwork%1")->click();
        QTRY_COMPARE(bench.peerBytes(), QByteArray("A"));
        return;
    }
    QTRY_COMPARE(bench.peerBytes(), bytes);
    QCOMPARE(bench.sent(), QStringLiteral("1"));
    // The view and the log show the command as typed, not the bytes.
    QCOMPARE(bench.view(), command + QLatin1Char('\n'));
    QCOMPARE(bench.log(), (command + QLatin1Char('\n')).toLocal8Bit());
    QCOMPARE(commandLine->text(), command);
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
    Bench bench(channel);
    const QString sentBefore = bench.sent();

    // The link is checked before the command: an empty one is refused as well.
    bench.widget<QPushButton>("PB_SendNetwork%1")->click();
    bench.widget<QLineEdit>("LE_Network%1Cmd")->setText("AT");
    bench.widget<QPushButton>("PB_SendNetwork%1")->click();
    auto *timerButton = bench.widget<QPushButton>("PB_Network%1TimerStart");
    timerButton->click();

    QCOMPARE(bench.dialogs.texts(), QStringList({ sendRefusal, sendRefusal, timerRefusal }));
    QCOMPARE(bench.dialogs.titles(), QStringList({ "Error", "Error", "Error" }));
    QCOMPARE(bench.sent(), sentBefore);
    QVERIFY(bench.view().isEmpty());
    QVERIFY(!timerButton->isChecked());
    QVERIFY(!bench.sendTimer()->isActive());
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
    QTest::newRow("Network2 unfinished character when the peer closes")
        << 2 << false << unfinished << "peer closes"
        << "x\ufffd"
        << "x\ufffd";
}

void TestNetworkTraffic::receive()
{
    QFETCH(int, channel);
    QFETCH(bool, hex);
    QFETCH(QByteArrayList, arrivals);
    QFETCH(QString, then);
    QFETCH(QString, shown);
    QFETCH(QString, logged);
    Bench bench(channel);
    QVERIFY(bench.connectChannel());
    bench.widget<QRadioButton>(hex ? "RB_Network%1Hex" : "RB_Network%1Ascii")->click();

    for (int i = 0; i < arrivals.size(); ++i) {
        bench.peer->write(arrivals.at(i));
        QTRY_COMPARE(bench.received(), QString::number(i + 1));
    }
    if (then == "hex")
        bench.widget<QRadioButton>("RB_Network%1Hex")->click();
    else if (then == "clear")
        bench.widget<QPushButton>("PB_ClearNetwork%1")->click();
    else if (then == "disconnect")
        bench.widget<QPushButton>("PB_ConnectNetwork%1")->click();
    else if (then == "peer closes")
        bench.peer->close();
    QTRY_COMPARE(bench.log(), logged.toLocal8Bit());
    QCOMPARE(bench.view(), shown);
}

void TestNetworkTraffic::emptyCommandArrivalsAndClear()
{
    Bench bench(1);
    QVERIFY(bench.connectChannel());
    bench.peer->write("a");
    QTRY_COMPARE(bench.view(), QStringLiteral("a"));
    bench.peer->write("bb");
    QTRY_COMPARE(bench.received(), QStringLiteral("2"));
    // An empty command does nothing at all; whatever it wrote would arrive ahead of "cmd".
    auto *send = bench.widget<QPushButton>("PB_SendNetwork%1");
    send->click();
    bench.widget<QLineEdit>("LE_Network%1Cmd")->setText("cmd");
    send->click();
    QTRY_COMPARE(bench.peerBytes(), QByteArray("cmd\n"));
    QCOMPARE(bench.sent(), QStringLiteral("1"));
    QCOMPARE(bench.view(), QStringLiteral("abbcmd\n"));
    QCOMPARE(bench.dialogs.count(), 0);

    bench.widget<QPushButton>("PB_ClearNetwork%1")->click();
    QCOMPARE(bench.sent(), QStringLiteral("0"));
    QCOMPARE(bench.received(), QStringLiteral("0"));
    QVERIFY(bench.view().isEmpty());

    // The log keeps what was cleared from the view and goes on with what follows.
    bench.peer->write("c");
    QTRY_COMPARE(bench.received(), QStringLiteral("1"));
    QCOMPARE(bench.view(), QStringLiteral("c"));
    QCOMPARE(bench.log(), QByteArray("abbcmd\nc"));
    QVERIFY(bench.socket()->isOpen());
}

void TestNetworkTraffic::periodicSendTicksAtSpinBoxPeriod()
{
    Bench bench(3);
    QVERIFY(bench.connectChannel());
    bench.widget<QLineEdit>("LE_Network%1Cmd")->setText("t");
    auto *period = bench.widget<QSpinBox>("SB_Network%1TimerSecond");
    period->setValue(200);
    auto *timerButton = bench.widget<QPushButton>("PB_Network%1TimerStart");
    QSignalSpy ticks(bench.sendTimer(), &QTimer::timeout);

    QElapsedTimer clock;
    clock.start();
    timerButton->click();
    QCOMPARE(timerButton->text(), QStringLiteral("Stop"));
    QVERIFY(timerButton->isChecked());
    // The period is read only at the start.
    period->setValue(5000);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 5, 10000);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 900, qPrintable(QString::number(elapsed)));
    QCOMPARE(bench.sendTimer()->interval(), 200);

    timerButton->click();
    QCOMPARE(timerButton->text(), QStringLiteral("Start"));
    QVERIFY(!bench.sendTimer()->isActive());
    const QByteArray expected = QByteArray("t\n").repeated(ticks.count());
    QCOMPARE(bench.sent(), QString::number(ticks.count()));
    QTRY_COMPARE(bench.peerBytes(), expected);
    QCOMPARE(bench.dialogs.count(), 0);
}

void TestNetworkTraffic::periodicSendStopsWhenLinkEnds_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("status");
    QTest::newRow("user disconnects") << "disconnect"
                                      << "disconnected Network2.";
    QTest::newRow("peer closes") << "peer"
                                 << "disconnected Network2.";
    // The command stops being one the channel can send whole.
    QTest::newRow("hex command without a digit")
        << "hex"
        << "Send failed on Network2: the command holds no hexadecimal digit";
    // Closed behind the window's back: no socket error, only the next tick notices.
    QTest::newRow("socket closed under it") << "close"
                                            << "connected Network2.";
}

void TestNetworkTraffic::periodicSendStopsWhenLinkEnds()
{
    QFETCH(QString, how);
    QFETCH(QString, status);
    Bench bench(2);
    QVERIFY(bench.connectChannel());
    bench.widget<QLineEdit>("LE_Network%1Cmd")->setText("t");
    bench.widget<QSpinBox>("SB_Network%1TimerSecond")->setValue(100);
    auto *timerButton = bench.widget<QPushButton>("PB_Network%1TimerStart");
    timerButton->click();
    QTRY_COMPARE(bench.sent(), QStringLiteral("2"));

    if (how == "disconnect")
        bench.widget<QPushButton>("PB_ConnectNetwork%1")->click();
    else if (how == "peer")
        bench.peer->close();
    else if (how == "hex")
        bench.widget<QRadioButton>("RB_Network%1Hex")->click();
    else
        bench.socket()->close();

    QTRY_VERIFY(!bench.sendTimer()->isActive());
    QVERIFY(!timerButton->isChecked());
    QCOMPARE(timerButton->text(), QStringLiteral("Start"));
    QCOMPARE(bench.status(), status);
    QCOMPARE(bench.dialogs.count(), 0);
    QCOMPARE(bench.view(), QString("t\n").repeated(bench.sent().toInt()));
}

void TestNetworkTraffic::sendOnLostLinkIsNotCounted_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("periodic");
    QTest::newRow("Network1 Send button") << 1 << false;
    QTest::newRow("Network2 Send button") << 2 << false;
    QTest::newRow("Network3 periodic send") << 3 << true;
}

void TestNetworkTraffic::sendOnLostLinkIsNotCounted()
{
    QFETCH(int, channel);
    QFETCH(bool, periodic);
    Bench bench(channel);
    QVERIFY(bench.connectChannel());
    bench.widget<QLineEdit>("LE_Network%1Cmd")->setText("lost");
    bench.peer->close();
    QTRY_VERIFY(!bench.widget<QPushButton>("PB_ConnectNetwork%1")->isChecked());
    // A socket whose peer has gone still counts as open.
    QVERIFY(bench.socket()->isOpen());
    const QString sentBefore = bench.sent();

    auto *timerButton = bench.widget<QPushButton>("PB_Network%1TimerStart");
    if (periodic) {
        bench.widget<QSpinBox>("SB_Network%1TimerSecond")->setValue(100);
        timerButton->click();
        QVERIFY(bench.sendTimer()->isActive());
    } else {
        bench.widget<QPushButton>("PB_SendNetwork%1")->click();
    }

    const QString failure
        = QStringLiteral("Send failed on Network%1: Socket is not connected").arg(channel);
    QTRY_COMPARE(bench.status(), failure);
    QCOMPARE(bench.sent(), sentBefore);
    QVERIFY(bench.view().isEmpty());
    QVERIFY(bench.log().isEmpty());
    QVERIFY(!bench.sendTimer()->isActive());
    QVERIFY(!timerButton->isChecked());
    QCOMPARE(timerButton->text(), QStringLiteral("Start"));
    QCOMPARE(bench.dialogs.count(), 0);
}

QTEST_MAIN(TestNetworkTraffic)
#include "tst_networktraffic.moc"
