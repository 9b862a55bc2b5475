#pragma once

#include <QByteArray>
#include <QSerialPort>
#include <QVector>
#include <QtGlobal>

#include <array>
#include <optional>

// Telnet framing and its COM-PORT-OPTION (RFC 2217), as a remote serial port speaks them. Pure:
// bytes in, bytes and events out, no socket; whatever a server sends is taken apart safely.

namespace Telnet {
constexpr quint8 Se = 240;
constexpr quint8 Nop = 241;
constexpr quint8 Break = 243;
constexpr quint8 GoAhead = 249;
constexpr quint8 Sb = 250;
constexpr quint8 Will = 251;
constexpr quint8 Wont = 252;
constexpr quint8 Do = 253;
constexpr quint8 Dont = 254;
constexpr quint8 Iac = 255;

constexpr quint8 OptionBinary = 0;
constexpr quint8 OptionEcho = 1;
constexpr quint8 OptionSuppressGoAhead = 3;
constexpr quint8 OptionComPort = 44;
} // namespace Telnet

// The client's codes; a server answers a command with its code plus comPortServerOffset.
enum class ComPortCommand : quint8 {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
constexpr quint8 comPortServerOffset = 100;

// Value 0 of SET-DATASIZE, SET-PARITY and SET-STOPSIZE (and of SET-BAUDRATE) asks for the value
// in force instead of setting one.
constexpr quint8 comPortQuery = 0;

enum class ComPortParity : quint8 { Query = 0, None = 1, Odd = 2, Even = 3, Mark = 4, Space = 5 };
enum class ComPortStopSize : quint8 { Query = 0, One = 1, Two = 2, OneAndHalf = 3 };
enum class ComPortControl : quint8 {
    QueryFlow = 0,
    NoFlow = 1,
    XonXoff = 2,
    Hardware = 3,
    QueryBreak = 4,
    BreakOn = 5,
    BreakOff = 6,
    QueryDtr = 7,
    DtrOn = 8,
    DtrOff = 9,
    QueryRts = 10,
    RtsOn = 11,
    RtsOff = 12,
    QueryInboundFlow = 13,
    InboundNoFlow = 14,
    InboundXonXoff = 15,
    InboundHardware = 16,
};
enum class ComPortPurge : quint8 { Receive = 1, Transmit = 2, Both = 3 };

namespace ModemState {
constexpr quint8 Dcd = 0x80;
constexpr quint8 Ri = 0x40;
constexpr quint8 Dsr = 0x20;
constexpr quint8 Cts = 0x10;
constexpr quint8 DcdChanged = 0x08;
constexpr quint8 RiTrailingEdge = 0x04;
constexpr quint8 DsrChanged = 0x02;
constexpr quint8 CtsChanged = 0x01;
} // namespace ModemState

namespace LineState {
constexpr quint8 TimeOut = 0x80;
constexpr quint8 ShiftRegisterEmpty = 0x40;
constexpr quint8 HoldingRegisterEmpty = 0x20;
constexpr quint8 BreakDetected = 0x10;
constexpr quint8 FramingError = 0x08;
constexpr quint8 ParityError = 0x04;
constexpr quint8 Overrun = 0x02;
constexpr quint8 DataReady = 0x01;
// What a log should note: the errors, not the state of the registers.
constexpr quint8 Errors = BreakDetected | FramingError | ParityError | Overrun;
} // namespace LineState

// Which end of the link a decoder listens to: COM-PORT-OPTION codes from the other end's side
// of the table are not what that end may send, and are skipped.
enum class ComPortSender : quint8 { Server, Client };

struct TelnetEvent {
    enum class Kind : quint8 {
        Negotiation, // `verb` (Will, Wont, Do, Dont) for `option`
        Command, // a command of its own (NOP, BREAK, GA, ...) in `verb`; it carries no data
        ComPort, // a COM-PORT-OPTION sub-negotiation: `command` with `value`
        Skipped, // a sub-negotiation not taken, `why`
    };
    enum class Skip : quint8 {
        None,
        OtherOption, // a sub-negotiation for an option other than COM-PORT-OPTION
        UnknownCommand, // a code this end never sends (or none at all)
        BadLength, // a value of the wrong size for its command
        TooLong, // longer than maxSubnegotiation: the rest up to its end is dropped
        Unterminated, // an IAC and a command inside it: it ends there, the command counts
    };

    Kind kind = Kind::Command;
    quint8 verb = 0;
    quint8 option = 0;
    ComPortCommand command = ComPortCommand::Signature;
    // Four bytes in network order for SET-BAUDRATE, one byte for the rest, 0 for none.
    quint32 value = 0;
    Skip why = Skip::None;

    bool operator==(const TelnetEvent &other) const;
    bool operator!=(const TelnetEvent &other) const { return !(*this == other); }
};

// Takes a Telnet stream apart as TCP delivers it, split at any byte: data comes out exactly,
// every command and sub-negotiation as an event, never as data. Its memory is fixed: a
// sub-negotiation is kept up to maxSubnegotiation bytes (the longest COM-PORT-OPTION one has
// five); beyond that it is reported TooLong at once and the rest is dropped up to its IAC SE,
// or up to any other command, which ends it as well (a server that never ends one cannot swallow
// the commands that follow).
class TelnetDecoder {
public:
    static constexpr int maxSubnegotiation = 64;

