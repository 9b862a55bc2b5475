#include "corefixture.h"
#include "scriptrunner.h"
#include "scriptsuite.h"
#include "tcppeer.h"
#include "testdata.h"

#include <QSignalSpy>
#include <QSocketNotifier>
#include <QXmlStreamReader>
#include <QtTest>

#include <memory>

// Scripts run against a serial channel on a pty and a network channel to a server on 127.0.0.1,
// with no window: what they send and receive, what they judge, and what their log and report say.
class ScriptTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(Pty().isValid(), "no pseudo-terminal available"); }
    void runs_data();
    void runs();
    void timeLimit_data();
    void timeLimit();
    void expectDuringFlood();
};

namespace {
// The device and the peer answer whole lines they know, and nothing else.
const QHash<QByteArray, QByteArray> answers {
    { "AT", "\r\nOK\r\n" },
    { "AT+CSQ", "\r\n+CSQ: 23,99\r\n\r\nOK\r\n" },
    { "MULTI", "one;two;three\n" },
    { "PING", "PONG\n" },
    { "LINES", "first\r\nsecond\nthird\r\r\n" },
};

QByteArray answer(QByteArray &pending, const QByteArray &bytes)
{
    QByteArray replies;
    pending += bytes;
    for (int end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
        replies += answers.value(pending.left(end));
    return replies;
}

// A script run to its end on the fixture's two channels, as a run nobody watches. HANGUP makes
// the device go away, CLOSE the peer close the link.
struct Run {
    Run()
    {
        fixture.server.setMaxPendingConnections(1);
        QObject::connect(&fixture.server, &QTcpServer::newConnection, [this] {
            QTcpSocket *peer = fixture.server.nextPendingConnection();
            QObject::connect(peer, &QTcpSocket::readyRead, peer, [this, peer] {
                const QByteArray bytes = peer->readAll();
                peer->write(answer(fromChannel, bytes));
                if (bytes.contains("CLOSE\n"))
                    peer->disconnectFromHost();
            });
        });
        QObject::connect(&device, &QSocketNotifier::activated, [this] {
            const QByteArray bytes = fixture.pty.readAvailable();
            fixture.pty.write(answer(fromSerial, bytes));
            if (bytes.contains("HANGUP\n")) {
                device.setEnabled(false);
                fixture.pty.closeMaster();
            }
        });
    }
    // Runs the script (PORT: the server's) until it ends; false when it never does.
    bool run(QByteArray source, bool wait = true)
    {
        source.replace("PORT", QByteArray::number(fixture.server.serverPort()));
        runner = std::make_unique<ScriptSuite>(
            QList<RunOptions::Script> { { path, source } },
            ScriptRunner::Channels { &fixture.serial(), { &fixture.network(), nullptr, nullptr } });
        runner->runners().constFirst()->log().open(fixture.env.workPath()
                                                   + QStringLiteral("/script.txt"));
        runner->setTimestamps(Timestamps::Log);
        runner->setArgs({ { "speed", "115200" } });
        runner->setTimeLimitMs(timeLimitMs);
        runner->setReportPath(report);
        runner->run();
        return !wait || QTest::qWaitFor([this] { return runner->ended(); }, 30000);
    }
    QByteArray log() const { return fileContents(fixture.env.workPath() + "/script.txt"); }

    CoreFixture fixture;
    QSocketNotifier device { fixture.pty.masterFd(), QSocketNotifier::Read };
    QByteArray fromSerial;
    QByteArray fromChannel;
    QString path = fixture.env.workPath() + QStringLiteral("/test.lua");
    QString report = fixture.env.workPath() + QStringLiteral("/report.xml");
    qint64 timeLimitMs = 3600 * 1000;
    std::unique_ptr<ScriptSuite> runner;
};

// The report's testcases as "name: passed", "name: failed" or "name: error", with the suite's
// own counts checked against them.
QStringList readReport(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return { "no report" };
    QXmlStreamReader xml(&file);
    QStringList cases;
    QXmlStreamAttributes suite;
    while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("testsuite"))
            suite = xml.attributes();
        else if (xml.name() == QLatin1String("testcase"))
            cases << xml.attributes().value("name").toString() + ": passed";
        else if (xml.name() == QLatin1String("failure") || xml.name() == QLatin1String("error"))
            cases.last().replace("passed", xml.name().toString());
    }
    if (xml.hasError())
        return { "malformed: " + xml.errorString() };
    const QString counts
        = QStringLiteral("%1 tests, %2 failures, %3 errors")
              .arg(suite.value("tests"), suite.value("failures"), suite.value("errors"));
    return cases << counts;
}
} // namespace

