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
