#include "comportserver.h"
#include "corefixture.h"
#include "joiningthread.h"
#include "portname.h"
#include "rfc2217link.h"
#include "ser2net.h"
#include "testdata.h"

#include <QSignalSpy>
#include <QtTest>

#include <atomic>

#include <poll.h>

Q_DECLARE_METATYPE(PortName::Kind)

namespace {
QByteArray everyByteThenRandom(int size, quint32 seed)
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(char(b));
    return bytes + randomBytes(size - 256, seed);
}

QString firstDifference(const QByteArray &got, const QByteArray &expected)
{
    int at = 0;
    while (at < got.size() && at < expected.size() && got.at(at) == expected.at(at))
        ++at;
    return QStringLiteral("%1 bytes of %2, first difference at %3")
        .arg(got.size())
        .arg(expected.size())
        .arg(at);
}

QString rfc2217(quint16 port)
{
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(port);
}

// The serial channel of a fixture set to open `name` at `baud`, opened, and open.
bool openRemote(CoreFixture &fixture, const QString &name, qint32 baud = 115200)
{
    fixture.serial().setLineSettings(plainLine(name, baud));
    QString why;
    if (!fixture.serial().open(&why)) {
        qWarning("open failed: %s", qPrintable(why));
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (fixture.serial().linkState() == LinkState::Opening && clock.elapsed() < 10000)
        QTest::qWait(5);
    if (fixture.serial().linkState() != LinkState::Open)
        qWarning("not open: %s", qPrintable(fixture.serial().lastFailure()));
    return fixture.serial().linkState() == LinkState::Open;
}

QVector<ComPortCommand> commandsOf(const ComPortServer &server)
{
    QVector<ComPortCommand> commands;
    for (const TelnetEvent &event : server.commands())
        commands << event.command;
    return commands;
}

bool hasCommand(const ComPortServer &server, ComPortCommand command, quint32 value, int from = 0)
{
    const QVector<TelnetEvent> &all = server.commands();
    for (int i = from; i < all.size(); ++i)
        if (all.at(i).command == command && all.at(i).value == value)
            return true;
    return false;
}

// The bytes of a log written in hex mode, whichever way they went.
QByteArray hexLogBytes(QByteArray log)
{
    log.replace(' ', "").replace('\n', "");
    return QByteArray::fromHex(log);
}
} // namespace

class RemotePortTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(Pty().isValid(), "no pseudo-terminal available"); }
    void portNames_data();
    void portNames();
    void badNameRefusedAtOpen();
    void unreachableServerNamed_data();
    void unreachableServerNamed();
    void ser2netCarriesEveryByteBothWays();
    void ser2netSetsTheLineSpeed_data();
    void ser2netSetsTheLineSpeed();
    void ser2netRestartIsALossAndAReturn();
    void serverNotUpYetAtStart();
    void rawPortCarriesBytesAsTheyAre();
    void settingsSentAtEveryOpen();
    void refusedSettingTold();
    void silentServerDoesNotHoldTheOpen();
    void modemLinesFollowTheServer();
    void lineErrorsNotedInTheLog();
    void hostileStreamNeverReachesTheData();
    void breakAndPurge();
};

