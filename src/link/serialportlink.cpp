#include "serialportlink.h"

#include <QCoreApplication>

namespace {
QString windowText(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}
} // namespace

SerialPortLink::SerialPortLink(QObject *parent)
    : SerialLine(parent)
    , m_port(new QSerialPort(this))
{
    m_port->setObjectName(QStringLiteral("serialPort"));
    connect(m_port, &QSerialPort::readyRead, this, &Link::readyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialPortLink::reportError);
}

SerialPortLink::~SerialPortLink()
{
    // Whoever listens may be gone by now: the port closes without a word.
    m_port->blockSignals(true);
}

void SerialPortLink::open()
{
    const SerialSettings &s = m_settings;
    m_port->setPortName(s.portName);
    // The system's reason alone does not say which port it is about.
    auto reason = [this, &s] {
        return QStringLiteral("%1: %2").arg(s.portName.isEmpty() ? windowText("no port selected")
                                                                 : s.portName,
                                            m_port->errorString());
    };
    if (!m_port->open(QIODevice::ReadWrite)) {
        m_failureStatus = windowText("Open serial error");
        emit failed(reason());
        return;
    }
    if (!(m_port->setBaudRate(s.baudRate, QSerialPort::AllDirections)
          && m_port->setDataBits(s.dataBits) && m_port->setParity(s.parity)
          && m_port->setStopBits(s.stopBits) && m_port->setFlowControl(s.flowControl))) {
        m_failureStatus = windowText("Configure error");
        const QString why = reason();
        m_port->close();
        emit failed(why);
        return;
    }
    // Room for a fast device's bytes while the window is busy for a moment; the pty or UART
    // driver holds only a few kilobytes.
    m_port->setReadBufferSize(1024 * 1024);
    emit opened();
}

bool SerialPortLink::write(const QByteArray &bytes, QString *problem)
{
    if (m_port->write(bytes) >= 0)
        return true;
    *problem = m_port->errorString();
    return false;
}

bool SerialPortLink::setControlLine(ControlLine line, bool on, QString *why)
{
    const bool dtr = line == ControlLine::Dtr;
    if (dtr ? m_port->setDataTerminalReady(on) : m_port->setRequestToSend(on))
        return true;
    *why = windowText(dtr ? "could not set DTR: %1" : "could not set RTS: %1")
               .arg(m_port->errorString());
    return false;
}

bool SerialPortLink::lines(QSerialPort::PinoutSignals *lines, QString *why) const
{
    m_port->clearError();
    const QSerialPort::PinoutSignals now = m_port->pinoutSignals();
    // A pty, and some adapters, have no modem lines: the system refuses to tell them.
    if (m_port->error() != QSerialPort::NoError) {
        *why = windowText("%1 has no modem lines to read (%2)")
                   .arg(m_settings.portName, m_port->errorString());
        m_port->clearError();
        return false;
    }
    *lines = now;
    return true;
}

bool SerialPortLink::setBreak(bool on, QString *why)
{
    if (m_port->setBreakEnabled(on))
        return true;
    *why = windowText("could not send a break: %1").arg(m_port->errorString());
    return false;
}

void SerialPortLink::reportError(QSerialPort::SerialPortError error)
{
    // A device that goes away (a USB adapter pulled, a pty whose other end closed) is reported
    // as a ResourceError by some drivers and as an endless run of ReadErrors by others. The
    // error code tells the loss; what the system says beside it is often an error left over
    // from an earlier call ("Resource temporarily unavailable" for a vanished pty).
    if (m_port->isOpen()
        && (error == QSerialPort::ResourceError || error == QSerialPort::ReadError))
        emit lost(windowText("the device on %1 was disconnected or stopped responding")
                      .arg(m_settings.portName));
}
