#include "telnetcodec.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

TelnetEvent skipped(TelnetEvent::Skip why, quint8 option)
{
    TelnetEvent event;
    event.kind = TelnetEvent::Kind::Skipped;
    event.option = option;
    event.why = why;
    return event;
}

// How many value bytes a command carries; -1 for any number (the signature is text).
int comPortValueLength(ComPortCommand command)
{
    switch (command) {
    case ComPortCommand::Signature:
        return -1;
    case ComPortCommand::SetBaudRate:
        return 4;
    case ComPortCommand::FlowControlSuspend:
    case ComPortCommand::FlowControlResume:
        return 0;
    default:
        return 1;
    }
}

QByteArray oneByte(quint8 value)
{
    return QByteArray(1, char(value));
}

} // namespace

bool TelnetEvent::operator==(const TelnetEvent &other) const
{
    return kind == other.kind && verb == other.verb && option == other.option
        && command == other.command && value == other.value && why == other.why;
}

TelnetEvent comPortEvent(ComPortSender sender, const quint8 *bytes, int size)
{
    using Skip = TelnetEvent::Skip;
    const int first = sender == ComPortSender::Server ? comPortServerOffset : 0;
    const int last = first + int(ComPortCommand::PurgeData);
    if (size < 1 || bytes[0] < first || bytes[0] > last)
        return skipped(Skip::UnknownCommand, Telnet::OptionComPort);
    const auto command = ComPortCommand(bytes[0] - first);
    const int length = comPortValueLength(command);
    if (length >= 0 && size - 1 != length)
        return skipped(Skip::BadLength, Telnet::OptionComPort);
    TelnetEvent event;
    event.kind = TelnetEvent::Kind::ComPort;
    event.option = Telnet::OptionComPort;
    event.command = command;
    if (length == 4)
        event.value = qFromBigEndian<quint32>(bytes + 1);
    else if (length == 1)
        event.value = bytes[1];
    return event;
}

TelnetDecoder::TelnetDecoder(ComPortSender sender)
    : m_sender(sender)
{
}

TelnetDecoder::Output TelnetDecoder::feed(const QByteArray &bytes)
{
    Output output;
    feed(bytes.constData(), bytes.size(), output);
    return output;
}

void TelnetDecoder::feed(const char *bytes, qsizetype size, Output &output)
{
    qsizetype at = 0;
    while (at < size) {
        if (m_state == State::Data) {
            at += takeData(bytes + at, size - at, output.data);
            continue;
        }
        const auto byte = quint8(bytes[at++]);
        switch (m_state) {
        case State::Iac:
            command(byte, output);
            break;
        case State::Verb: {
            m_state = State::Data;
            if (byte == Telnet::OptionBinary && (m_verb == Telnet::Will || m_verb == Telnet::Wont))
                m_senderBinary = m_verb == Telnet::Will;
            TelnetEvent event;
            event.kind = TelnetEvent::Kind::Negotiation;
            event.verb = m_verb;
            event.option = byte;
            output.events.append(event);
            break;
        }
        case State::Sb:
        case State::SbIac:
            subnegotiationByte(byte, output);
            break;
        case State::Data:
            break;
        }
    }
}

// Plain data up to the next IAC, which it consumes; returns how many bytes it took.
qsizetype TelnetDecoder::takeData(const char *bytes, qsizetype size, QByteArray &data)
{
    if (m_senderBinary) {
        const void *iac = std::memchr(bytes, Telnet::Iac, size_t(size));
        const qsizetype run = iac ? static_cast<const char *>(iac) - bytes : size;
        data.append(bytes, int(run));
        if (run > 0)
            m_afterCr = bytes[run - 1] == '\r';
        if (!iac)
            return run;
        m_state = State::Iac;
        return run + 1;
    }
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = bytes[i];
        if (quint8(c) == Telnet::Iac) {
            data.append(bytes + start, int(i - start));
            m_state = State::Iac;
            return i + 1;
        }
        if (c == '\0' && m_afterCr) {
            data.append(bytes + start, int(i - start));
            start = i + 1;
        }
        m_afterCr = c == '\r';
    }
    data.append(bytes + start, int(size - start));
    return size;
}