void RemotePortTest::portNames_data()
{
    using K = PortName::Kind;
    QTest::addColumn<QString>("name");
    QTest::addColumn<PortName::Kind>("kind");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("local path") << "/dev/ttyUSB0" << K::Local << "" << 0;
    QTest::newRow("local name") << "COM1" << K::Local << "" << 0;
    QTest::newRow("empty") << "" << K::Local << "" << 0;
    QTest::newRow("rfc2217") << "rfc2217://lab-rack:7001" << K::Rfc2217 << "lab-rack" << 7001;
    QTest::newRow("rfc2217, scheme in capitals")
        << "RFC2217://10.0.0.5:2000" << K::Rfc2217 << "10.0.0.5" << 2000;
    QTest::newRow("socket") << "socket://127.0.0.1:7002" << K::Raw << "127.0.0.1" << 7002;
    QTest::newRow("IPv6 in brackets") << "rfc2217://[::1]:7001" << K::Rfc2217 << "::1" << 7001;
    QTest::newRow("highest port") << "socket://h:65535" << K::Raw << "h" << 65535;
    QTest::newRow("no port") << "rfc2217://lab-rack" << K::Invalid << "" << 0;
    QTest::newRow("empty port") << "rfc2217://lab-rack:" << K::Invalid << "" << 0;
    QTest::newRow("no host") << "socket://:7001" << K::Invalid << "" << 0;
    QTest::newRow("nothing after the scheme") << "rfc2217://" << K::Invalid << "" << 0;
    QTest::newRow("port 0") << "rfc2217://h:0" << K::Invalid << "" << 0;
    QTest::newRow("port too high") << "rfc2217://h:65536" << K::Invalid << "" << 0;
    QTest::newRow("port not a number") << "rfc2217://h:telnet" << K::Invalid << "" << 0;
    QTest::newRow("signed port") << "rfc2217://h:+23" << K::Invalid << "" << 0;
    QTest::newRow("path after the port") << "rfc2217://h:23/x" << K::Invalid << "" << 0;
    QTest::newRow("options after the port")
        << "rfc2217://h:23?logging=debug" << K::Invalid << "" << 0;
    QTest::newRow("bare IPv6") << "rfc2217://::1:7001" << K::Invalid << "" << 0;
    QTest::newRow("unclosed IPv6") << "rfc2217://[::1:7001" << K::Invalid << "" << 0;
    QTest::newRow("user in the host") << "socket://me@h:7001" << K::Invalid << "" << 0;
}

void RemotePortTest::portNames()
{
    QFETCH(QString, name);
    QFETCH(PortName::Kind, kind);
    QFETCH(QString, host);
    QFETCH(int, port);
    const PortName parsed = parsePortName(name);
    QCOMPARE(parsed.kind, kind);
    QCOMPARE(parsed.host, host);
    QCOMPARE(int(parsed.port), port);
    QCOMPARE(parsed.problem.isEmpty(), kind != PortName::Kind::Invalid);
}

void RemotePortTest::badNameRefusedAtOpen()
{
    CoreFixture fixture;
    const QString name = QStringLiteral("rfc2217://lab-rack");
    fixture.serial().setLineSettings(plainLine(name, 9600));
    QString why;
    QString status;
    QVERIFY(!fixture.serial().open(&why, &status));
    QCOMPARE(why, QStringLiteral("rfc2217://lab-rack: no port (HOST:PORT)"));
    QCOMPARE(fixture.serial().linkState(), LinkState::Closed);
}

void RemotePortTest::unreachableServerNamed_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::newRow("rfc2217") << "rfc2217";
    QTest::newRow("socket") << "socket";
}

// Nobody listens: the open ends in a failure that names the port as it was written, told by
// errorOccurred since open() had returned already.
void RemotePortTest::unreachableServerNamed()
{
    QFETCH(QString, scheme);
    quint16 free = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        free = probe.serverPort();
    }
    CoreFixture fixture;
    const QString name = QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(free);
    fixture.serial().setLineSettings(plainLine(name, 9600));
    qRegisterMetaType<QSerialPort::SerialPortError>();
    QSignalSpy errors(&fixture.serial(), &SerialChannel::errorOccurred);
    QVERIFY(fixture.serial().open());
    QTRY_COMPARE(fixture.serial().linkState(), LinkState::Closed);
    QCOMPARE(errors.count(), 1);
    QVERIFY2(fixture.serial().lastFailure().startsWith(name + QStringLiteral(": ")),
             qPrintable(fixture.serial().lastFailure()));
    QVERIFY(fixture.serial().lastFailure().contains(QStringLiteral("refused")));
}

