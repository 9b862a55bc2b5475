#pragma once

#include "serialline.h"

#include <QSerialPort>

// A serial port of this computer ("serialPort"), through Qt's serial port module.
class SerialPortLink : public SerialLine {
    Q_OBJECT

public:
    explicit SerialPortLink(QObject *parent = nullptr);
    ~SerialPortLink() override;

    QSerialPort *port() const { return m_port; }

    void setSettings(const SerialSettings &settings) override { m_settings = settings; }
    void open() override;
    bool isOpen() const override { return m_port->isOpen(); }
    void close() override { m_port->close(); }
    void settle() override { settleDevice(m_port, m_port->handle()); }
    QByteArray read() override { return m_port->readAll(); }
    bool write(const QByteArray &bytes, QString *problem) override;
    qint64 bytesToWrite() const override { return m_port->bytesToWrite(); }
    bool setControlLine(ControlLine line, bool on, QString *why) override;
    void clearInput() override { m_port->clear(QSerialPort::Input); }
    QString failureStatus() const override { return m_failureStatus; }
    bool lines(QSerialPort::PinoutSignals *lines, QString *why) const override;
    bool setBreak(bool on, QString *why) override;

private:
    void reportError(QSerialPort::SerialPortError error);

    QSerialPort *m_port;
    SerialSettings m_settings;
    QString m_failureStatus;
};
