#include "corefixture.h"

#include <QProcess>
#include <QStandardPaths>
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
        bool ended = false;
        const bool listening = QTest::qWaitFor(
            [&] {
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, m_port);
                if (probe.waitForConnected(100))
                    return true;
                ended = m_process.state() == QProcess::NotRunning;
                return ended;
            },
            10000);
        if (ended)
            return program + QStringLiteral(" ended at once");
        return listening ? QString() : program + QStringLiteral(" does not listen");
    }

    quint16 port() const { return m_port; }

private:
    QProcess m_process;
    const quint16 m_port = CoreFixture::unusedPort();
};

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
    CoreFixture fixture;
    Peer echo;
    const QString failure = echo.start(
        QStringLiteral("socat"),
        { QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(echo.port()),
          QStringLiteral("EXEC:cat") });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(fixture.connectTo(1, echo.port()));

    QTimer *sendTimer = fixture.sendTimer(1);
    QSignalSpy ticks(sendTimer, &QTimer::timeout);
    fixture.startPeriodicSend(1, QStringLiteral("ping"), 100);
    sendTimer->start(20); // faster than the form allows
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 10, 20000);
    fixture.channel(1).stopPeriodicSend();
    QVERIFY(!sendTimer->isActive());

    const int sends = ticks.count();
    QCOMPARE(fixture.sent(1), sends);
    // An arrival may carry several echoes, so the bytes are compared and not the counters:
    // every send and every echo is one "ping" line in the log.
    QTRY_COMPARE(fixture.log(1), QByteArray("ping\n").repeated(2 * sends));
    const int arrivals = fixture.received(1);
    QVERIFY2(arrivals >= 1 && arrivals <= sends, qPrintable(QString::number(arrivals)));
    QCOMPARE(fixture.failures(1), QStringList());
}

void TestRealPeers::redisAnswersPingAndInfo()
{
    if (QStandardPaths::findExecutable(QStringLiteral("redis-server")).isEmpty())
        QSKIP("redis-server is not installed; the Redis peer test needs it");
    CoreFixture fixture;
    Peer redis;
    const QString failure = redis.start(QStringLiteral("redis-server"),
                                        { QStringLiteral("--port"), QString::number(redis.port()),
                                          QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                                          QStringLiteral("--save"), QString(),
                                          QStringLiteral("--appendonly"), QStringLiteral("no") });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(fixture.connectTo(1, redis.port()));

    // Redis takes a line-feed terminated inline command, which is what ASCII mode sends.
    fixture.send(1, QStringLiteral("PING"));
    QTRY_COMPARE(fixture.received(1), 1);
    QCOMPARE(fixture.log(1), QByteArray("PING\n+PONG\r\n"));
    QCOMPARE(fixture.shown(1), QStringLiteral("PING\n+PONG\r\n"));

    fixture.channel(1).clear();
    // Over loopback the whole reply tends to come in one piece; a small read buffer makes it
    // come in several, as over a slow link.
    fixture.socket(1)->setReadBufferSize(1024);
    fixture.send(1, QStringLiteral("INFO"));
    const int before = QByteArray("PING\n+PONG\r\nINFO\n").size();
    QTRY_VERIFY(holdsWholeBulkReply(fixture.log(1).mid(before)));
    QVERIFY(fixture.log(1).mid(before).contains("redis_version:"));
    QVERIFY2(fixture.received(1) > 1, qPrintable(QString::number(fixture.received(1))));
    QCOMPARE(fixture.failures(1), QStringList());
}

QTEST_GUILESS_MAIN(TestRealPeers)
#include "tst_realpeers.moc"