// A mebibyte of every byte value from the device, then one to it, through ser2net: the
// channel takes in exactly what the pty sent and the pty gets exactly what was sent, and the
// log (in hex) holds both, with no Telnet byte in either.
void RemotePortTest::ser2netCarriesEveryByteBothWays()
{
    if (!Ser2net::isInstalled())
        QSKIP("ser2net is not installed; the remote serial port tests need it");
    Ser2net ser2net;
    ser2net.setBufferSize(65536);
    const QString failure = ser2net.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    CoreFixture fixture;
    fixture.serial().setHexMode(true);
    QByteArray arrived;
    QObject::connect(&fixture.serial(), &Channel::received,
                     [&arrived](const QByteArray &bytes) { arrived += bytes; });
    QVERIFY(openRemote(fixture, rfc2217(ser2net.rfc2217Port())));

    const QByteArray down = everyByteThenRandom(1 << 20, 83);
    const Pty &device = ser2net.device();
    bool written = false;
    {
        JoiningThread writer;
        writer.start([&] { written = device.write(down); });
        QTRY_VERIFY_WITH_TIMEOUT(arrived.size() >= down.size(), 120000);
    }
    QVERIFY(written);
    QVERIFY2(arrived == down, qPrintable(firstDifference(arrived, down)));
    fixture.serial().endBlock();

    const QByteArray up = everyByteThenRandom(1 << 20, 38);
    QByteArray atDevice;
    std::atomic<bool> stopping { false };
    std::atomic<qint64> atDeviceCount { 0 };
    {
        JoiningThread reader([&] { stopping = true; });
        reader.start([&] {
            while (!stopping && atDevice.size() < up.size()) {
                pollfd ready { device.masterFd(), POLLIN, 0 };
                ::poll(&ready, 1, 50);
                atDevice += device.readAvailable();
                atDeviceCount = atDevice.size();
            }
        });
        constexpr int piece = 64 * 1024;
        for (int at = 0; at < up.size(); at += piece) {
            QTRY_VERIFY(fixture.serial().remoteLink()->bytesToWrite() < piece);
            QString why;
            QVERIFY2(fixture.serial().sendBytes(up.mid(at, piece), &why), qPrintable(why));
        }
        QTRY_VERIFY_WITH_TIMEOUT(atDeviceCount >= up.size(), 120000);
        reader.join();
    }
    QVERIFY2(atDevice == up, qPrintable(firstDifference(atDevice, up)));
    fixture.serial().close();
    const QByteArray logged = hexLogBytes(fixture.log(fixture.serial()));
    QVERIFY2(logged == down + up, qPrintable(firstDifference(logged, down + up)));
}

void RemotePortTest::ser2netSetsTheLineSpeed_data()
{
    QTest::addColumn<int>("baud");
    QTest::newRow("115200") << 115200;
    QTest::newRow("19200") << 19200;
    QTest::newRow("one termios has no constant for") << 12345;
}

void RemotePortTest::ser2netSetsTheLineSpeed()
{
    QFETCH(int, baud);
    if (!Ser2net::isInstalled())
        QSKIP("ser2net is not installed; the remote serial port tests need it");
    Ser2net ser2net;
    const QString failure = ser2net.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    CoreFixture fixture;
    QVERIFY(openRemote(fixture, rfc2217(ser2net.rfc2217Port()), baud));
    QTRY_COMPARE(ser2net.lineSpeed(), baud);
    // ser2net answers the settings with what it asked: nothing is told beside them.
    QCOMPARE(fixture.serial().openStatus(),
             QStringLiteral("Connected to %1 : %2, 8, None, 1, None")
                 .arg(rfc2217(ser2net.rfc2217Port()))
                 .arg(baud));
}

// ser2net killed is a lost link; started again on the same port, the channel is back under
// reconnection and the line is set as asked once more (ser2net starts it at its own 9600).
void RemotePortTest::ser2netRestartIsALossAndAReturn()
{
    if (!Ser2net::isInstalled())
        QSKIP("ser2net is not installed; the remote serial port tests need it");
    Ser2net ser2net;
    QString failure = ser2net.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    CoreFixture fixture;
    fixture.serial().setReconnect(true);
    QVERIFY(openRemote(fixture, rfc2217(ser2net.rfc2217Port()), 57600));
    QTRY_COMPARE(ser2net.lineSpeed(), 57600);
    QVERIFY(ser2net.device().write("before\n"));
    QTRY_VERIFY(fixture.log(fixture.serial()).contains("before\n"));

    ser2net.kill();
    QTRY_COMPARE(fixture.serial().linkState(), LinkState::Lost);
    QTRY_VERIFY(fixture.log(fixture.serial()).contains("--- link lost: "));
    QVERIFY(!fixture.serial().send(QStringLiteral("while gone")));
    failure = ser2net.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.serial().linkState(), LinkState::Open, 10000);
    QTRY_COMPARE(ser2net.lineSpeed(), 57600);
    QVERIFY(fixture.serial().send(QStringLiteral("after")));
    QByteArray atDevice;
    QTRY_COMPARE(atDevice += ser2net.device().readAvailable(), QByteArray("after\n"));
    const QByteArray log = fixture.log(fixture.serial());
    QVERIFY2(log.indexOf("--- link lost: ") < log.indexOf("--- link back ---"), log.constData());
}