void TelnetDecoder::command(quint8 byte, Output &output)
{
    m_state = State::Data;
    switch (byte) {
    case Telnet::Iac:
        output.data.append(char(Telnet::Iac));
        m_afterCr = false;
        return;
    case Telnet::Will:
    case Telnet::Wont:
    case Telnet::Do:
    case Telnet::Dont:
        m_verb = byte;
        m_state = State::Verb;
        return;
    case Telnet::Sb:
        m_pendingSize = 0;
        m_overflowed = false;
        m_state = State::Sb;
        return;
    default: {
        TelnetEvent event;
        event.kind = TelnetEvent::Kind::Command;
        event.verb = byte;
        output.events.append(event);
    }
    }
}

void TelnetDecoder::subnegotiationByte(quint8 byte, Output &output)
{
    const quint8 option = m_pendingSize > 0 ? m_pending[0] : 0;
    if (m_state == State::Sb && byte == Telnet::Iac) {
        m_state = State::SbIac;
        return;
    }
    if (m_state == State::SbIac && byte == Telnet::Se) {
        m_state = State::Data;
        endSubnegotiation(output);
        return;
    }
    if (m_state == State::SbIac && byte != Telnet::Iac) {
        if (!m_overflowed)
            output.events.append(skipped(TelnetEvent::Skip::Unterminated, option));
        m_pendingSize = 0;
        command(byte, output);
        return;
    }
    m_state = State::Sb;
    if (m_pendingSize < maxSubnegotiation) {
        m_pending[size_t(m_pendingSize++)] = byte;
    } else if (!m_overflowed) {
        m_overflowed = true;
        output.events.append(skipped(TelnetEvent::Skip::TooLong, option));
    }
}

void TelnetDecoder::endSubnegotiation(Output &output)
{
    const int size = m_pendingSize;
    m_pendingSize = 0;
    if (m_overflowed)
        return; // said when it overflowed
    if (size == 0)
        output.events.append(skipped(TelnetEvent::Skip::UnknownCommand, 0));
    else if (m_pending[0] != Telnet::OptionComPort)
        output.events.append(skipped(TelnetEvent::Skip::OtherOption, m_pending[0]));
    else
        output.events.append(comPortEvent(m_sender, m_pending.data() + 1, size - 1));
}

TelnetNegotiation::TelnetNegotiation(QVector<quint8> wantedLocal, QVector<quint8> wantedRemote)
{
    m_local.wanted = std::move(wantedLocal);
    m_remote.wanted = std::move(wantedRemote);
}

TelnetNegotiation TelnetNegotiation::comPortClient()
{
    using namespace Telnet;
    return TelnetNegotiation({ OptionBinary, OptionSuppressGoAhead, OptionComPort },
                             { OptionBinary, OptionSuppressGoAhead });
}

TelnetNegotiation TelnetNegotiation::comPortServer()
{
    using namespace Telnet;
    return TelnetNegotiation({ OptionBinary, OptionSuppressGoAhead },
                             { OptionBinary, OptionSuppressGoAhead, OptionComPort });
}

QByteArray TelnetNegotiation::start()
{
    QVector<quint8> options = m_local.wanted;
    for (const quint8 option : qAsConst(m_remote.wanted)) {
        if (!options.contains(option))
            options.append(option);
    }
    QByteArray requests;
    for (const quint8 option : qAsConst(options)) {
        Q &local = m_local.state[option];
        if (m_local.wanted.contains(option) && local == Q::No) {
            local = Q::WantYes;
            requests += telnetNegotiation(Telnet::Will, option);
        }
        Q &remote = m_remote.state[option];
        if (m_remote.wanted.contains(option) && remote == Q::No) {
            remote = Q::WantYes;
            requests += telnetNegotiation(Telnet::Do, option);
        }
    }
    return requests;
}

QByteArray TelnetNegotiation::answer(quint8 verb, quint8 option)
{
    switch (verb) {
    case Telnet::Will:
    case Telnet::Wont:
        return step(m_remote, verb == Telnet::Will, option, Telnet::Do, Telnet::Dont);
    case Telnet::Do:
    case Telnet::Dont:
        return step(m_local, verb == Telnet::Do, option, Telnet::Will, Telnet::Wont);
    default:
        return {};
    }
}

