#include "comportserver.h"
#include "joiningthread.h"
#include "ser2net.h"
#include "telnetcodec.h"
#include "testdata.h"

#include <QTcpSocket>
#include <QtTest>

#include <atomic>
#include <poll.h>

namespace {

const char *verbName(quint8 verb)
{
    switch (verb) {
    case Telnet::Will:
        return "WILL";
    case Telnet::Wont:
        return "WONT";
    case Telnet::Do:
        return "DO";
    case Telnet::Dont:
        return "DONT";
    default:
        return "?";
    }
}

const char *skipName(TelnetEvent::Skip why)
{
    switch (why) {
    case TelnetEvent::Skip::OtherOption:
        return "other-option";
    case TelnetEvent::Skip::UnknownCommand:
        return "unknown";
    case TelnetEvent::Skip::BadLength:
        return "bad-length";
    case TelnetEvent::Skip::TooLong:
        return "too-long";
    case TelnetEvent::Skip::Unterminated:
        return "unterminated";
    case TelnetEvent::Skip::None:
        break;
    }
    return "none";
}

// Events as short words, so that a row reads like the wire and a failure shows what differs.
QString describe(const TelnetEvent &event)
{
    switch (event.kind) {
    case TelnetEvent::Kind::Negotiation:
        return QStringLiteral("%1 %2").arg(QLatin1String(verbName(event.verb))).arg(event.option);
    case TelnetEvent::Kind::Command:
        return QStringLiteral("command %1").arg(event.verb);
    case TelnetEvent::Kind::ComPort:
        return QStringLiteral("comport %1 %2").arg(int(event.command)).arg(event.value);
    case TelnetEvent::Kind::Skipped:
        return QStringLiteral("skip %1 %2")
            .arg(QLatin1String(skipName(event.why)))
            .arg(event.option);
    }
    return QString();
}

QStringList describe(const QVector<TelnetEvent> &events)
{
    QStringList words;
    for (const TelnetEvent &event : events)
        words << describe(event);
    return words;
}

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

QByteArray subnegotiation(const QByteArray &inside)
{
    return hex("fffa") + inside + hex("fff0");
}

// The stream decoded in pieces cut at these offsets.
TelnetDecoder::Output decodeCut(const QByteArray &stream, ComPortSender sender,
                                const QVector<int> &cuts)
{
    TelnetDecoder decoder(sender);
    TelnetDecoder::Output output;
    int from = 0;
    for (const int cut : cuts) {
        decoder.feed(stream.constData() + from, cut - from, output);
        from = cut;
    }
    decoder.feed(stream.constData() + from, stream.size() - from, output);
    return output;
}

// Every byte value at least once, then bytes as they come.
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

// A plain socket with the codec: the client's part of the wire and nothing else, so that the
// servers can be tested before any link uses them.
class CodecClient {
public:
    CodecClient()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] { read(); });
    }

    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(5000))
            return false;
        send(negotiation.start());
        return true;
    }
    void send(const QByteArray &wire) { socket.write(wire); }

    QStringList comPortEvents(int from = 0) const
    {
        QStringList words;
        for (int i = from; i < events.size(); ++i) {
            if (events.at(i).kind == TelnetEvent::Kind::ComPort)
                words << describe(events.at(i));
        }
        return words;
    }
    QStringList negotiations() const
    {
        QStringList words;
        for (const TelnetEvent &event : events) {
            if (event.kind == TelnetEvent::Kind::Negotiation)
                words << describe(event);
        }
        return words;
    }

    QTcpSocket socket;
    TelnetDecoder decoder;
    TelnetNegotiation negotiation = TelnetNegotiation::comPortClient();
    QByteArray data;
    QVector<TelnetEvent> events;
    QByteArray replies; // what the negotiation answered, beyond its start

private:
    void read()
    {
        const TelnetDecoder::Output output = decoder.feed(socket.readAll());
        data += output.data;
        for (const TelnetEvent &event : output.events) {
            events << event;
            if (event.kind != TelnetEvent::Kind::Negotiation)
                continue;
            const QByteArray reply = negotiation.answer(event.verb, event.option);
            replies += reply;
            socket.write(reply);
        }
    }
};

// A question whose answer marks the end of what a row waits for: the server answers in the
// order it was asked, so an answer that has not come by then is not coming. ser2net answers
// the line's settings and controls in order, after it set the device, but PURGE-DATA, the
// masks and the signature at once, ahead of them; so it is asked about its inbound flow
// control, which no row sets.
struct Marker {
    QByteArray question;
    QString answer;
};
const Marker ser2netMarker { comPortSetControl(ComPortControl::QueryInboundFlow),
                             QStringLiteral("comport 5 14") };
const Marker serverMarker { comPortPurgeData(ComPortPurge::Receive),
                            QStringLiteral("comport 12 1") };

QStringList answersUpToMarker(CodecClient &client, int from, const Marker &marker)
{
    client.send(marker.question);
    QStringList answers;
    const bool marked = QTest::qWaitFor([&] {
        answers = client.comPortEvents(from);
        return answers.contains(marker.answer);
    });
    if (!marked)
        return { QStringLiteral("no answer to the marker") };
    answers.removeAll(marker.answer);
    return answers;
}

// ser2net's greeting, as it sends it on every connection.
const QStringList ser2netGreeting
    = { QStringLiteral("WILL 3"), QStringLiteral("DO 3"), QStringLiteral("WILL 1"),
        QStringLiteral("DONT 1"), QStringLiteral("DO 0"), QStringLiteral("WILL 0"),
        QStringLiteral("DO 44") };

bool negotiatedWithSer2net(const CodecClient &client)
{
    // ser2net answers the client's WILL COM-PORT-OPTION with the modem state.
    return client.negotiations().mid(0, ser2netGreeting.size()) == ser2netGreeting
        && client.comPortEvents().contains(QStringLiteral("comport 7 0"));
}

} // namespace

Q_DECLARE_METATYPE(ComPortSender)

