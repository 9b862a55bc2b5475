#include "mainwindow.h"
#include "modaldialoghelper.h"
#include "testenvironment.h"

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

namespace {

// A server program run by the test on a free loopback port and killed with the test.
class Peer {
public:
    ~Peer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Empty when the peer listens; otherwise why not.
    QString start(const QString &program, const QStringList &arguments)
    {
        m_process.setProgram(QStandardPaths::findExecutable(program));
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return program + QStringLiteral(" did not start: ") + m_process.errorString();
        for (int attempt = 0; attempt < 100; ++attempt) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            if (probe.waitForConnected(100))
                return {};
            if (m_process.state() == QProcess::NotRunning)
                return program + QStringLiteral(" ended at once");
            QTest::qWait(50);
        }
        return program + QStringLiteral(" does not listen");
    }

    quint16 port() const { return m_port; }

private:
    static quint16 freePort()
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        return server.serverPort();
    }

    QProcess m_process;
    const quint16 m_port = freePort();
};

QLineEdit *lineEdit(const MainWindow &window, const char *name)
{
    return window.findChild<QLineEdit *>(QString::fromLatin1(name));
}

QPushButton *button(const MainWindow &window, const char *name)
{
    return window.findChild<QPushButton *>(QString::fromLatin1(name));
}

void connectNetwork1(const MainWindow &window, quint16 port)
{
    lineEdit(window, "LE_IPAddress1")->setText("127.0.0.1");
    lineEdit(window, "LE_Port1")->setText(QString::number(port));
    button(window, "PB_ConnectNetwork1")->click();
}

// Redis answers INFO with one bulk string: "$<length>\r\n<text>\r\n".
bool holdsWholeBulkReply(const QByteArray &bytes)
{
    const int header = bytes.indexOf('$');
    const int headerEnd = bytes.indexOf("\r\n", header);
    if (header < 0 || headerEnd < 0)
        return false;
    const int length = bytes.mid(header + 1, headerEnd - header - 1).toInt();
    return length > 0 && bytes.size() == headerEnd + 2 + length + 2 && bytes.endsWith("\r\n");
}

} // namespace

class TestRealPeers : public QObject {
    Q_OBJECT

private slots:
    void echoServerReturnsEveryPeriodicSend();
    void redisAnswersPingAndInfo();
};

void TestRealPeers::echoServerReturnsEveryPeriodicSend()
{
    if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
        QSKIP("socat is not installed; the echo server test needs it");
    TestEnvironment env;
    Peer echo;
    const QString failure = echo.start(
        QStringLiteral("socat"),
        { QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(echo.port()),
          QStringLiteral("EXEC:cat") });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    MainWindow window;
    ModalDialogHelper dialogs;
    connectNetwork1(window, echo.port());
    QVERIFY(button(window, "PB_ConnectNetwork1")->isChecked());

    lineEdit(window, "LE_Network1Cmd")->setText("ping");
    window.findChild<QSpinBox *>(QStringLiteral("SB_Network1TimerSecond"))->setValue(100);
    QTimer *sendTimer = window.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly).at(2);
    QSignalSpy ticks(sendTimer, &QTimer::timeout);
    button(window, "PB_Network1TimerStart")->click();
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 10, 20000);
    button(window, "PB_Network1TimerStart")->click();
    QVERIFY(!sendTimer->isActive());

    const int sends = ticks.count();
    QCOMPARE(lineEdit(window, "LE_Network1SentCount")->text(), QString::number(sends));
    // An arrival may carry several echoes, so the bytes are compared and not the counters:
    // every send and every echo is one "ping" line in the log.
    QTRY_COMPARE(env.logContents(QStringLiteral("-network1.txt")),
                 QByteArray("ping\n").repeated(2 * sends));
    const int arrivals = lineEdit(window, "LE_Network1RecvCount")->text().toInt();
    QVERIFY2(arrivals >= 1 && arrivals <= sends, qPrintable(QString::number(arrivals)));
    QCOMPARE(dialogs.count(), 0);
}

void TestRealPeers::redisAnswersPingAndInfo()
{
    if (QStandardPaths::findExecutable(QStringLiteral("redis-server")).isEmpty())
        QSKIP("redis-server is not installed; the Redis peer test needs it");
    TestEnvironment env;
    Peer redis;
    const QString failure = redis.start(QStringLiteral("redis-server"),
                                        { QStringLiteral("--port"), QString::number(redis.port()),
                                          QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                                          QStringLiteral("--save"), QString(),
                                          QStringLiteral("--appendonly"), QStringLiteral("no") });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    MainWindow window;
    ModalDialogHelper dialogs;
    connectNetwork1(window, redis.port());
    QVERIFY(button(window, "PB_ConnectNetwork1")->isChecked());
    QLineEdit *received = lineEdit(window, "LE_Network1RecvCount");
    auto *view = window.findChild<QTextEdit *>(QStringLiteral("TE_Network1"));

    // Redis takes a line-feed terminated inline command, which is what ASCII mode sends.
    lineEdit(window, "LE_Network1Cmd")->setText("PING");
    button(window, "PB_SendNetwork1")->click();
    QTRY_COMPARE(received->text(), QStringLiteral("1"));
    QCOMPARE(env.logContents(QStringLiteral("-network1.txt")), QByteArray("PING\n+PONG\r\n"));
    QCOMPARE(view->toPlainText(), QStringLiteral("PING\n+PONG\n"));

    button(window, "PB_ClearNetwork1")->click();
    // Over loopback the whole reply tends to come in one piece; a small read buffer makes it
    // come in several, as over a slow link.
    window.findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly)
        .at(0)
        ->setReadBufferSize(1024);
    lineEdit(window, "LE_Network1Cmd")->setText("INFO");
    button(window, "PB_SendNetwork1")->click();
    const int before = QByteArray("PING\n+PONG\r\nINFO\n").size();
    QTRY_VERIFY(holdsWholeBulkReply(env.logContents(QStringLiteral("-network1.txt")).mid(before)));
    const QByteArray reply = env.logContents(QStringLiteral("-network1.txt")).mid(before);
    QVERIFY(reply.contains("redis_version:"));
    QVERIFY2(received->text().toInt() > 1, qPrintable(received->text()));
    QCOMPARE(dialogs.count(), 0);
}

QTEST_MAIN(TestRealPeers)
#include "tst_realpeers.moc"