// Opened at start under reconnection before the port server is up: the port counts as lost and
// is tried until the server answers, as a local port that is not there yet.
void RemotePortTest::serverNotUpYetAtStart()
{
    if (!Ser2net::isInstalled())
        QSKIP("ser2net is not installed; the remote serial port tests need it");
    Ser2net ser2net;
    QVERIFY(ser2net.rfc2217Port() != 0);
    CoreFixture fixture;
    fixture.serial().setReconnect(true);
    const QString name = rfc2217(ser2net.rfc2217Port());
    fixture.serial().setLineSettings(plainLine(name, 19200));
    qRegisterMetaType<QSerialPort::SerialPortError>();
    QSignalSpy errors(&fixture.serial(), &SerialChannel::errorOccurred);
    QVERIFY(fixture.serial().openAtStart());
    QTRY_COMPARE(fixture.serial().linkState(), LinkState::Lost);
    QVERIFY(fixture.log(fixture.serial()).contains(("--- link lost: " + name).toUtf8()));
    const QString failure = ser2net.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.serial().linkState(), LinkState::Open, 10000);
    QTRY_COMPARE(ser2net.lineSpeed(), 19200);
    QCOMPARE(errors.count(), 0);
}

// socket:// is ser2net's raw accepter: no Telnet, so every byte, 0xFF too, goes as it is, and
// the line has no control lines to set or read.
void RemotePortTest::rawPortCarriesBytesAsTheyAre()
{
    if (!Ser2net::isInstalled())
        QSKIP("ser2net is not installed; the remote serial port tests need it");
    Ser2net ser2net;
    const QString failure = ser2net.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    CoreFixture fixture;
    QByteArray arrived;
    QObject::connect(&fixture.serial(), &Channel::received,
                     [&arrived](const QByteArray &bytes) { arrived += bytes; });
    const QString name = QStringLiteral("socket://127.0.0.1:%1").arg(ser2net.rawPort());
    QVERIFY(openRemote(fixture, name));
    const QByteArray every = everyByteThenRandom(4096, 5);
    QVERIFY(ser2net.device().write(every));
    QTRY_COMPARE(arrived.size(), every.size());
    QCOMPARE(arrived, every);
    QVERIFY(fixture.serial().sendBytes(every));
    QByteArray atDevice;
    QTRY_VERIFY((atDevice += ser2net.device().readAvailable()).size() >= every.size());
    QCOMPARE(atDevice, every);
    QString why;
    QVERIFY(!fixture.serial().setControlLine(true, true, &why));
    QVERIFY2(why.contains(QStringLiteral("no control lines")), qPrintable(why));
    QSerialPort::PinoutSignals lines;
    QVERIFY(!fixture.serial().lines(&lines, &why));
    QVERIFY(!fixture.serial().sendBreak(10, &why));
    QCOMPARE(fixture.serial().openStatus(),
             QStringLiteral("Connected to %1 : 115200, 8, None, 1, None").arg(name));

    ser2net.kill();
    QTRY_COMPARE(fixture.serial().linkState(), LinkState::Closed);
    QVERIFY(fixture.log(fixture.serial()).contains("--- link lost: "));
}

