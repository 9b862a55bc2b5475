#include "comportserver.h"

#include <QHostAddress>
#include <QtEndian>

ComPortServer::ComPortServer()
{
    // As a freshly opened port: 9600 8N1, no flow control.
    m_values.insert(quint8(ComPortCommand::SetBaudRate), 9600);
    m_values.insert(quint8(ComPortCommand::SetDataSize), 8);
    m_values.insert(quint8(ComPortCommand::SetParity), quint8(ComPortParity::None));
    m_values.insert(quint8(ComPortCommand::SetStopSize), quint8(ComPortStopSize::One));
    m_values.insert(quint8(ComPortCommand::SetControl), quint8(ComPortControl::NoFlow));
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { accept(); });
    m_server.listen(QHostAddress::LocalHost);
}

ComPortServer::~ComPortServer()
{
    if (m_client)
        m_client->abort();
}

void ComPortServer::answerWith(ComPortCommand command, quint32 asked, quint32 answered)
{
    m_changes[quint8(command)].insert(asked, answered);
}

void ComPortServer::setSilent(ComPortCommand command, bool silent)
{
    m_silent.removeAll(quint8(command));
    if (silent)
        m_silent.append(quint8(command));
}

void ComPortServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_client) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_client = socket;
        m_decoder = TelnetDecoder(ComPortSender::Client);
        m_negotiation = TelnetNegotiation::comPortServer();
        QObject::connect(socket, &QTcpSocket::readyRead, &m_server, [this] { read(); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->write(m_negotiation.start());
    }
}

void ComPortServer::read()
{
    if (!m_client)
        return;
    const TelnetDecoder::Output output = m_decoder.feed(m_client->readAll());
    m_data += output.data;
    if (m_echo)
        sendData(output.data);
    for (const TelnetEvent &event : output.events)
        take(event);
}

void ComPortServer::take(const TelnetEvent &event)
{
    if (event.kind == TelnetEvent::Kind::Negotiation) {
        m_negotiations.append(event);
        sendRaw(m_negotiation.answer(event.verb, event.option));
        return;
    }
    if (event.kind != TelnetEvent::Kind::ComPort && event.kind != TelnetEvent::Kind::Skipped)
        return;
    m_commands.append(event);
    if (event.kind != TelnetEvent::Kind::ComPort || m_silent.contains(quint8(event.command)))
        return;
    const std::optional<quint32> answer = settle(event.command, event.value);
    if (!answer)
        return;
    const quint8 code = quint8(event.command) + comPortServerOffset;
    if (event.command == ComPortCommand::SetBaudRate) {
        uchar value[4];
        qToBigEndian(*answer, value);
        sendRaw(comPortSubnegotiation(code, QByteArray(reinterpret_cast<const char *>(value), 4)));
    } else if (event.command == ComPortCommand::Signature) {
        sendRaw(comPortSubnegotiation(code, QByteArrayLiteral("ComPortServer")));
    } else {
        sendRaw(comPortSubnegotiation(code, QByteArray(1, char(*answer))));
    }
}

std::optional<quint32> ComPortServer::settle(ComPortCommand command, quint32 asked)
{
    switch (command) {
    case ComPortCommand::SetBaudRate:
    case ComPortCommand::SetDataSize:
    case ComPortCommand::SetParity:
    case ComPortCommand::SetStopSize: {
        const quint8 key = quint8(command);
        if (asked != 0) // 0 asks what is in force
            m_values.insert(key, m_changes.value(key).value(asked, asked));
        return m_values.value(key);
    }
    case ComPortCommand::SetControl:
        return control(asked);
    case ComPortCommand::SetLineStateMask:
    case ComPortCommand::SetModemStateMask:
    case ComPortCommand::PurgeData:
        m_values.insert(quint8(command), asked);
        return asked;
    case ComPortCommand::Signature:
        return 0;
    default:
        return std::nullopt; // notifications and flow control suspend/resume get no answer
    }
}

// SET-CONTROL's values come in groups of a question and its settings; the answer is the
// setting in force.
std::optional<quint32> ComPortServer::control(quint32 asked)
{
    const auto key = quint8(ComPortCommand::SetControl);
    const auto value = ComPortControl(m_changes.value(key).value(asked, asked));
    using C = ComPortControl;
    switch (value) {
    case C::NoFlow:
    case C::XonXoff:
    case C::Hardware:
        m_values.insert(key, quint32(value));
        [[fallthrough]];
    case C::QueryFlow:
        return m_values.value(key);
    case C::BreakOn:
    case C::BreakOff:
        m_break = value == C::BreakOn;
        [[fallthrough]];
    case C::QueryBreak:
        return quint32(m_break ? C::BreakOn : C::BreakOff);
    case C::DtrOn:
    case C::DtrOff:
        m_dtr = value == C::DtrOn;
        [[fallthrough]];
    case C::QueryDtr:
        return quint32(m_dtr ? C::DtrOn : C::DtrOff);
    case C::RtsOn:
    case C::RtsOff:
        m_rts = value == C::RtsOn;
        [[fallthrough]];
    case C::QueryRts:
        return quint32(m_rts ? C::RtsOn : C::RtsOff);
    case C::QueryInboundFlow:
    case C::InboundNoFlow:
    case C::InboundXonXoff:
    case C::InboundHardware:
        return quint32(C::InboundNoFlow);
    }
    return std::nullopt; // a value the option does not have: no answer, as ser2net
}

void ComPortServer::notifyModemState(quint8 state)
{
    sendRaw(comPortSubnegotiation(quint8(ComPortCommand::NotifyModemState) + comPortServerOffset,
                                  QByteArray(1, char(state))));
}

void ComPortServer::notifyLineState(quint8 state)
{
    sendRaw(comPortSubnegotiation(quint8(ComPortCommand::NotifyLineState) + comPortServerOffset,
                                  QByteArray(1, char(state))));
}

void ComPortServer::sendData(const QByteArray &bytes)
{
    sendRaw(telnetData(bytes));
}

void ComPortServer::sendRaw(const QByteArray &bytes)
{
    if (m_client && !bytes.isEmpty())
        m_client->write(bytes);
}

void ComPortServer::dropClient()
{
    if (m_client)
        m_client->disconnectFromHost();
}