class TelnetCodecTest : public QObject {
    Q_OBJECT

private slots:
    void decodeAcrossSplits_data();
    void decodeAcrossSplits();
    void memoryStaysBounded_data();
    void memoryStaysBounded();
    void negotiationAnswers_data();
    void negotiationAnswers();
    void negotiationSettles_data();
    void negotiationSettles();
    void encoders_data();
    void encoders();
    void dataDoubling();
    void serialSettings();
    void unknownOptionValues_data();
    void unknownOptionValues();
    void modemLines_data();
    void modemLines();

    void ser2netNegotiates();
    void ser2netAnswersSettings_data();
    void ser2netAnswersSettings();
    void ser2netCarriesEveryByteBothWays();
    void ser2netComesBackOnTheSamePorts_data();
    void ser2netComesBackOnTheSamePorts();
    void ser2netRawPortCarriesBytesAsTheyAre();
    void ser2netServesOneClient();
    void serverNegotiatesWithoutAWordMore();
    void serverAnswersAsTold_data();
    void serverAnswersAsTold();
    void serverNotifiesWhenTold();
    void serverRecordsEveryCommand();
};

namespace {

// Data, the CR NUL rule and negotiations.
void addDataRows()
{
    const auto server = ComPortSender::Server;
    const QByteArray every = everyByteThenRandom(256, 0);
    QTest::newRow("plain text") << QByteArray("hello\r\nworld") << server
                                << QByteArray("hello\r\nworld") << QStringList();
    QTest::newRow("0xFF doubled in data")
        << hex("61ffff62ffffffff") << server << hex("61ff62ffff") << QStringList();
    QTest::newRow("every byte value with BINARY")
        << hex("fffb00") + telnetData(every) << server << every << QStringList { "WILL 0" };
    QTest::newRow("CR NUL is CR without BINARY")
        << QByteArray("a\r\0b\r\nc\0\r\r\0", 12) << server << QByteArray("a\rb\r\nc\0\r\r", 10)
        << QStringList();
    QTest::newRow("CR NUL stays with BINARY")
        << hex("fffb00") + QByteArray("a\r\0b", 4) << server << QByteArray("a\r\0b", 4)
        << QStringList { "WILL 0" };
    QTest::newRow("BINARY withdrawn")
        << hex("fffb00") + QByteArray("\r\0", 2) + hex("fffc00") + QByteArray("\r\0", 2) << server
        << QByteArray("\r\0\r", 3) << QStringList { "WILL 0", "WONT 0" };
    QTest::newRow("the BINARY of the other end does not count")
        << hex("fffd00") + QByteArray("\r\0", 2) << server << QByteArray("\r")
        << QStringList { "DO 0" };
    QTest::newRow("a NUL after 0xFF is data")
        << hex("0dffff00") << server << hex("0dff00") << QStringList();
    QTest::newRow("a command between CR and NUL carries no data")
        << hex("0dfff100") << server << QByteArray("\r") << QStringList { "command 241" };
    QTest::newRow("ser2net's greeting") << hex("fffb03fffd03fffb01fffe01fffd00fffb00fffd2c")
                                        << server << QByteArray() << ser2netGreeting;
}

// COM-PORT-OPTION sub-negotiations as they should be.
void addComPortRows()
{
    const auto server = ComPortSender::Server;
    QTest::newRow("ser2net's answers among data")
        << subnegotiation(hex("2c650001c200")) + "x" + subnegotiation(hex("2c6607"))
            + subnegotiation(hex("2c6703")) + subnegotiation(hex("2c6802")) + "y"
            + subnegotiation(hex("2c6901")) + subnegotiation(hex("2c7003"))
        << server << QByteArray("xy")
        << QStringList { "comport 1 115200", "comport 2 7", "comport 3 3",
                         "comport 4 2",      "comport 5 1", "comport 12 3" };
    QTest::newRow("notifications and flow control")
        << subnegotiation(hex("2c6b31")) + subnegotiation(hex("2c6a08"))
            + subnegotiation(hex("2c6c")) + "z" + subnegotiation(hex("2c6d"))
        << server << QByteArray("z")
        << QStringList { "comport 7 49", "comport 6 8", "comport 8 0", "comport 9 0" };
    QTest::newRow("0xFF doubled in values")
        << subnegotiation(hex("2c650000ffffffff")) + subnegotiation(hex("2c6bffff"))
            + subnegotiation(hex("2c65ffffffffffffffff"))
        << server << QByteArray()
        << QStringList { "comport 1 65535", "comport 7 255", "comport 1 4294967295" };
    QTest::newRow("a server's signature") << subnegotiation(hex("2c64") + "ser2net") << server
                                          << QByteArray() << QStringList { "comport 0 0" };
}

// What a careless or hostile end may send, and the client's own commands read by a server.
void addMalformedRows()
{
    const auto server = ComPortSender::Server;
    QTest::newRow("ser2net's answer to a short SET-BAUDRATE") << subnegotiation(hex("2c6500"))
            + "after" << server << QByteArray("after") << QStringList { "skip bad-length 44" };
    QTest::newRow("a one-byte answer too long")
        << subnegotiation(hex("2c660808")) << server << QByteArray()
        << QStringList { "skip bad-length 44" };
    QTest::newRow("a code without its value")
        << subnegotiation(hex("2c66")) << server << QByteArray()
        << QStringList { "skip bad-length 44" };
    QTest::newRow("FLOWCONTROL-SUSPEND with a value")
        << subnegotiation(hex("2c6c01")) << server << QByteArray()
        << QStringList { "skip bad-length 44" };
    QTest::newRow("an unknown code") << subnegotiation(hex("2c6301")) + "ok" << server
                                     << QByteArray("ok") << QStringList { "skip unknown 44" };
    QTest::newRow("a client's code from a server")
        << subnegotiation(hex("2c0100002580")) << server << QByteArray()
        << QStringList { "skip unknown 44" };
    QTest::newRow("no code") << subnegotiation(hex("2c")) << server << QByteArray()
                             << QStringList { "skip unknown 44" };
    QTest::newRow("an empty sub-negotiation")
        << subnegotiation(QByteArray()) + "ok" << server << QByteArray("ok")
        << QStringList { "skip unknown 0" };
    QTest::newRow("another option's sub-negotiation") << subnegotiation(hex("1801"))
            + "ok" << server << QByteArray("ok") << QStringList { "skip other-option 24" };
    QTest::newRow("IAC SE inside a value is doubled, not an end")
        << subnegotiation(hex("2c6bfffff0")) + "ok" << server << QByteArray("ok")
        << QStringList { "skip bad-length 44" };
    QTest::newRow("a sub-negotiation cut short by a command")
        << hex("fffa2c6500fffb03") + "data" << server << QByteArray("data")
        << QStringList { "skip unterminated 44", "WILL 3" };
    QTest::newRow("a sub-negotiation cut short by another")
        << hex("fffa2c65") + subnegotiation(hex("2c6608")) << server << QByteArray()
        << QStringList { "skip unterminated 44", "comport 2 8" };
    QTest::newRow("a sub-negotiation too long")
        << subnegotiation(hex("2c64") + QByteArray(200, 'x')) + "ok" << server << QByteArray("ok")
        << QStringList { "skip too-long 44" };
    QTest::newRow("too long, then cut short by a command")
        << hex("fffa2c64") + QByteArray(200, 'x') + hex("fffd01") + "ok" << server
        << QByteArray("ok") << QStringList { "skip too-long 44", "DO 1" };
    QTest::newRow("commands of their own")
        << hex("fff1fff9fff3fff2fff0ff41") + "A" << server << QByteArray("A")
        << QStringList { "command 241", "command 249", "command 243",
                         "command 242", "command 240", "command 65" };
    QTest::newRow("option 255 is not doubled in a negotiation")
        << hex("fffbff") + "x" << server << QByteArray("x") << QStringList { "WILL 255" };
    QTest::newRow("commands as a client sends them")
        << comPortSetBaudRate(115200) + comPortSetDataSize(8)
            + comPortSetControl(ComPortControl::DtrOn) + comPortSetModemStateMask(0xff)
            + comPortSuspendFlow(true) + telnetData("a\xff")
        << ComPortSender::Client << QByteArray("a\xff")
        << QStringList { "comport 1 115200", "comport 2 8", "comport 5 8", "comport 11 255",
                         "comport 8 0" };
    QTest::newRow("a server's answer from a client")
        << subnegotiation(hex("2c650001c200")) << ComPortSender::Client << QByteArray()
        << QStringList { "skip unknown 44" };
}

} // namespace