void ScriptTest::runs_data()
{
    QTest::addColumn<QByteArray>("script"); // PORT: the server's; UNUSED: a port nobody listens on
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("report"); // the testcases, then the suite's counts
    QTest::addColumn<QStringList>("logged"); // lines of the script's log, in order

    QTest::newRow("passing script on the serial line")
        << QByteArray("check(serial:open(), 'the port opens')\n"
                      "serial:send('AT')\n"
                      "check(serial:expect('OK', 2000) == '\\r\\nOK', 'modem answers AT')\n"
                      "serial:sendhex('41 54 2B 43 53 51 0A')\n"
                      "local rssi, ber = serial:expect{pattern = '%+CSQ: (%d+),(%d+)', "
                      "timeout = 2000}\n"
                      "note('signal', rssi, ber)\n"
                      "check(rssi == '23' and ber == '99', 'signal quality')\n"
                      "check(serial:expect{text = 'OK'} == '\\r\\n\\r\\nOK')\n")
        << 0
        << QStringList { "the port opens: passed", "modem answers AT: passed",
                         "signal quality: passed", "check at line 8: passed",
                         "4 tests, 0 failures, 0 errors" }
        << QStringList { "--- script %1 started ---", "--- check \"the port opens\": passed ---",
                         "signal 23 99", "--- script ended: 4 passed, 0 failed ---" };
    QTest::newRow("control lines and a break on a pty")
        << QByteArray("local closed, why = serial:lines()\n"
                      "check(closed == nil and why == 'the serial port is not open', 'closed')\n"
                      "check(serial:open(), 'open')\n"
                      "local lines, none = serial:lines()\n"
                      "note(none)\n"
                      "check(lines == nil and none:find('has no modem lines', 1, true), 'none')\n"
                      "local before = elapsed()\n"
                      "check(serial:sendbreak(50) == true, 'break')\n"
                      "check(elapsed() - before >= 50, 'the break is over')\n"
                      "check(not pcall(serial.sendbreak, serial, 0), 'no break of 0 ms')\n")
        << 0
        << QStringList { "closed: passed",
                         "open: passed",
                         "none: passed",
                         "break: passed",
                         "the break is over: passed",
                         "no break of 0 ms: passed",
                         "6 tests, 0 failures, 0 errors" }
        << QStringList { "has no modem lines to read" };
    QTest::newRow("named tests: a failed check or an error fails its test, the script goes on")
        << QByteArray("test('adds', function() check(1 + 1 == 2) check(true) end)\n"
                      "test('bound to fail', function() check(false, 'never') end)\n"
                      "test('errs', function() local t = nil; return t.field end)\n"
                      "check(true, 'outside')\n")
        << 3
        << QStringList { "adds: passed", "bound to fail: failure", "errs: error", "outside: passed",
                         "4 tests, 1 failures, 1 errors" }
        << QStringList { "--- test \"adds\": passed ---", "--- test \"bound to fail\": failed ---",
                         "--- error in test \"errs\": test.lua:3: attempt to index",
                         "--- check \"outside\": passed ---" };
    QTest::newRow("a test name used twice is refused at the second")
        << QByteArray("test('once', function() check(true) end)\n"
                      "test('once', function() check(true) end)\n")
        << 3
        << QStringList { "once: passed", "script error: error", "2 tests, 0 failures, 1 errors" }
        << QStringList { "--- error: test.lua:2: a test named \"once\" ran already ---" };
    QTest::newRow("a script with no check fails")
        << QByteArray("note('nothing judged')\n") << 1
        << QStringList { "no checks: failure", "1 tests, 1 failures, 0 errors" }
        << QStringList { "nothing judged" };
    QTest::newRow("arguments, read-only")
        << QByteArray("check(args.speed == '115200' and args.none == nil, 'given')\n"
                      "check(not pcall(function() args.speed = '9600' end), 'read-only')\n"
                      "check(args.speed == '115200', 'unchanged')\n")
        << 0
        << QStringList { "given: passed", "read-only: passed", "unchanged: passed",
                         "3 tests, 0 failures, 0 errors" }
        << QStringList();
    QTest::newRow("expect with alternatives, readline, and a failure that explains itself")
        << QByteArray("net1:connect('127.0.0.1', PORT)\n"
                      "net1:send('PING')\n"
                      "local i, o = net1:expect{'NOPE', {pattern = 'P(.)NG'}, timeout = 2000}\n"
                      "check(i == 2 and o == 'O', 'the second matched')\n"
                      "net1:send('LINES')\n"
                      "local a, b, c = net1:readline(2000), net1:readline(2000), "
                      "net1:readline(2000)\n"
                      "check(a == '' and b == 'first' and c == 'second', 'lines')\n"
                      "check(net1:readline(2000) == 'third', 'a line that ends CR CR LF')\n"
                      "local got, why = net1:expect('NEVER', 100)\n"
                      "check(got == nil and why == 'no match within 100 ms', why)\n"
                      "net1:send('PING')\n"
                      "check(net1:expect('NEVER', 200), 'answers NEVER')\n")
        << 1 << QStringList { "the second matched: passed",
                              "lines: passed",
                              "a line that ends CR CR LF: passed",
                              "no match within 100 ms: passed",
                              "answers NEVER: failure",
                              "5 tests, 1 failures, 0 errors" }
        << QStringList { "--- check \"answers NEVER\": failed ---",
                         "--- Network1: expect \"NEVER\": no match within 200 ms; arrived "
                         "\"PONG\\n\" ---" };
    QTest::newRow("a failing check and the script goes on")
        << QByteArray("check(1 > 2, 'bound to fail')\ncheck(true, 'after')\n") << 1
        << QStringList { "bound to fail: failure", "after: passed",
                         "2 tests, 1 failures, 0 errors" }
        << QStringList { "--- check \"bound to fail\": failed ---",
                         "--- script ended: 1 passed, 1 failed ---" };
    QTest::newRow("request and answer on a network channel")
        << QByteArray(
               "local ok, why = net1:connect('127.0.0.1', PORT)\n"
               "check(ok and net1:state() == 'open', 'connected')\n"
               "net1:send('PING')\n"
               "check(net1:expect('PONG', 2000) == 'PONG', 'answered')\n"
               "net1:disconnect()\n"
               "check(net1:state() == 'closed' and tostring(net1) == 'Network1', 'closed')\n")
        << 0
        << QStringList { "connected: passed", "answered: passed", "closed: passed",
                         "3 tests, 0 failures, 0 errors" }
        << QStringList { "--- script ended: 3 passed, 0 failed ---" };
    QTest::newRow("a link that is not open says why")
        << QByteArray("local ok, why = serial:send('AT')\n"
                      "check(not ok and why == 'the serial port is not open', why)\n"
                      "ok, why = net1:sendhex('00')\n"
                      "check(not ok and why == 'Network1 is not connected', why)\n"
                      "ok, why = net1:connect('127.0.0.1', UNUSED)\n"
                      "check(not ok and why == '127.0.0.1:UNUSED: The connection was refused by "
                      "the peer. Make sure the server is running, and check that the host name "
                      "and port settings are correct.', 'refused, naming the peer')\n"
                      "ok, why = net1:connect('127.0.0.1', 'http')\n"
                      "check(not ok and why:find('1 to 65535') ~= nil, why)\n")
        << 0
        << QStringList { "the serial port is not open: passed", "Network1 is not connected: passed",
                         "refused, naming the peer: passed",
                         "The port must be a number from 1 to 65535.: passed",
                         "4 tests, 0 failures, 0 errors" }
        << QStringList();
    // Lost for good (no --reconnect): closed at once, and an expect on it ends at once, with why,
    // not after its time-out, which is longer than the run may take.
    QTest::newRow("the device goes away while an expect waits")
        << QByteArray("check(serial:open(), 'open')\n"
                      "serial:send('HANGUP')\n"
                      "local got, why = serial:expect('NEVER', 600000)\n"
                      "check(got == nil and why:find('^link lost: the device on .* was "
                      "disconnected or stopped responding$') ~= nil, 'the expect ends with the "
                      "loss')\n"
                      "check(serial:state() == 'closed', 'closed')\n"
                      "local ok, again = serial:send('AT')\n"
                      "check(not ok and again == 'the serial port is not open', again)\n")
        << 0
        << QStringList { "open: passed", "the expect ends with the loss: passed", "closed: passed",
                         "the serial port is not open: passed", "4 tests, 0 failures, 0 errors" }
        << QStringList { "--- link lost on Serial: the device on ",
                         "--- check \"the expect ends with the loss\": passed ---" };
    QTest::newRow("the peer closes while an expect waits")
        << QByteArray("check(net1:connect('127.0.0.1', PORT), 'connected')\n"
                      "net1:send('CLOSE')\n"
                      "local got, why = net1:expect('NEVER', 600000)\n"
                      "check(got == nil and why == 'link lost: the peer closed the connection', "
                      "why)\n"
                      "check(net1:state() == 'closed', 'closed')\n"
                      "local ok, again = net1:send('PING')\n"
                      "check(not ok and again == 'Network1 is not connected', again)\n")
        << 0
        << QStringList { "connected: passed", "link lost: the peer closed the connection: passed",
                         "closed: passed", "Network1 is not connected: passed",
                         "4 tests, 0 failures, 0 errors" }
        << QStringList { "--- link lost on Network1: the peer closed the connection ---",
                         "--- check \"link lost: the peer closed the connection\": passed ---" };
    // A command that could never wait whole to be sent says so, not that the peer is slow.
    QTest::newRow("a command over the cap says so")
        << QByteArray("net1:connect('127.0.0.1', PORT)\n"
                      "local ok, why = net1:send(string.rep('x', 1048576))\n"
                      "check(not ok and why == 'the command is 1048577 bytes, more than the "
                      "1048576 bytes (1 MiB) that may wait to be sent', why)\n")
        << 0
        << QStringList { "the command is 1048577 bytes, more than the 1048576 bytes (1 MiB) that "
                         "may wait to be sent: passed",
                         "1 tests, 0 failures, 0 errors" }
        << QStringList();
    // Lua's load with text alone, and each line of a note stamped as a line of its own.
    QTest::newRow("load with one argument, a note of three lines")
        << QByteArray("check(load('return 1')() == 1, 'load(text)')\n"
                      "check(load('return x', 'chunk', 't', { x = 2 })() == 2, 'load with all')\n"
                      "note('first\\r\\nsecond\\nthird')\n")
        << 0
        << QStringList { "load(text): passed", "load with all: passed",
                         "2 tests, 0 failures, 0 errors" }
        << QStringList { " first\n", " second\n", " third\n" };
    QTest::newRow("an expect that times out, on time")
        << QByteArray("serial:open()\n"
                      "local before = elapsed()\n"
                      "local reply = serial:expect('NEVER', 300)\n"
                      "local late = elapsed() - before - 300\n"
                      "check(reply == nil, 'nothing matched')\n"
                      "check(late >= 0 and late < 50, 'within 50 ms of its deadline')\n"
                      "note('late by', late)\n")
        << 0
        << QStringList { "nothing matched: passed", "within 50 ms of its deadline: passed",
                         "2 tests, 0 failures, 0 errors" }
        << QStringList { "--- expect \"NEVER\" on Serial: no match within 300 ms ---" };
    QTest::newRow("what follows a match is left for the next expect")
        << QByteArray("serial:open()\nserial:send('MULTI')\n"
                      "local first = serial:expect(';')\n"
                      "local second = serial:expect{pattern = '(%a+);'}\n"
                      "local third = serial:expect('\\n')\n"
                      "check(first == 'one;' and second == 'two' and third == 'three\\n', 'in "
                      "order')\n"
                      "serial:send('MULTI')\nsleep(200)\nserial:discard()\n"
                      "check(serial:expect('one', 0) == nil, 'discarded')\n")
        << 0
        << QStringList { "in order: passed", "discarded: passed", "2 tests, 0 failures, 0 errors" }
        << QStringList();

    // A script stops at the first error, named with its line, after what it did before.
    const std::pair<const char *, const char *> errors[] = {
        { "io.open('/etc/passwd')",
          "io.open is not available to a script: a script cannot read or write files or start "
          "programs" },
        { "os.execute('true')", "os.execute is not available to a script" },
        { "require('socket')", "require is not available to a script" },
        { "dofile('/etc/passwd')", "dofile is not available to a script" },
        { "load('\\27LuaT\\0\\25\\147\\r\\n\\26\\n')",
          "binary chunks are not allowed in a script" },
        { "local t = nil\nlocal x = t.field", "attempt to index a nil value (local 't')" },
        { "serial.send('AT')", "bad argument #1 to 'send' (channel expected, got string)" },
        { "serial:expect{pattern = '[a'}", "malformed pattern (missing ']')" },
        { "sleep(-1)", "the time to sleep must be a number of milliseconds from 0 to 86400000" },
    };
    for (const auto &[code, error] : errors) {
        const QByteArray source = QByteArray("check(true, 'before')\n") + code + '\n';
        const QString where = QStringLiteral("test.lua:%1: ").arg(source.count('\n'));
        QTest::addRow("error: %s", code)
            << source << 3
            << QStringList { "before: passed", "script error: error",
                             "2 tests, 0 failures, 1 errors" }
            << QStringList { "--- error: " + where + error,
                             "--- script stopped: 1 passed, 0 failed ---" };
    }
}

