#pragma once

#include <QSerialPort>
#include <QString>

// The serial parameters as read from the combo boxes at each open: numbers for the port,
// texts for the status line.
struct SerialSettings {
    QString portName;
    qint32 baudRate = 0;
    QString baudRateText;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QString dataBitsText;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QString parityText;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QString stopBitsText;
    QSerialPort::FlowControl flowControl = QSerialPort::NoFlowControl;
    QString flowControlText;
    bool localEcho = false;
};

// The baud rates every serial line is offered, in the order the settings' index counts them.
inline constexpr qint32 standardBaudRates[] = { 9600, 19200, 38400, 57600, 115200 };

// The line a serial channel opens unless told otherwise: 8 data bits, no parity, one stop bit,
// no flow control, described as the window describes them.
inline SerialSettings plainLine(const QString &portName, qint32 baudRate)
{
    SerialSettings s;
    s.portName = portName;
    s.baudRate = baudRate;
    s.baudRateText = QString::number(baudRate);
    s.dataBitsText = QStringLiteral("8");
    s.parityText = QStringLiteral("None");
    s.stopBitsText = QStringLiteral("1");
    s.flowControlText = QStringLiteral("None");
    return s;
}