void TelnetCodecTest::decodeAcrossSplits_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<ComPortSender>("sender");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("events");
    addDataRows();
    addComPortRows();
    addMalformedRows();
}

// Whole, cut once and twice at every byte, and one byte at a time: TCP may split anywhere.
void TelnetCodecTest::decodeAcrossSplits()
{
    QFETCH(QByteArray, stream);
    QFETCH(ComPortSender, sender);
    QFETCH(QByteArray, data);
    QFETCH(QStringList, events);
    const auto check = [&](const QVector<int> &cuts) {
        const TelnetDecoder::Output output = decodeCut(stream, sender, cuts);
        if (output.data == data && describe(output.events) == events)
            return true;
        QStringList at;
        for (const int cut : cuts)
            at << QString::number(cut);
        qWarning("cut at %s: data %s, events %s", qPrintable(at.join(QLatin1Char(','))),
                 output.data.toHex(' ').constData(),
                 qPrintable(describe(output.events).join(QStringLiteral(", "))));
        return false;
    };
    const int n = stream.size();
    for (int first = 0; first <= n; ++first) {
        for (int second = first; second <= n; ++second) {
            if (!check({ first, second }))
                QFAIL("the pieces decode otherwise than the whole");
        }
    }
    QVector<int> everyByte;
    for (int i = 1; i < n; ++i)
        everyByte << i;
    QVERIFY(check(everyByte));
}

void TelnetCodecTest::memoryStaysBounded_data()
{
    QTest::addColumn<QByteArray>("opening");
    QTest::addColumn<QByteArray>("filler");
    QTest::addColumn<QString>("report");
    QTest::newRow("a COM-PORT-OPTION one that never ends")
        << hex("fffa2c64") << QByteArray("signature") << QStringLiteral("skip too-long 44");
    QTest::newRow("another option's, of doubled 0xFF")
        << hex("fffa18") << hex("ffff") << QStringLiteral("skip too-long 24");
}

// A server that opens a sub-negotiation and sends a mebibyte into it: the decoder holds no more
// than its cap, says so once, and the data after the end comes out.
void TelnetCodecTest::memoryStaysBounded()
{
    QFETCH(QByteArray, opening);
    QFETCH(QByteArray, filler);
    QFETCH(QString, report);
    TelnetDecoder decoder;
    TelnetDecoder::Output output;
    decoder.feed(opening.constData(), opening.size(), output);
    const QByteArray piece = filler.repeated(4096 / filler.size());
    for (int sent = 0; sent < (1 << 20); sent += piece.size()) {
        decoder.feed(piece.constData(), piece.size(), output);
        QVERIFY2(decoder.pendingBytes() <= TelnetDecoder::maxSubnegotiation,
                 qPrintable(QString::number(decoder.pendingBytes())));
    }
    QVERIFY(output.data.isEmpty());
    QCOMPARE(describe(output.events), QStringList { report });
    const QByteArray end = hex("fff0") + "after";
    decoder.feed(end.constData(), end.size(), output);
    QCOMPARE(output.data, QByteArray("after"));
    QCOMPARE(output.events.size(), 1);
    QCOMPARE(decoder.pendingBytes(), 0);
}

