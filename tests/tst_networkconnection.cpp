#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "testenvironment.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString hostNotFound
    = QStringLiteral("The host was not found. Please check the host name and port settings.");
const QString refused = QStringLiteral(
    "The connection was refused by the peer. Make sure the server is running, and check that "
    "the host name and port settings are correct.");
const QString badPort = QStringLiteral("The port must be a number from 1 to 65535.");

QPushButton *button(const MainWindow &window, const QString &name)
{
    return window.findChild<QPushButton *>(name);
}

QPushButton *connectButton(const MainWindow &window, int channel)
{
    return button(window, QStringLiteral("PB_ConnectNetwork%1").arg(channel));
}

QString statusText(const MainWindow &window)
{
    return window.findChild<QStatusBar *>(QStringLiteral("statusBar"))->currentMessage();
}

void setTarget(const MainWindow &window, const QString &portText,
               const QString &address = QStringLiteral("127.0.0.1"))
{
    window.findChild<QLineEdit *>(QStringLiteral("LE_IPAddress1"))->setText(address);
    window.findChild<QLineEdit *>(QStringLiteral("LE_Port1"))->setText(portText);
}

QTcpSocket *nextPeer(QTcpServer &server)
{
    if (!server.hasPendingConnections())
        server.waitForNewConnection(2000);
    return server.nextPendingConnection();
}

// A port on which nothing listens: taken from the kernel, then given back.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// The kernel completes handshakes on its own, so a listener that merely delays accept() would
// still let a connect succeed at once. With a backlog of 0 the accept queue holds a single
// connection; once a filler connection occupies it, further SYNs are dropped until the
// listener accepts, which this one does only after 1.5 s.
class LateListener {
public:
    LateListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(m_fd, 0) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_filler.connectToHost(QHostAddress::LocalHost, m_port);
        m_filler.waitForConnected(1000);
        QTimer::singleShot(1500, &m_filler, [this] {
            for (int fd; (fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
                m_accepted << fd;
        });
    }
    ~LateListener()
    {
        for (int fd : qAsConst(m_accepted))
            ::close(fd);
        ::close(m_fd);
    }
    bool isReady() const { return m_filler.state() == QAbstractSocket::ConnectedState; }
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    QTcpSocket m_filler;
    QList<int> m_accepted;
};

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
    QCOMPARE(int(networkPortFromText(text)), port);
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
    TestEnvironment env;
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    MainWindow window;
    ModalDialogHelper dialogs;
    setTarget(window, portPattern.arg(server.serverPort()));
    QPushButton *connect = connectButton(window, channel);

    connect->click();
    QCOMPARE(statusText(window), QStringLiteral("connected Network%1.").arg(channel));
    QCOMPARE(connect->text(), QStringLiteral("Disconnect"));
    QVERIFY(connect->isChecked());
    QTcpSocket *peer = nextPeer(server);
    QVERIFY(peer);
    QTcpSocket *socket
        = window.findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly).at(channel - 1);
    QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);

    QSignalSpy peerGone(peer, &QTcpSocket::disconnected);
    connect->click();
    QCOMPARE(statusText(window), QStringLiteral("disconnected Network%1.").arg(channel));
    QCOMPARE(connect->text(), QStringLiteral("Connect"));
    QVERIFY(!connect->isChecked());
    QVERIFY(!socket->isOpen());
    QTRY_COMPARE(peerGone.count(), 1);
    QCOMPARE(dialogs.count(), 0);
}

void TestNetworkConnection::failedConnect_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port"); // "<closed>": nothing listens, "<late>": accepts late
    QTest::addColumn<QString>("box");
    // One box each, with the reason the socket gave.
    QTest::newRow("nothing listens") << "127.0.0.1"
                                     << "<closed>" << refused;
    // Too slow is reported like a missing host; the wait ends without any socket error.
    QTest::newRow("server accepts only after 1.5 s") << "127.0.0.1"
                                                     << "<late>" << hostNotFound;
    QTest::newRow("unknown host") << "no-such-host.invalid"
                                  << "<closed>" << hostNotFound;
    // Ports that name no port are not tried at all.
    for (const char *port : { "70000", "-1", "0", "abc", "" })
        QTest::addRow("port \"%s\"", port) << "127.0.0.1" << port << badPort;
}