    struct Output {
        QByteArray data;
        QVector<TelnetEvent> events;
    };

    explicit TelnetDecoder(ComPortSender sender = ComPortSender::Server);

    // Appends to `output` what these bytes complete; what they leave open waits for the next.
    void feed(const char *bytes, qsizetype size, Output &output);
    Output feed(const QByteArray &bytes);

    // CR NUL stands for CR only while the sender's BINARY is not in force. It follows the
    // sender's own WILL and WONT BINARY, since the client always agrees to BINARY.
    bool senderBinary() const { return m_senderBinary; }
    // The sub-negotiation bytes held, at most maxSubnegotiation.
    int pendingBytes() const { return m_pendingSize; }

private:
    enum class State : quint8 { Data, Iac, Verb, Sb, SbIac };

    void command(quint8 byte, Output &output);
    void subnegotiationByte(quint8 byte, Output &output);
    void endSubnegotiation(Output &output);
    qsizetype takeData(const char *bytes, qsizetype size, QByteArray &data);

    ComPortSender m_sender;
    State m_state = State::Data;
    quint8 m_verb = 0;
    bool m_senderBinary = false;
    bool m_afterCr = false;
    bool m_overflowed = false;
    int m_pendingSize = 0;
    std::array<quint8, maxSubnegotiation> m_pending {};
};

// The sub-negotiation's command and value as TelnetDecoder reads them (without IAC SB 44 and
// IAC SE, with 0xFF undoubled); Skipped when the code or the length does not fit.
TelnetEvent comPortEvent(ComPortSender sender, const quint8 *bytes, int size);

// One end's side of the option negotiation (the Q method of RFC 1143): it asks for what it
// wants once, agrees to what it wants, refuses the rest, and never answers an answer, so two
// ends never talk in a loop. An option it refused is refused once; the same request again gets
// no word, since the other end has the answer already.
class TelnetNegotiation {
public:
    TelnetNegotiation(QVector<quint8> wantedLocal, QVector<quint8> wantedRemote);
    // The client of a remote serial port: BINARY and SUPPRESS-GO-AHEAD both ways, and
    // COM-PORT-OPTION on its own side (a server does not do the client's part).
    static TelnetNegotiation comPortClient();
    // Its server, for tests: the same, with COM-PORT-OPTION asked of the client.
    static TelnetNegotiation comPortServer();

    // The requests to send at the start for every wanted option not in force yet.
    QByteArray start();
    // What to send back for the other end's `verb` on `option`; often nothing.
    QByteArray answer(quint8 verb, quint8 option);

    bool localEnabled(quint8 option) const; // this end WILL, agreed
    bool remoteEnabled(quint8 option) const; // the other end WILL, agreed

private:
    enum class Q : quint8 { No, Yes, WantNo, WantYes, Refused };
    struct Side {
        std::array<Q, 256> state {};
        QVector<quint8> wanted;
    };
    // One side's step for an offer (WILL/DO) or a refusal (WONT/DONT); the reply's verbs are
    // `agree` and `refuse`.
    static QByteArray step(Side &side, bool offered, quint8 option, quint8 agree, quint8 refuse);

    Side m_local;
    Side m_remote;
};

// Data for the wire: every 0xFF doubled. Nothing else is stuffed: with BINARY both ways a CR
// goes as it is.
QByteArray telnetData(const QByteArray &bytes);
QByteArray telnetNegotiation(quint8 verb, quint8 option);
// IAC SB 44 code value IAC SE, 0xFF in the value doubled.
QByteArray comPortSubnegotiation(quint8 code, const QByteArray &value);
QByteArray comPortSetBaudRate(quint32 baud);
QByteArray comPortSetDataSize(quint8 bits);
QByteArray comPortSetParity(ComPortParity parity);
QByteArray comPortSetStopSize(ComPortStopSize stopSize);
QByteArray comPortSetControl(ComPortControl control);
QByteArray comPortSetLineStateMask(quint8 mask);
QByteArray comPortSetModemStateMask(quint8 mask);
QByteArray comPortPurgeData(ComPortPurge purge);
// FLOWCONTROL-SUSPEND (stop sending to me) or -RESUME.
QByteArray comPortSuspendFlow(bool suspend);

// Between QSerialPort's settings and the option's values. A value that has no counterpart
// gives nothing (the server answered something this side cannot name).
quint8 comPortDataSize(QSerialPort::DataBits bits);
std::optional<QSerialPort::DataBits> dataBitsFromComPort(quint32 value);
ComPortParity comPortParity(QSerialPort::Parity parity);
std::optional<QSerialPort::Parity> parityFromComPort(quint32 value);
ComPortStopSize comPortStopSize(QSerialPort::StopBits stopBits);
std::optional<QSerialPort::StopBits> stopBitsFromComPort(quint32 value);
ComPortControl comPortFlow(QSerialPort::FlowControl flow);
std::optional<QSerialPort::FlowControl> flowControlFromComPort(quint32 value);
// The lines a NOTIFY-MODEMSTATE says are up (the change bits are not lines).
QSerialPort::PinoutSignals pinoutFromModemState(quint8 state);