void TelnetCodecTest::negotiationAnswers_data()
{
    QTest::addColumn<bool>("startFirst");
    QTest::addColumn<QByteArray>("incoming");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<QVector<int>>("local"); // in force on the client's side at the end
    QTest::addColumn<QVector<int>>("remote"); // in force on the server's side
    const QByteArray greeting = hex("fffb03fffd03fffb01fffe01fffd00fffb00fffd2c");
    const QVector<int> wantedLocal { 0, 3, 44 };
    const QVector<int> wantedRemote { 0, 3 };
    QTest::newRow("ser2net, after our start")
        << true << greeting + hex("fffd03") << hex("fffe01") << wantedLocal << wantedRemote;
    QTest::newRow("ser2net, before our start")
        << false << greeting << hex("fffd03fffb03fffe01fffb00fffd00fffb2c") << wantedLocal
        << wantedRemote;
    QTest::newRow("a server that refuses everything")
        << true << hex("fffe00fffc00fffe03fffc03fffe2c") << QByteArray() << QVector<int>()
        << QVector<int>();
    QTest::newRow("a server that would be a COM-PORT-OPTION client")
        << true << hex("fffb2c") << hex("fffe2c") << QVector<int>() << QVector<int>();
    QTest::newRow("what we do not want is refused once")
        << true << hex("fffd18fffd18fffb01fffb01fffd05") << hex("fffc18fffe01fffc05")
        << QVector<int>() << QVector<int>();
    QTest::newRow("answers are not answered")
        << true << hex("fffb00fffd00fffb00fffd00") << QByteArray() << QVector<int> { 0 }
        << QVector<int> { 0 };
    QTest::newRow("withdrawn, acknowledged, offered again")
        << true << hex("fffb00fffc00fffb00fffd00fffe00") << hex("fffe00fffd00fffc00")
        << QVector<int>() << QVector<int> { 0 };
    QTest::newRow("a refusal of what nobody asked for")
        << true << hex("fffc05fffe05fffc00") << QByteArray() << QVector<int>() << QVector<int>();
}

void TelnetCodecTest::negotiationAnswers()
{
    QFETCH(bool, startFirst);
    QFETCH(QByteArray, incoming);
    QFETCH(QByteArray, replies);
    QFETCH(QVector<int>, local);
    QFETCH(QVector<int>, remote);
    TelnetNegotiation negotiation = TelnetNegotiation::comPortClient();
    if (startFirst)
        QCOMPARE(negotiation.start(), hex("fffb00fffd00fffb03fffd03fffb2c"));
    QByteArray sent;
    for (const TelnetEvent &event : TelnetDecoder().feed(incoming).events)
        sent += negotiation.answer(event.verb, event.option);
    if (!startFirst)
        sent += negotiation.start();
    QCOMPARE(sent.toHex(), replies.toHex());
    for (int option = 0; option < 256; ++option) {
        QVERIFY2(negotiation.localEnabled(quint8(option)) == local.contains(option),
                 qPrintable(QString::number(option)));
        QVERIFY2(negotiation.remoteEnabled(quint8(option)) == remote.contains(option),
                 qPrintable(QString::number(option)));
    }
}

void TelnetCodecTest::negotiationSettles_data()
{
    QTest::addColumn<int>("peer");
    QTest::addColumn<QByteArray>("peerStart");
    QTest::newRow("a server of the same kind") << 0 << QByteArray();
    QTest::newRow("a server that answers every answer") << 1 << hex("fffb01fffd18");
    QTest::newRow("a server that contradicts every word") << 2 << hex("fffb01fffd18");
}

// Two ends talking until neither has more to say: it ends within a few rounds, whatever the
// other end answers.
void TelnetCodecTest::negotiationSettles()
{
    QFETCH(int, peer);
    QFETCH(QByteArray, peerStart);
    TelnetNegotiation client = TelnetNegotiation::comPortClient();
    TelnetNegotiation server = TelnetNegotiation::comPortServer();
    const auto peerAnswer = [&](const TelnetEvent &event) {
        if (peer == 0)
            return server.answer(event.verb, event.option);
        const quint8 mirrored[] = { Telnet::Do, Telnet::Dont, Telnet::Will, Telnet::Wont };
        const quint8 contrary[] = { Telnet::Dont, Telnet::Do, Telnet::Wont, Telnet::Will };
        const quint8 *table = peer == 1 ? mirrored : contrary;
        return telnetNegotiation(table[event.verb - Telnet::Will], event.option);
    };
    QByteArray toServer = client.start();
    QByteArray toClient = (peer == 0 ? server.start() : QByteArray()) + peerStart;
    int rounds = 0;
    for (; rounds < 10 && !(toServer.isEmpty() && toClient.isEmpty()); ++rounds) {
        QByteArray nextToServer;
        for (const TelnetEvent &event : TelnetDecoder().feed(toClient).events)
            nextToServer += client.answer(event.verb, event.option);
        QByteArray nextToClient;
        for (const TelnetEvent &event : TelnetDecoder(ComPortSender::Client).feed(toServer).events)
            nextToClient += peerAnswer(event);
        toServer = nextToServer;
        toClient = nextToClient;
    }
    QVERIFY2(rounds <= 4, qPrintable(QString::number(rounds)));
    if (peer != 2) {
        QVERIFY(client.localEnabled(Telnet::OptionComPort));
        QVERIFY(client.localEnabled(Telnet::OptionBinary));
        QVERIFY(client.remoteEnabled(Telnet::OptionBinary));
    }
    QVERIFY(!client.remoteEnabled(Telnet::OptionEcho));
}