QByteArray TelnetNegotiation::step(Side &side, bool offered, quint8 option, quint8 agree,
                                   quint8 refuse)
{
    Q &q = side.state[option];
    if (offered) {
        if (q == Q::No && side.wanted.contains(option)) {
            q = Q::Yes;
            return telnetNegotiation(agree, option);
        }
        if (q == Q::No) {
            q = Q::Refused;
            return telnetNegotiation(refuse, option);
        }
        if (q == Q::WantYes)
            q = Q::Yes; // the answer to our request
        else if (q == Q::WantNo)
            q = Q::No;
        return {};
    }
    if (q == Q::Yes) {
        q = Q::No; // withdrawn: a change is always acknowledged
        return telnetNegotiation(refuse, option);
    }
    if (q == Q::WantYes || q == Q::WantNo)
        q = Q::No; // refused, or the answer to our withdrawal
    return {};
}

bool TelnetNegotiation::localEnabled(quint8 option) const
{
    return m_local.state[option] == Q::Yes;
}

bool TelnetNegotiation::remoteEnabled(quint8 option) const
{
    return m_remote.state[option] == Q::Yes;
}

QByteArray telnetData(const QByteArray &bytes)
{
    const int iacs = int(std::count(bytes.cbegin(), bytes.cend(), char(Telnet::Iac)));
    if (iacs == 0)
        return bytes;
    QByteArray wire;
    wire.reserve(bytes.size() + iacs);
    for (const char c : bytes) {
        wire.append(c);
        if (quint8(c) == Telnet::Iac)
            wire.append(c);
    }
    return wire;
}

QByteArray telnetNegotiation(quint8 verb, quint8 option)
{
    const char bytes[] = { char(Telnet::Iac), char(verb), char(option) };
    return QByteArray(bytes, 3);
}

QByteArray comPortSubnegotiation(quint8 code, const QByteArray &value)
{
    QByteArray wire;
    wire.reserve(6 + 2 * value.size());
    wire.append(char(Telnet::Iac)).append(char(Telnet::Sb)).append(char(Telnet::OptionComPort));
    wire.append(telnetData(oneByte(code)));
    wire.append(telnetData(value));
    wire.append(char(Telnet::Iac)).append(char(Telnet::Se));
    return wire;
}

QByteArray comPortSetBaudRate(quint32 baud)
{
    uchar value[4];
    qToBigEndian(baud, value);
    return comPortSubnegotiation(quint8(ComPortCommand::SetBaudRate),
                                 QByteArray(reinterpret_cast<const char *>(value), 4));
}

QByteArray comPortSetDataSize(quint8 bits)
{
    return comPortSubnegotiation(quint8(ComPortCommand::SetDataSize), oneByte(bits));
}

QByteArray comPortSetParity(ComPortParity parity)
{
    return comPortSubnegotiation(quint8(ComPortCommand::SetParity), oneByte(quint8(parity)));
}

QByteArray comPortSetStopSize(ComPortStopSize stopSize)
{
    return comPortSubnegotiation(quint8(ComPortCommand::SetStopSize), oneByte(quint8(stopSize)));
}

QByteArray comPortSetControl(ComPortControl control)
{
    return comPortSubnegotiation(quint8(ComPortCommand::SetControl), oneByte(quint8(control)));
}

QByteArray comPortSetLineStateMask(quint8 mask)
{
    return comPortSubnegotiation(quint8(ComPortCommand::SetLineStateMask), oneByte(mask));
}

QByteArray comPortSetModemStateMask(quint8 mask)
{
    return comPortSubnegotiation(quint8(ComPortCommand::SetModemStateMask), oneByte(mask));
}

QByteArray comPortPurgeData(ComPortPurge purge)
{
    return comPortSubnegotiation(quint8(ComPortCommand::PurgeData), oneByte(quint8(purge)));
}

QByteArray comPortSuspendFlow(bool suspend)
{
    const auto command
        = suspend ? ComPortCommand::FlowControlSuspend : ComPortCommand::FlowControlResume;
    return comPortSubnegotiation(quint8(command), QByteArray());
}

