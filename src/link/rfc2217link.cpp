#include "rfc2217link.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTimer>

namespace {
QString windowText(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QString settingName(ComPortCommand command)
{
    switch (command) {
    case ComPortCommand::SetBaudRate:
        return windowText("baud rate");
    case ComPortCommand::SetDataSize:
        return windowText("data bits");
    case ComPortCommand::SetParity:
        return windowText("parity");
    case ComPortCommand::SetStopSize:
        return windowText("stop bits");
    default:
        return windowText("flow control");
    }
}

QString settingValue(ComPortCommand command, quint32 value)
{
    switch (command) {
    case ComPortCommand::SetParity: {
        static const char *const names[] = { "?", "None", "Odd", "Even", "Mark", "Space" };
        return value < std::size(names) ? QLatin1String(names[value]) : QString::number(value);
    }
    case ComPortCommand::SetStopSize: {
        static const char *const names[] = { "?", "1", "2", "1.5" };
        return value < std::size(names) ? QLatin1String(names[value]) : QString::number(value);
    }
    case ComPortCommand::SetControl: {
        static const char *const names[] = { "?", "None", "XON/XOFF", "RTS/CTS" };
        return value < std::size(names) ? QLatin1String(names[value]) : QString::number(value);
    }
    default:
        return QString::number(value);
    }
}

QString lineErrors(quint8 state)
{
    QStringList errors;
    if (state & LineState::FramingError)
        errors << windowText("framing error");
    if (state & LineState::ParityError)
        errors << windowText("parity error");
    if (state & LineState::Overrun)
        errors << windowText("overrun");
    if (state & LineState::BreakDetected)
        errors << windowText("break detected");
    return errors.join(QStringLiteral(", "));
}

const char *const refused = QT_TRANSLATE_NOOP(
    "MainWindow",
    "The connection was refused by the port server. Make sure it is running and that the host "
    "name and port are correct.");
} // namespace

Rfc2217Link::Rfc2217Link(QObject *parent)
    : SerialLine(parent)
    , m_socket(new QTcpSocket(this))
    , m_patience(new QTimer(this))
{
    m_socket->setObjectName(QStringLiteral("remoteSerialSocket"));
    m_patience->setSingleShot(true);
    m_patience->setTimerType(Qt::PreciseTimer);
    connect(m_patience, &QTimer::timeout, this, [this] {
        if (m_state == State::AwaitingAnswers) {
            finishOpen();
        } else if (m_state == State::Connecting) {
            m_closing = true;
            m_socket->abort();
            m_closing = false;
            fail(windowText("no answer within %1 seconds").arg(connectPatienceMs / 1000));
        }
    });
    connect(m_socket, &QTcpSocket::connected, this, &Rfc2217Link::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &Rfc2217Link::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &Rfc2217Link::reportError);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_closing)
            return;
        if (m_state == State::Open) {
            m_state = State::Closed;
            emit lost(windowText("the port server %1 closed the connection").arg(name()));
        } else if (m_state != State::Closed) {
            fail(windowText("the port server closed the connection while it was opened"));
        }
    });
}

Rfc2217Link::~Rfc2217Link()
{
    m_socket->blockSignals(true);
}

void Rfc2217Link::setPeer(Protocol protocol, const QString &host, quint16 port)
{
    m_protocol = protocol;
    m_host = host;
    m_port = port;
}

QString Rfc2217Link::name() const
{
    return m_settings.portName;
}