void TelnetCodecTest::encoders_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("decoded"); // as a server reads it
    QTest::newRow("SET-BAUDRATE 115200")
        << comPortSetBaudRate(115200) << hex("fffa2c010001c200fff0")
        << QStringLiteral("comport 1 115200");
    QTest::newRow("SET-BAUDRATE with 0xFF in it")
        << comPortSetBaudRate(0xff00ffu) << hex("fffa2c0100ffff00fffffff0")
        << QStringLiteral("comport 1 16711935");
    QTest::newRow("SET-BAUDRATE query")
        << comPortSetBaudRate(0) << hex("fffa2c0100000000fff0") << QStringLiteral("comport 1 0");
    QTest::newRow("SET-DATASIZE 7")
        << comPortSetDataSize(7) << hex("fffa2c0207fff0") << QStringLiteral("comport 2 7");
    QTest::newRow("SET-PARITY even") << comPortSetParity(ComPortParity::Even)
                                     << hex("fffa2c0303fff0") << QStringLiteral("comport 3 3");
    QTest::newRow("SET-STOPSIZE 1.5") << comPortSetStopSize(ComPortStopSize::OneAndHalf)
                                      << hex("fffa2c0403fff0") << QStringLiteral("comport 4 3");
    QTest::newRow("SET-CONTROL BREAK on") << comPortSetControl(ComPortControl::BreakOn)
                                          << hex("fffa2c0505fff0") << QStringLiteral("comport 5 5");
    QTest::newRow("SET-CONTROL RTS off") << comPortSetControl(ComPortControl::RtsOff)
                                         << hex("fffa2c050cfff0") << QStringLiteral("comport 5 12");
    QTest::newRow("SET-LINESTATE-MASK all") << comPortSetLineStateMask(0xff)
                                            << hex("fffa2c0affff"
                                                   "fff0")
                                            << QStringLiteral("comport 10 255");
    QTest::newRow("SET-MODEMSTATE-MASK lines")
        << comPortSetModemStateMask(0xf0) << hex("fffa2c0bf0fff0")
        << QStringLiteral("comport 11 240");
    QTest::newRow("PURGE-DATA both") << comPortPurgeData(ComPortPurge::Both)
                                     << hex("fffa2c0c03fff0") << QStringLiteral("comport 12 3");
    QTest::newRow("FLOWCONTROL-SUSPEND")
        << comPortSuspendFlow(true) << hex("fffa2c08fff0") << QStringLiteral("comport 8 0");
    QTest::newRow("FLOWCONTROL-RESUME")
        << comPortSuspendFlow(false) << hex("fffa2c09fff0") << QStringLiteral("comport 9 0");
    QTest::newRow("a code 255 is doubled too")
        << comPortSubnegotiation(0xff, QByteArray()) << hex("fffa2cfffffff0")
        << QStringLiteral("skip unknown 44");
    QTest::newRow("negotiation") << telnetNegotiation(Telnet::Will, Telnet::OptionComPort)
                                 << hex("fffb2c") << QStringLiteral("WILL 44");
}

void TelnetCodecTest::encoders()
{
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, expected);
    QFETCH(QString, decoded);
    QCOMPARE(wire.toHex(), expected.toHex());
    const TelnetDecoder::Output output = TelnetDecoder(ComPortSender::Client).feed(wire);
    QVERIFY(output.data.isEmpty());
    QCOMPARE(describe(output.events), QStringList { decoded });
}

// Data goes out with 0xFF doubled and comes back as it was, whatever it holds.
void TelnetCodecTest::dataDoubling()
{
    QCOMPARE(telnetData(QByteArray()), QByteArray());
    QCOMPARE(telnetData(hex("ff00ff0d")).toHex(), hex("ffff00ffff0d").toHex());
    const QByteArray every = everyByteThenRandom(4096, 1);
    QCOMPARE(TelnetDecoder(ComPortSender::Client).feed(hex("fffb00") + telnetData(every)).data,
             every);
}

void TelnetCodecTest::serialSettings()
{
    const QSerialPort::DataBits bits[]
        = { QSerialPort::Data5, QSerialPort::Data6, QSerialPort::Data7, QSerialPort::Data8 };
    for (const QSerialPort::DataBits b : bits) {
        QCOMPARE(comPortDataSize(b), quint8(b));
        QVERIFY(dataBitsFromComPort(comPortDataSize(b)) == b);
    }
    const QSerialPort::Parity parities[]
        = { QSerialPort::NoParity, QSerialPort::OddParity, QSerialPort::EvenParity,
            QSerialPort::MarkParity, QSerialPort::SpaceParity };
    const quint8 parityValues[] = { 1, 2, 3, 4, 5 };
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(quint8(comPortParity(parities[i])), parityValues[i]);
        QVERIFY(parityFromComPort(parityValues[i]) == parities[i]);
    }
    const QSerialPort::StopBits stops[]
        = { QSerialPort::OneStop, QSerialPort::TwoStop, QSerialPort::OneAndHalfStop };
    const quint8 stopValues[] = { 1, 2, 3 };
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(quint8(comPortStopSize(stops[i])), stopValues[i]);
        QVERIFY(stopBitsFromComPort(stopValues[i]) == stops[i]);
    }
    const QSerialPort::FlowControl flows[]
        = { QSerialPort::NoFlowControl, QSerialPort::SoftwareControl,
            QSerialPort::HardwareControl };
    const quint8 flowValues[] = { 1, 2, 3 };
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(quint8(comPortFlow(flows[i])), flowValues[i]);
        QVERIFY(flowControlFromComPort(flowValues[i]) == flows[i]);
    }
    // SET-CONTROL's other values (BREAK, DTR, RTS, inbound flow) are no flow control.
    for (quint32 value = 4; value <= 16; ++value)
        QVERIFY2(!flowControlFromComPort(value), qPrintable(QString::number(value)));
}

void TelnetCodecTest::unknownOptionValues_data()
{
    QTest::addColumn<quint32>("value");
    QTest::newRow("the query") << 0u;
    QTest::newRow("past the table") << 9u;
    QTest::newRow("past a byte, same low byte as a real value") << 0x101u;
    QTest::newRow("the largest") << 0xffffffffu;
}

// What a server answers that this side has no name for is none of its settings.
void TelnetCodecTest::unknownOptionValues()
{
    QFETCH(quint32, value);
    QVERIFY(!dataBitsFromComPort(value));
    QVERIFY(!parityFromComPort(value));
    QVERIFY(!stopBitsFromComPort(value));
    QVERIFY(!flowControlFromComPort(value));
}

void TelnetCodecTest::modemLines_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("lines");
    QTest::newRow("none") << 0 << int(QSerialPort::NoSignal);
    QTest::newRow("changes only, no line up") << 0x0f << int(QSerialPort::NoSignal);
    QTest::newRow("CTS and DSR, as a loop gives RTS and DTR back")
        << 0x33 << int(QSerialPort::ClearToSendSignal | QSerialPort::DataSetReadySignal);
    QTest::newRow("all four") << 0xff
                              << int(QSerialPort::ClearToSendSignal
                                     | QSerialPort::DataSetReadySignal
                                     | QSerialPort::DataCarrierDetectSignal
                                     | QSerialPort::RingIndicatorSignal);
    QTest::newRow("DCD and RI") << 0xc0
                                << int(QSerialPort::DataCarrierDetectSignal
                                       | QSerialPort::RingIndicatorSignal);
}