// The script runs to its end; its exit status, report, log and outcome tell how it went.
void ScriptTest::runs()
{
    QFETCH(QByteArray, script);
    QFETCH(int, status);
    QFETCH(QStringList, report);
    QFETCH(QStringList, logged);
    Run run;
    QVERIFY(run.run(script.replace("UNUSED", QByteArray::number(CoreFixture::unusedPort()))));
    QCOMPARE(run.runner->exitStatus(), status);
    QCOMPARE(readReport(run.report), report);
    const QString log = QString::fromUtf8(run.log());
    // Every line of the log carries its stamp, whatever a note or an error held.
    const QRegularExpression stamped(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
    for (const QString &line : log.split('\n', Qt::SkipEmptyParts))
        QVERIFY2(stamped.match(line).hasMatch(), qPrintable(line));
    int at = 0;
    for (const QString &line : logged) {
        const int found = log.indexOf(line.contains("%1") ? line.arg(run.path) : line, at);
        QVERIFY2(found >= 0, qPrintable(line + " not in order in\n" + log));
        at = found;
    }
    const QString verdict = QStringLiteral("%1 passed, %2 failed")
                                .arg(report.filter(QRegularExpression(": passed$")).size())
                                .arg(report.filter(QRegularExpression(": failure$")).size());
    // Stopped on an error, where one ended the script rather than a test inside it.
    const bool stopped = report.contains(QStringLiteral("script error: error"));
    const RunOutcome outcome = run.runner->outcome();
    QCOMPARE(QStringLiteral("%1 passed, %2 failed").arg(outcome.passed()).arg(outcome.failed()),
             verdict);
    QCOMPARE(!run.runner->lastError().isEmpty(), stopped);
}

void ScriptTest::timeLimit_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QStringList>("report");
    QTest::newRow("computing") << QByteArray("check(true, 'before')\nwhile true do end\n")
                               << QStringList { "before: passed", "script error: error" };
    QTest::newRow("waiting") << QByteArray("check(true, 'before')\nsleep(600000)\n")
                             << QStringList { "before: passed", "script error: error" };
    // What a test catches is the test's; the limit ends the script all the same.
    QTest::newRow("inside a test, caught by pcall")
        << QByteArray("check(true, 'before')\n"
                      "test('spins', function() while true do pcall(function() end) end end)\n"
                      "check(true, 'never reached')\n")
        << QStringList { "before: passed", "spins: error" };
}