// The six settings and the control lines go to the server at the open, and again at every
// reopen after a loss; the server's WILL and DO are agreed as BINARY, SGA and COM-PORT-OPTION.
void RemotePortTest::settingsSentAtEveryOpen()
{
    ComPortServer server;
    QVERIFY(server.isListening());
    CoreFixture fixture;
    fixture.serial().setReconnect(true);
    fixture.serial().setControlLines(true, false);
    SerialSettings line = plainLine(rfc2217(server.port()), 38400);
    line.dataBits = QSerialPort::Data7;
    line.parity = QSerialPort::EvenParity;
    line.stopBits = QSerialPort::TwoStop;
    line.flowControl = QSerialPort::HardwareControl;
    fixture.serial().setLineSettings(line);
    QVERIFY(fixture.serial().open());
    QTRY_COMPARE(fixture.serial().linkState(), LinkState::Open);
    QTRY_VERIFY(server.dtr());
    QVERIFY(!server.rts());
    QVERIFY(server.clientWill(Telnet::OptionBinary));
    QVERIFY(server.clientWill(Telnet::OptionSuppressGoAhead));
    QVERIFY(server.clientWill(Telnet::OptionComPort));
    const QVector<ComPortCommand> expected {
        ComPortCommand::SetBaudRate,      ComPortCommand::SetDataSize,
        ComPortCommand::SetParity,        ComPortCommand::SetStopSize,
        ComPortCommand::SetControl,       ComPortCommand::SetModemStateMask,
        ComPortCommand::SetLineStateMask, ComPortCommand::SetControl,
        ComPortCommand::SetControl
    };
    QCOMPARE(commandsOf(server), expected);
    QCOMPARE(server.value(ComPortCommand::SetBaudRate), 38400u);
    QCOMPARE(server.value(ComPortCommand::SetDataSize), 7u);
    QCOMPARE(server.value(ComPortCommand::SetParity), quint32(ComPortParity::Even));
    QCOMPARE(server.value(ComPortCommand::SetStopSize), quint32(ComPortStopSize::Two));
    QCOMPARE(server.value(ComPortCommand::SetControl), quint32(ComPortControl::Hardware));

    const int before = server.commands().size();
    server.dropClient();
    QTRY_COMPARE(fixture.serial().linkState(), LinkState::Lost);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.serial().linkState(), LinkState::Open, 10000);
    QTRY_COMPARE(server.commands().size(), before + expected.size());
    QCOMPARE(commandsOf(server).mid(before), expected);
    QVERIFY(hasCommand(server, ComPortCommand::SetBaudRate, 38400, before));
    QVERIFY(hasCommand(server, ComPortCommand::SetControl, quint32(ComPortControl::DtrOn), before));
    const QByteArray log = fixture.log(fixture.serial());
    QVERIFY2(log.contains("--- link lost: ") && log.contains("--- link back ---"), log.constData());
}

// A baud rate the server cannot do, answered with the one it keeps: the open goes on, and the
// status bar and the log say what the line runs at.
void RemotePortTest::refusedSettingTold()
{
    ComPortServer server;
    server.answerWith(ComPortCommand::SetBaudRate, 115200, 9600);
    CoreFixture fixture;
    QVERIFY(openRemote(fixture, rfc2217(server.port())));
    const QString told
        = QStringLiteral("the port server %1 set baud rate to 9600 instead of 115200")
              .arg(rfc2217(server.port()));
    QVERIFY2(fixture.serial().openStatus().endsWith(QStringLiteral("; ") + told),
             qPrintable(fixture.serial().openStatus()));
    QVERIFY(fixture.log(fixture.serial()).contains(("--- " + told + " ---\n").toUtf8()));
}

// A server that answers nothing (ser2net's SET-CONTROL on a pty, here every command) does not
// keep the port from opening.
void RemotePortTest::silentServerDoesNotHoldTheOpen()
{
    ComPortServer server;
    for (ComPortCommand command :
         { ComPortCommand::SetBaudRate, ComPortCommand::SetDataSize, ComPortCommand::SetParity,
           ComPortCommand::SetStopSize, ComPortCommand::SetControl })
        server.setSilent(command);
    server.setEcho(true);
    CoreFixture fixture;
    QVERIFY(openRemote(fixture, rfc2217(server.port())));
    QVERIFY(fixture.serial().send(QStringLiteral("ping")));
    QTRY_VERIFY(fixture.log(fixture.serial()).endsWith("ping\nping\n"));
}