void TelnetCodecTest::modemLines()
{
    QFETCH(int, state);
    QFETCH(int, lines);
    QCOMPARE(int(pinoutFromModemState(quint8(state))), lines);
}

// The client's start crosses ser2net's greeting; the only word the client adds is its refusal
// of ser2net's ECHO.
void TelnetCodecTest::ser2netNegotiates()
{
    if (!Ser2net::isInstalled())
        QSKIP("ser2net is not installed; the remote serial port tests need it");
    Ser2net ser2net;
    const QString failure = ser2net.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    CodecClient client;
    QVERIFY(client.connectTo(ser2net.rfc2217Port()));
    QTRY_VERIFY(negotiatedWithSer2net(client));
    QCOMPARE(client.replies.toHex(), hex("fffe01").toHex());
    QVERIFY(client.negotiation.localEnabled(Telnet::OptionComPort));
    QVERIFY(client.negotiation.localEnabled(Telnet::OptionBinary));
    QVERIFY(client.negotiation.remoteEnabled(Telnet::OptionBinary));
    QVERIFY(client.negotiation.localEnabled(Telnet::OptionSuppressGoAhead));
    QVERIFY(client.negotiation.remoteEnabled(Telnet::OptionSuppressGoAhead));
    QVERIFY(!client.negotiation.remoteEnabled(Telnet::OptionEcho));
    QVERIFY(client.decoder.senderBinary());
    // A question answered after all that: nothing more was said in between.
    QCOMPARE(answersUpToMarker(client, 0, ser2netMarker), QStringList { "comport 7 0" });
    QCOMPARE(client.replies.toHex(), hex("fffe01").toHex());
    QVERIFY(client.data.isEmpty());
}

void TelnetCodecTest::ser2netAnswersSettings_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("speed"); // the pty's line speed afterwards
    QTest::newRow("SET-BAUDRATE 115200")
        << comPortSetBaudRate(115200) << QStringList { "comport 1 115200" } << 115200;
    QTest::newRow("SET-BAUDRATE 19200")
        << comPortSetBaudRate(19200) << QStringList { "comport 1 19200" } << 19200;
    QTest::newRow("SET-BAUDRATE without a termios constant")
        << comPortSetBaudRate(12345) << QStringList { "comport 1 12345" } << 12345;
    QTest::newRow("SET-BAUDRATE with 0xFF in it")
        << comPortSetBaudRate(0xffff) << QStringList { "comport 1 65535" } << 65535;
    QTest::newRow("the rate asked: the configured one")
        << comPortSetBaudRate(0) << QStringList { "comport 1 9600" } << 9600;
    QTest::newRow("SET-DATASIZE 7")
        << comPortSetDataSize(7) << QStringList { "comport 2 7" } << 9600;
    QTest::newRow("SET-PARITY even")
        << comPortSetParity(ComPortParity::Even) << QStringList { "comport 3 3" } << 9600;
    QTest::newRow("SET-STOPSIZE 2")
        << comPortSetStopSize(ComPortStopSize::Two) << QStringList { "comport 4 2" } << 9600;
    QTest::newRow("SET-STOPSIZE 1.5: no answer")
        << comPortSetStopSize(ComPortStopSize::OneAndHalf) << QStringList() << 9600;
    QTest::newRow("SET-CONTROL hardware flow")
        << comPortSetControl(ComPortControl::Hardware) << QStringList { "comport 5 3" } << 9600;
    QTest::newRow("SET-CONTROL DTR on: no answer")
        << comPortSetControl(ComPortControl::DtrOn) << QStringList() << 9600;
    QTest::newRow("SET-CONTROL RTS off: no answer")
        << comPortSetControl(ComPortControl::RtsOff) << QStringList() << 9600;
    // A client must not take this answer for a refusal: ser2net says "on" to every BREAK value.
    QTest::newRow("SET-CONTROL BREAK off: answered as on")
        << comPortSetControl(ComPortControl::BreakOff) << QStringList { "comport 5 5" } << 9600;
    QTest::newRow("SET-MODEMSTATE-MASK: answered by the modem state")
        << comPortSetModemStateMask(0xff) << QStringList { "comport 7 0" } << 9600;
    QTest::newRow("SET-LINESTATE-MASK: answered by the line state")
        << comPortSetLineStateMask(0xff) << QStringList { "comport 6 0" } << 9600;
    QTest::newRow("an unknown command: no answer")
        << comPortSubnegotiation(99, QByteArray(1, '\1')) << QStringList() << 9600;
}

void TelnetCodecTest::ser2netAnswersSettings()
{
    QFETCH(QByteArray, command);
    QFETCH(QStringList, answers);
    QFETCH(int, speed);
    if (!Ser2net::isInstalled())
        QSKIP("ser2net is not installed; the remote serial port tests need it");
    Ser2net ser2net;
    const QString failure = ser2net.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    CodecClient client;
    QVERIFY(client.connectTo(ser2net.rfc2217Port()));
    QTRY_VERIFY(negotiatedWithSer2net(client));
    const int before = client.events.size();
    client.send(command);
    QCOMPARE(answersUpToMarker(client, before, ser2netMarker), answers);
    QCOMPARE(ser2net.lineSpeed(), speed);
    QCOMPARE(client.replies.toHex(), hex("fffe01").toHex());
}