// A script past its limit stops with an error that names the limit and the line it was on.
void ScriptTest::timeLimit()
{
    QFETCH(QByteArray, script);
    QFETCH(QStringList, report);
    Run run;
    run.timeLimitMs = 300;
    QVERIFY(run.run(script));
    QCOMPARE(run.runner->exitStatus(), 3);
    QCOMPARE(readReport(run.report).mid(0, report.size()), report);
    QVERIFY2(run.log().contains("test.lua:2: the script ran longer than its limit of 0.3 s"),
             run.log().constData());
}

// A peer pours 20 MB in at 10 MB/s, two marks in it, while the script waits for them: both are
// found, and the channel takes every byte in as it comes, as it does with no script.
void ScriptTest::expectDuringFlood()
{
    using Clock = std::chrono::steady_clock;
    const int size = 20'000'000;
    QByteArray payload = plainText(size, 3, plainAlphabet + '\n');
    payload.replace(size / 4, 10, "MARK(1234)");
    payload.replace(size - 12, 12, "END-OF-FLOOD");
    std::atomic<Clock::rep> started { 0 };
    std::atomic<Clock::rep> sent { 0 };
    TcpPeer peer([&](TcpPeer &p, int fd) {
        started = Clock::now().time_since_epoch().count();
        p.sendAll(fd, payload, 64 * 1024, 6);
        sent = Clock::now().time_since_epoch().count();
        p.waitUntil([] { return false; });
    });
    Run run;
    QVERIFY(run.run("net1:connect('127.0.0.1', " + QByteArray::number(peer.port())
                        + ")\n"
                          "local id = net1:expect{pattern = 'MARK%((%d+)%)', timeout = 30000}\n"
                          "check(id == '1234', 'the mark in the flood')\n"
                          "check(net1:expect('END-OF-FLOOD', 30000) ~= nil, 'its end')\n",
                    false));
    QTRY_COMPARE_WITH_TIMEOUT(run.fixture.log(run.fixture.network()).size(), size, 30000);
    auto since = [](Clock::rep from) {
        return std::chrono::duration<double>(Clock::now().time_since_epoch()
                                             - Clock::duration(from))
            .count();
    };
    const double seconds = since(started);
    qInfo("20 MB at 10 MB/s taken in within %.2f s, %.2f s after the last byte was sent", seconds,
          since(sent));
    QTRY_VERIFY(run.runner->ended());
    QCOMPARE(readReport(run.report).last(), "2 tests, 0 failures, 0 errors");
    // Twice the time the peer needs to send it is far more than a channel that keeps up takes,
    // and far less than one that searches its whole buffer at every arrival.
    QVERIFY2(seconds < 4, qPrintable(QString::number(seconds)));
    QVERIFY(run.fixture.log(run.fixture.network()) == payload);
}

QTEST_GUILESS_MAIN(ScriptTest)
#include "tst_script.moc"