void TestNetworkConnection::failedConnect()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, box);
    const bool late = port == QLatin1String("<late>");
    TestEnvironment env;
    LateListener listener;
    if (late)
        QVERIFY(listener.isReady());
    MainWindow window;
    ModalDialogHelper dialogs;
    setTarget(window,
              late                                    ? QString::number(listener.port())
                  : port == QLatin1String("<closed>") ? QString::number(closedPort())
                                                      : port,
              address);
    QPushButton *connect = connectButton(window, 2);
    QSignalSpy attempts(window.findChild<QTcpSocket *>(QStringLiteral("tcpSocket2")),
                        &QTcpSocket::stateChanged);

    QElapsedTimer clock;
    clock.start();
    connect->click();
    if (late)
        QVERIFY2(clock.elapsed() >= 990, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(dialogs.texts(), QStringList { box });
    QCOMPARE(dialogs.titles(), QStringList { "Client" });
    QVERIFY(!connect->isChecked());
    QCOMPARE(connect->text(), QStringLiteral("Connect"));
    if (box == badPort)
        QCOMPARE(attempts.count(), 0);

    // The next request starts afresh (the old attempt is aborted) and may succeed.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    setTarget(window, QString::number(server.serverPort()));
    connect->click();
    QVERIFY(connect->isChecked());
    QCOMPARE(connect->text(), QStringLiteral("Disconnect"));
}

void TestNetworkConnection::errorAffectsOnlyItsChannel_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("error"); // -1: the peer really closes
    QTest::addColumn<QString>("box");
    const int peerCloses = -1;
    QTest::newRow("Network1 peer closes") << 1 << peerCloses << QString();
    QTest::newRow("Network2 peer closes") << 2 << peerCloses << QString();
    QTest::newRow("Network3 peer closes") << 3 << peerCloses << QString();
    QTest::newRow("Network1 other error")
        << 1 << int(QAbstractSocket::NetworkError)
        << QStringLiteral("The following error occurred: Unknown error.");
    QTest::newRow("Network2 host not found")
        << 2 << int(QAbstractSocket::HostNotFoundError) << hostNotFound;
    QTest::newRow("Network3 refused")
        << 3 << int(QAbstractSocket::ConnectionRefusedError) << refused;
}

void TestNetworkConnection::errorAffectsOnlyItsChannel()
{
    QFETCH(int, channel);
    QFETCH(int, error);
    QFETCH(QString, box);
    TestEnvironment env;
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    MainWindow window;
    ModalDialogHelper dialogs;
    setTarget(window, QString::number(server.serverPort()));
    const QList<QTcpSocket *> sockets
        = window.findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly);
    const QList<QTimer *> timers
        = window.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    QList<QTcpSocket *> peers;
    for (int n = 1; n <= 3; ++n) {
        window.findChild<QLineEdit *>(QStringLiteral("LE_Network%1Cmd").arg(n))->setText("tick");
        window.findChild<QSpinBox *>(QStringLiteral("SB_Network%1TimerSecond").arg(n))
            ->setValue(100);
        connectButton(window, n)->click();
        peers << nextPeer(server);
        QVERIFY(peers.last());
        button(window, QStringLiteral("PB_Network%1TimerStart").arg(n))->click();
        QVERIFY(timers.at(n + 1)->isActive());
    }
    // The fields are read at each connect; later edits leave connected channels alone.
    setTarget(window, QString::number(closedPort()));
    for (QTcpSocket *socket : sockets)
        QCOMPARE(socket->peerPort(), server.serverPort());

    if (error < 0)
        peers.at(channel - 1)->close();
    else
        emit sockets.at(channel - 1)->errorOccurred(QAbstractSocket::SocketError(error));

    QTRY_VERIFY(!connectButton(window, channel)->isChecked());
    QCOMPARE(dialogs.texts(), box.isEmpty() ? QStringList() : QStringList { box });
    // The window tells the truth: the link is down, and the next click connects.
    QCOMPARE(connectButton(window, channel)->text(), QStringLiteral("Connect"));
    QCOMPARE(statusText(window), QStringLiteral("disconnected Network%1.").arg(channel));
    for (int n = 1; n <= 3; ++n) {
        QPushButton *timerButton = button(window, QStringLiteral("PB_Network%1TimerStart").arg(n));
        if (n == channel) {
            QVERIFY(!timers.at(n + 1)->isActive());
            QVERIFY(!timerButton->isChecked());
            QCOMPARE(timerButton->text(), QStringLiteral("Start"));
        } else {
            QVERIFY(connectButton(window, n)->isChecked());
            QVERIFY(timers.at(n + 1)->isActive());
            QCOMPARE(timerButton->text(), QStringLiteral("Stop"));
        }
    }
}

QTEST_MAIN(TestNetworkConnection)
#include "tst_networkconnection.moc"