// A mebibyte holding every byte value, both ways at once: the pty gets exactly what the client
// sent, the client exactly what the pty sent, 0xFF doubled on the wire only.
void TelnetCodecTest::ser2netCarriesEveryByteBothWays()
{
    if (!Ser2net::isInstalled())
        QSKIP("ser2net is not installed; the remote serial port tests need it");
    Ser2net ser2net;
    const QString failure = ser2net.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    CodecClient client;
    QVERIFY(client.connectTo(ser2net.rfc2217Port()));
    QTRY_VERIFY(negotiatedWithSer2net(client));

    const QByteArray up = everyByteThenRandom(1 << 20, 38);
    const QByteArray down = everyByteThenRandom(1 << 20, 83);
    std::atomic<bool> stopping { false };
    std::atomic<qint64> atDeviceCount { 0 };
    QByteArray atDevice;
    bool written = false;
    const Pty &device = ser2net.device();
    JoiningThread reader([&] { stopping = true; });
    JoiningThread writer([&] { stopping = true; });
    reader.start([&] {
        while (!stopping && atDevice.size() < up.size()) {
            pollfd ready { device.masterFd(), POLLIN, 0 };
            ::poll(&ready, 1, 50);
            atDevice += device.readAvailable();
            atDeviceCount = atDevice.size();
        }
    });
    writer.start([&] { written = device.write(down); });
    client.send(telnetData(up));
    QTRY_VERIFY_WITH_TIMEOUT(client.data.size() >= down.size() && atDeviceCount >= up.size(),
                             120000);
    writer.join();
    reader.join();
    QVERIFY(written);
    QVERIFY2(client.data == down, qPrintable(firstDifference(client.data, down)));
    QVERIFY2(atDevice == up, qPrintable(firstDifference(atDevice, up)));
    QCOMPARE(client.replies.toHex(), hex("fffe01").toHex());
}

void TelnetCodecTest::ser2netComesBackOnTheSamePorts_data()
{
    QTest::addColumn<bool>("killed");
    QTest::newRow("killed") << true;
    QTest::newRow("stopped") << false;
}

// Gone while a client is on it, then back on the same ports: the client sees its connection
// end, and a new one is served and its settings taken as on the first.
void TelnetCodecTest::ser2netComesBackOnTheSamePorts()
{
    QFETCH(bool, killed);
    if (!Ser2net::isInstalled())
        QSKIP("ser2net is not installed; the remote serial port tests need it");
    Ser2net ser2net;
    QString failure = ser2net.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    auto first = std::make_unique<CodecClient>();
    QVERIFY(first->connectTo(ser2net.rfc2217Port()));
    QTRY_VERIFY(negotiatedWithSer2net(*first));
    first->send(comPortSetBaudRate(57600));
    QTRY_VERIFY(first->comPortEvents().contains(QStringLiteral("comport 1 57600")));
    QCOMPARE(ser2net.lineSpeed(), 57600);

    if (killed)
        ser2net.kill();
    else
        ser2net.stop();
    QTRY_COMPARE(first->socket.state(), QAbstractSocket::UnconnectedState);
    failure = ser2net.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    CodecClient second;
    QVERIFY(second.connectTo(ser2net.rfc2217Port()));
    QTRY_VERIFY(negotiatedWithSer2net(second));
    second.send(comPortSetBaudRate(230400));
    QTRY_VERIFY(second.comPortEvents().contains(QStringLiteral("comport 1 230400")));
    QCOMPARE(ser2net.lineSpeed(), 230400);
    QVERIFY(ser2net.device().write("back"));
    QTRY_COMPARE(second.data, QByteArray("back"));
}

// No Telnet at all on the raw port: 0xFF and what would be commands pass as they are.
void TelnetCodecTest::ser2netRawPortCarriesBytesAsTheyAre()
{
    if (!Ser2net::isInstalled())
        QSKIP("ser2net is not installed; the remote serial port tests need it");
    Ser2net ser2net;
    const QString failure = ser2net.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, ser2net.rawPort());
    QVERIFY(socket.waitForConnected(5000));
    const QByteArray commands = hex("fffb2cfffa2c0100002580fff0ffff");
    const QByteArray every = everyByteThenRandom(4096, 7) + commands;
    socket.write(every);
    QByteArray atDevice;
    QTRY_COMPARE((atDevice += ser2net.device().readAvailable()).size(), every.size());
    QCOMPARE(atDevice, every);
    QVERIFY(ser2net.device().write(every));
    QByteArray atClient;
    QTRY_COMPARE((atClient += socket.readAll()).size(), every.size());
    QCOMPARE(atClient, every);
}

// One client per device: a second one, on either port, is told so as data and closed, and the
// first goes on.
void TelnetCodecTest::ser2netServesOneClient()
{
    if (!Ser2net::isInstalled())
        QSKIP("ser2net is not installed; the remote serial port tests need it");
    Ser2net ser2net;
    const QString failure = ser2net.start();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    CodecClient first;
    QVERIFY(first.connectTo(ser2net.rfc2217Port()));
    QTRY_VERIFY(negotiatedWithSer2net(first));
    CodecClient second;
    QVERIFY(second.connectTo(ser2net.rfc2217Port()));
    QTRY_COMPARE(second.socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(second.data, QByteArray("Port already in use\r\n"));
    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, ser2net.rawPort());
    QVERIFY(raw.waitForConnected(5000));
    QByteArray refusal;
    QTRY_COMPARE(raw.state(), QAbstractSocket::UnconnectedState);
    refusal = raw.readAll();
    QCOMPARE(refusal, QByteArray("Port's device already in use\r\n"));
    QVERIFY(ser2net.device().write("still"));
    QTRY_COMPARE(first.data, QByteArray("still"));
}

// Both ends ask for what they want at once; every request crosses its answer, so neither adds
// a word.
void TelnetCodecTest::serverNegotiatesWithoutAWordMore()
{
    ComPortServer server;
    QVERIFY(server.isListening());
    CodecClient client;
    QVERIFY(client.connectTo(server.port()));
    QTRY_VERIFY(server.clientWill(Telnet::OptionComPort));
    QTRY_VERIFY(client.negotiation.localEnabled(Telnet::OptionComPort));
    QVERIFY(client.negotiation.remoteEnabled(Telnet::OptionBinary));
    QVERIFY(client.negotiation.remoteEnabled(Telnet::OptionSuppressGoAhead));
    QVERIFY(client.decoder.senderBinary());
    QCOMPARE(answersUpToMarker(client, 0, serverMarker), QStringList());
    QVERIFY(client.replies.isEmpty());
    QCOMPARE(describe(server.negotiations()),
             QStringList({ "WILL 0", "DO 0", "WILL 3", "DO 3", "WILL 44" }));
}