void Rfc2217Link::open()
{
    m_closing = true;
    m_socket->abort();
    m_closing = false;
    m_decoder = TelnetDecoder();
    m_negotiation = TelnetNegotiation::comPortClient();
    m_asked.clear();
    m_refusals.clear();
    m_input.clear();
    m_modemKnown = false;
    m_modemState = 0;
    m_state = State::Connecting;
    m_patience->start(connectPatienceMs);
    m_socket->connectToHost(m_host, m_port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

void Rfc2217Link::onConnected()
{
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A flood from the device is read in large pieces; the channel cuts it into blocks.
    m_socket->setReadBufferSize(0);
    if (m_protocol == Protocol::Raw) {
        finishOpen();
        return;
    }
    const SerialSettings &s = m_settings;
    QByteArray out = m_negotiation.start();
    m_asked = {
        { ComPortCommand::SetBaudRate, quint32(s.baudRate) },
        { ComPortCommand::SetDataSize, comPortDataSize(s.dataBits) },
        { ComPortCommand::SetParity, quint32(comPortParity(s.parity)) },
        { ComPortCommand::SetStopSize, quint32(comPortStopSize(s.stopBits)) },
        { ComPortCommand::SetControl, quint32(comPortFlow(s.flowControl)) },
    };
    out += comPortSetBaudRate(quint32(s.baudRate));
    out += comPortSetDataSize(comPortDataSize(s.dataBits));
    out += comPortSetParity(comPortParity(s.parity));
    out += comPortSetStopSize(comPortStopSize(s.stopBits));
    out += comPortSetControl(comPortFlow(s.flowControl));
    out += comPortSetModemStateMask(0xFF);
    out += comPortSetLineStateMask(LineState::Errors);
    m_state = State::AwaitingAnswers;
    m_patience->start(answerPatienceMs);
    sendRaw(out);
    // Answers that came with the connection are taken in now.
    if (m_socket->bytesAvailable() > 0)
        onReadyRead();
}

void Rfc2217Link::finishOpen()
{
    m_patience->stop();
    m_state = State::Open;
    for (const QString &refusal : qAsConst(m_refusals))
        emit noted(refusal);
    m_refusals.clear();
    emit opened();
    if (m_state == State::Open && !m_input.isEmpty())
        emit readyRead();
}

void Rfc2217Link::onReadyRead()
{
    if (m_state == State::Connecting || m_state == State::Closed)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    if (m_protocol == Protocol::Raw) {
        m_input += bytes;
    } else {
        TelnetDecoder::Output output;
        m_decoder.feed(bytes.constData(), bytes.size(), output);
        m_input += output.data;
        for (const TelnetEvent &event : qAsConst(output.events))
            take(event);
    }
    if (m_state == State::Open && !m_input.isEmpty())
        emit readyRead();
}

void Rfc2217Link::take(const TelnetEvent &event)
{
    if (event.kind == TelnetEvent::Kind::Negotiation) {
        sendRaw(m_negotiation.answer(event.verb, event.option));
        return;
    }
    if (event.kind != TelnetEvent::Kind::ComPort)
        return;
    switch (event.command) {
    case ComPortCommand::NotifyModemState:
        m_modemKnown = true;
        m_modemState = quint8(event.value);
        break;
    case ComPortCommand::NotifyLineState:
        if (event.value & LineState::Errors)
            emit noted(windowText("the port server %1 reports: %2")
                           .arg(name(), lineErrors(quint8(event.value))));
        break;
    case ComPortCommand::SetBaudRate:
    case ComPortCommand::SetDataSize:
    case ComPortCommand::SetParity:
    case ComPortCommand::SetStopSize:
    case ComPortCommand::SetControl:
        takeAnswer(event.command, event.value);
        break;
    default:
        break;
    }
}

void Rfc2217Link::takeAnswer(ComPortCommand command, quint32 value)
{
    for (int i = 0; i < m_asked.size(); ++i) {
        const Asked asked = m_asked.at(i);
        // SET-CONTROL answers the flow control only with a flow control's value; DTR, RTS and
        // BREAK answers are not what the open waits for.
        if (asked.command != command
            || (command == ComPortCommand::SetControl && (value < 1 || value > 3)))
            continue;
        m_asked.remove(i);
        // 0 is no value at all: the server tells nothing by it.
        if (value != 0 && value != asked.value) {
            const QString text
                = windowText("the port server %1 set %2 to %3 instead of %4")
                      .arg(name(), settingName(command), settingValue(command, value),
                           settingValue(command, asked.value));
            if (m_state == State::AwaitingAnswers)
                m_refusals << text;
            else
                emit noted(text);
        }
        break;
    }
    if (m_state == State::AwaitingAnswers && m_asked.isEmpty())
        finishOpen();
}

void Rfc2217Link::close()
{
    m_patience->stop();
    const bool wasOpen = m_state == State::Open;
    m_state = State::Closed;
    m_closing = true;
    if (wasOpen && m_protocol == Protocol::Rfc2217) {
        // What the device sent that has not reached this side will not be read now; what was
        // sent to the device is left to go out.
        sendRaw(comPortPurgeData(ComPortPurge::Receive));
        m_socket->flush();
    }
    wasOpen ? m_socket->disconnectFromHost() : m_socket->abort();
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    m_closing = false;
    m_input.clear();
}

void Rfc2217Link::settle()
{
    if (!isOpen())
        return;
    m_socket->flush();
    settleDevice(m_socket, m_socket->socketDescriptor());
}

QByteArray Rfc2217Link::read()
{
    return std::exchange(m_input, {});
}

bool Rfc2217Link::write(const QByteArray &bytes, QString *problem)
{
    if (m_state != State::Open) {
        *problem = windowText("the port server %1 is not connected").arg(name());
        return false;
    }
    if (m_socket->write(m_protocol == Protocol::Raw ? bytes : telnetData(bytes)) < 0) {
        *problem = m_socket->errorString();
        return false;
    }
    m_socket->flush();
    return true;
}

qint64 Rfc2217Link::bytesToWrite() const
{
    return m_socket->bytesToWrite();
}

void Rfc2217Link::sendRaw(const QByteArray &bytes)
{
    if (!bytes.isEmpty() && m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->write(bytes);
        m_socket->flush();
    }
}

bool Rfc2217Link::controls(QString *why) const
{
    if (m_protocol == Protocol::Raw) {
        *why = windowText("%1 is a raw TCP port: it has no control lines").arg(name());
        return false;
    }
    if (m_state != State::Open) {
        *why = windowText("the port server %1 is not connected").arg(name());
        return false;
    }
    return true;
}

bool Rfc2217Link::setControlLine(ControlLine line, bool on, QString *why)
{
    if (!controls(why))
        return false;
    const bool dtr = line == ControlLine::Dtr;
    sendRaw(comPortSetControl(dtr ? (on ? ComPortControl::DtrOn : ComPortControl::DtrOff)
                                  : (on ? ComPortControl::RtsOn : ComPortControl::RtsOff)));
    return true;
}

bool Rfc2217Link::setBreak(bool on, QString *why)
{
    if (!controls(why))
        return false;
    sendRaw(comPortSetControl(on ? ComPortControl::BreakOn : ComPortControl::BreakOff));
    return true;
}

bool Rfc2217Link::lines(QSerialPort::PinoutSignals *lines, QString *why) const
{
    if (!controls(why))
        return false;
    if (!m_modemKnown) {
        *why = windowText("the port server %1 has not told its modem lines").arg(name());
        return false;
    }
    *lines = pinoutFromModemState(m_modemState);
    return true;
}

QString Rfc2217Link::failureStatus() const
{
    return windowText("Open serial error");
}

void Rfc2217Link::fail(const QString &reason)
{
    m_patience->stop();
    m_state = State::Closed;
    emit failed(QStringLiteral("%1: %2").arg(name(), reason));
}

void Rfc2217Link::reportError(QAbstractSocket::SocketError error)
{
    if (m_closing)
        return;
    if (m_state == State::Open) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            return; // disconnected() tells it
        m_state = State::Closed;
        emit lost(windowText("the port server %1: %2").arg(name(), m_socket->errorString()));
        return;
    }
    if (m_state == State::Closed)
        return;
    const QString text = error == QAbstractSocket::ConnectionRefusedError ? windowText(refused)
        : error == QAbstractSocket::HostNotFoundError
        ? windowText("the host %1 was not found").arg(m_host)
        : m_socket->errorString();
    m_closing = true;
    m_socket->abort();
    m_closing = false;
    fail(text);
}