quint8 comPortDataSize(QSerialPort::DataBits bits)
{
    switch (bits) {
    case QSerialPort::Data5:
        return 5;
    case QSerialPort::Data6:
        return 6;
    case QSerialPort::Data7:
        return 7;
    case QSerialPort::Data8:
        return 8;
    default:
        return comPortQuery; // nothing to set: ask what is in force
    }
}

std::optional<QSerialPort::DataBits> dataBitsFromComPort(quint32 value)
{
    switch (value) {
    case 5:
        return QSerialPort::Data5;
    case 6:
        return QSerialPort::Data6;
    case 7:
        return QSerialPort::Data7;
    case 8:
        return QSerialPort::Data8;
    default:
        return std::nullopt;
    }
}

ComPortParity comPortParity(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::NoParity:
        return ComPortParity::None;
    case QSerialPort::OddParity:
        return ComPortParity::Odd;
    case QSerialPort::EvenParity:
        return ComPortParity::Even;
    case QSerialPort::MarkParity:
        return ComPortParity::Mark;
    case QSerialPort::SpaceParity:
        return ComPortParity::Space;
    default:
        return ComPortParity::Query;
    }
}

std::optional<QSerialPort::Parity> parityFromComPort(quint32 value)
{
    if (value > 0xff)
        return std::nullopt;
    switch (ComPortParity(value)) {
    case ComPortParity::None:
        return QSerialPort::NoParity;
    case ComPortParity::Odd:
        return QSerialPort::OddParity;
    case ComPortParity::Even:
        return QSerialPort::EvenParity;
    case ComPortParity::Mark:
        return QSerialPort::MarkParity;
    case ComPortParity::Space:
        return QSerialPort::SpaceParity;
    default:
        return std::nullopt;
    }
}

ComPortStopSize comPortStopSize(QSerialPort::StopBits stopBits)
{
    switch (stopBits) {
    case QSerialPort::OneStop:
        return ComPortStopSize::One;
    case QSerialPort::TwoStop:
        return ComPortStopSize::Two;
    case QSerialPort::OneAndHalfStop:
        return ComPortStopSize::OneAndHalf;
    default:
        return ComPortStopSize::Query;
    }
}

std::optional<QSerialPort::StopBits> stopBitsFromComPort(quint32 value)
{
    if (value > 0xff)
        return std::nullopt;
    switch (ComPortStopSize(value)) {
    case ComPortStopSize::One:
        return QSerialPort::OneStop;
    case ComPortStopSize::Two:
        return QSerialPort::TwoStop;
    case ComPortStopSize::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    default:
        return std::nullopt;
    }
}

ComPortControl comPortFlow(QSerialPort::FlowControl flow)
{
    switch (flow) {
    case QSerialPort::NoFlowControl:
        return ComPortControl::NoFlow;
    case QSerialPort::SoftwareControl:
        return ComPortControl::XonXoff;
    case QSerialPort::HardwareControl:
        return ComPortControl::Hardware;
    default:
        return ComPortControl::QueryFlow;
    }
}

std::optional<QSerialPort::FlowControl> flowControlFromComPort(quint32 value)
{
    if (value > 0xff)
        return std::nullopt;
    switch (ComPortControl(value)) {
    case ComPortControl::NoFlow:
        return QSerialPort::NoFlowControl;
    case ComPortControl::XonXoff:
        return QSerialPort::SoftwareControl;
    case ComPortControl::Hardware:
        return QSerialPort::HardwareControl;
    default:
        return std::nullopt;
    }
}

QSerialPort::PinoutSignals pinoutFromModemState(quint8 state)
{
    QSerialPort::PinoutSignals lines = QSerialPort::NoSignal;
    if (state & ModemState::Cts)
        lines |= QSerialPort::ClearToSendSignal;
    if (state & ModemState::Dsr)
        lines |= QSerialPort::DataSetReadySignal;
    if (state & ModemState::Dcd)
        lines |= QSerialPort::DataCarrierDetectSignal;
    if (state & ModemState::Ri)
        lines |= QSerialPort::RingIndicatorSignal;
    return lines;
}