void TelnetCodecTest::serverAnswersAsTold_data()
{
    QTest::addColumn<int>("changed"); // the command whose answer the server changes, or -1
    QTest::addColumn<quint32>("asked");
    QTest::addColumn<quint32>("answered");
    QTest::addColumn<bool>("silentControl");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QStringList>("answers");
    const int baud = int(ComPortCommand::SetBaudRate);
    QTest::newRow("a refused baud answered with the one in force")
        << baud << 1000000u << 115200u << false << comPortSetBaudRate(1000000)
        << QStringList { "comport 1 115200" };
    QTest::newRow("a baud it takes, answered as asked")
        << baud << 1000000u << 115200u << false << comPortSetBaudRate(57600)
        << QStringList { "comport 1 57600" };
    QTest::newRow("0xFF in the value both ways")
        << -1 << 0u << 0u << false << comPortSetBaudRate(0xff00ffu)
        << QStringList { "comport 1 16711935" };
    QTest::newRow("a data size it cannot do")
        << int(ComPortCommand::SetDataSize) << 5u << 8u << false << comPortSetDataSize(5)
        << QStringList { "comport 2 8" };
    QTest::newRow("SET-CONTROL DTR on, answered")
        << -1 << 0u << 0u << false << comPortSetControl(ComPortControl::DtrOn)
        << QStringList { "comport 5 8" };
    QTest::newRow("SET-CONTROL DTR on, not answered")
        << -1 << 0u << 0u << true << comPortSetControl(ComPortControl::DtrOn) << QStringList();
    QTest::newRow("hardware flow refused")
        << int(ComPortCommand::SetControl) << 3u << 1u << false
        << comPortSetControl(ComPortControl::Hardware) << QStringList { "comport 5 1" };
}

void TelnetCodecTest::serverAnswersAsTold()
{
    QFETCH(int, changed);
    QFETCH(quint32, asked);
    QFETCH(quint32, answered);
    QFETCH(bool, silentControl);
    QFETCH(QByteArray, command);
    QFETCH(QStringList, answers);
    ComPortServer server;
    if (changed >= 0)
        server.answerWith(ComPortCommand(changed), asked, answered);
    server.setSilent(ComPortCommand::SetControl, silentControl);
    CodecClient client;
    QVERIFY(client.connectTo(server.port()));
    QTRY_VERIFY(client.negotiation.localEnabled(Telnet::OptionComPort));
    client.send(command);
    QCOMPARE(answersUpToMarker(client, 0, serverMarker), answers);
    // The command reached the server whether answered or not.
    QCOMPARE(server.commands().size(), 2);
    QCOMPARE(server.commands().constFirst().kind, TelnetEvent::Kind::ComPort);
}

// Modem and line state as the test says, between data, with 0xFF in both.
void TelnetCodecTest::serverNotifiesWhenTold()
{
    ComPortServer server;
    CodecClient client;
    QVERIFY(client.connectTo(server.port()));
    QTRY_VERIFY(server.hasClient() && client.decoder.senderBinary());
    server.sendData(QByteArray("a\xff\r\0", 4));
    server.notifyModemState(ModemState::Cts | ModemState::CtsChanged);
    server.sendData("b");
    server.notifyLineState(LineState::FramingError);
    server.notifyModemState(0xff);
    QTRY_COMPARE(client.comPortEvents(),
                 QStringList({ "comport 7 17", "comport 6 8", "comport 7 255" }));
    QCOMPARE(client.data, QByteArray("a\xff\r\0b", 5));
    QCOMPARE(int(pinoutFromModemState(quint8(client.events.constLast().value))),
             int(QSerialPort::ClearToSendSignal | QSerialPort::DataSetReadySignal
                 | QSerialPort::DataCarrierDetectSignal | QSerialPort::RingIndicatorSignal));
}

// What a client sends on open and on close, as the server records it; the next step's link
// is checked against this record.
void TelnetCodecTest::serverRecordsEveryCommand()
{
    ComPortServer server;
    server.setEcho(true);
    CodecClient client;
    QVERIFY(client.connectTo(server.port()));
    QTRY_VERIFY(client.negotiation.localEnabled(Telnet::OptionComPort));
    client.send(
        comPortSetBaudRate(115200) + comPortSetDataSize(7) + comPortSetParity(ComPortParity::Odd)
        + comPortSetStopSize(ComPortStopSize::Two) + comPortSetControl(ComPortControl::NoFlow)
        + comPortSetControl(ComPortControl::DtrOn) + comPortSetControl(ComPortControl::RtsOff)
        + comPortSetModemStateMask(0xff) + comPortSetLineStateMask(LineState::Errors)
        + telnetData("x\xffy") + comPortSuspendFlow(true) + comPortSuspendFlow(false)
        + comPortPurgeData(ComPortPurge::Both) + comPortSubnegotiation(1, hex("01")));
    const QStringList expected
        = { "comport 1 115200", "comport 2 7",  "comport 3 2",       "comport 4 2",   "comport 5 1",
            "comport 5 8",      "comport 5 12", "comport 11 255",    "comport 10 30", "comport 8 0",
            "comport 9 0",      "comport 12 3", "skip bad-length 44" };
    QTRY_COMPARE(describe(server.commands()), expected);
    QCOMPARE(server.data(), QByteArray("x\xffy"));
    QTRY_COMPARE(client.data, QByteArray("x\xffy"));
    QCOMPARE(server.value(ComPortCommand::SetBaudRate), 115200u);
    QCOMPARE(server.value(ComPortCommand::SetParity), quint32(ComPortParity::Odd));
    QVERIFY(server.dtr());
    QVERIFY(!server.rts());
    // Suspend and resume get no answer; everything else does, in order.
    QTRY_COMPARE(client.comPortEvents(),
                 QStringList({ "comport 1 115200", "comport 2 7", "comport 3 2", "comport 4 2",
                               "comport 5 1", "comport 5 8", "comport 5 12", "comport 11 255",
                               "comport 10 30", "comport 12 3" }));
}

QTEST_GUILESS_MAIN(TelnetCodecTest)
#include "tst_telnetcodec.moc"