void RemotePortTest::modemLinesFollowTheServer()
{
    ComPortServer server;
    CoreFixture fixture;
    QVERIFY(openRemote(fixture, rfc2217(server.port())));
    QSerialPort::PinoutSignals lines;
    server.notifyModemState(ModemState::Cts | ModemState::Dcd | ModemState::CtsChanged);
    QTRY_VERIFY(fixture.serial().lines(&lines)
                && lines
                    == (QSerialPort::ClearToSendSignal | QSerialPort::DataCarrierDetectSignal));
    server.notifyModemState(ModemState::Dsr | ModemState::Ri);
    QTRY_VERIFY(fixture.serial().lines(&lines)
                && lines == (QSerialPort::DataSetReadySignal | QSerialPort::RingIndicatorSignal));
    fixture.serial().close();
    QString why;
    QVERIFY(!fixture.serial().lines(&lines, &why));
    QCOMPARE(why, QStringLiteral("the serial port is not open"));
}

void RemotePortTest::lineErrorsNotedInTheLog()
{
    ComPortServer server;
    CoreFixture fixture;
    QVERIFY(openRemote(fixture, rfc2217(server.port())));
    server.notifyLineState(LineState::HoldingRegisterEmpty);
    server.notifyLineState(LineState::FramingError | LineState::Overrun);
    server.sendData("after");
    QTRY_VERIFY(fixture.log(fixture.serial()).contains("after"));
    const QByteArray log = fixture.log(fixture.serial());
    QVERIFY2(log.startsWith(QStringLiteral("--- the port server %1 reports: framing error, "
                                           "overrun ---\nafter")
                                .arg(rfc2217(server.port()))
                                .toUtf8()),
             log.constData());
}

// Commands, negotiations and sub-negotiations in the middle of the data, split anywhere: only
// the data reaches the channel, its counters and its log.
void RemotePortTest::hostileStreamNeverReachesTheData()
{
    ComPortServer server;
    CoreFixture fixture;
    QByteArray arrived;
    QObject::connect(&fixture.serial(), &Channel::received,
                     [&arrived](const QByteArray &bytes) { arrived += bytes; });
    fixture.serial().setHexMode(true);
    QVERIFY(openRemote(fixture, rfc2217(server.port())));
    const QByteArray stream = QByteArray("ab\xff\xf1" // NOP
                                         "c\xff\xff" // a data 0xFF
                                         "d\xff\xfd\x01" // DO ECHO
                                         "e\xff\xfa\x2c\x6b\x30\xff\xf0" // modem state
                                         "f\xff\xfa\x18\x01\x02\x03\xff\xf0" // another option
                                         "g\xff\xfa\x2c\x07\x01\x02\x03\xff\xf0" // bad length
                                         "h\xff\xf3" // BREAK
                                         "i\xff\xfa\x2c" // never ended, then a command ends it
                                         "\x01\x02\xff\xf1"
                                         "j",
                                         50);
    for (int at = 0; at < stream.size(); ++at) {
        server.sendRaw(stream.mid(at, 1));
        QTest::qWait(1);
    }
    const QByteArray data("abc\xff"
                          "defghij",
                          11);
    QTRY_COMPARE(arrived, data);
    fixture.serial().endBlock();
    QCOMPARE(hexLogBytes(fixture.log(fixture.serial())), data);
    QSerialPort::PinoutSignals lines;
    QVERIFY(fixture.serial().lines(&lines));
    QCOMPARE(lines, QSerialPort::DataSetReadySignal | QSerialPort::ClearToSendSignal);
}

void RemotePortTest::breakAndPurge()
{
    ComPortServer server;
    CoreFixture fixture;
    QVERIFY(openRemote(fixture, rfc2217(server.port())));
    const int before = server.commands().size();
    QVERIFY(fixture.serial().sendBreak(30));
    QTRY_VERIFY(server.breakOn());
    QTRY_VERIFY(!server.breakOn());
    QVERIFY(
        hasCommand(server, ComPortCommand::SetControl, quint32(ComPortControl::BreakOn), before));
    QVERIFY(
        hasCommand(server, ComPortCommand::SetControl, quint32(ComPortControl::BreakOff), before));
    fixture.serial().close();
    QTRY_VERIFY(
        hasCommand(server, ComPortCommand::PurgeData, quint32(ComPortPurge::Receive), before));
}

QTEST_GUILESS_MAIN(RemotePortTest)
#include "tst_remoteport.moc"
