#pragma once

#include "serialline.h"
#include "telnetcodec.h"

#include <QAbstractSocket>
#include <QVector>

class QTcpSocket;
class QTimer;

// The serial port of a port server, over TCP ("remoteSerialSocket"). With RFC 2217 the line's
// settings, control lines and BREAK travel beside the data in Telnet commands, and the server
// tells its modem lines and line errors; a raw port (socket://) carries the bytes alone.
//
// The open does not wait on the server beyond a short time for the answers to the settings:
// servers leave some commands unanswered (ser2net answers no SET-CONTROL on a pty), and a
// setting answered with another value than asked is told by noted(), not refused.
class Rfc2217Link : public SerialLine {
    Q_OBJECT

public:
    enum class Protocol { Rfc2217, Raw };

    static constexpr int answerPatienceMs = 300;
    static constexpr int connectPatienceMs = 10000;

    explicit Rfc2217Link(QObject *parent = nullptr);
    ~Rfc2217Link() override;

    QTcpSocket *socket() const { return m_socket; }
    // Where and how the next open() connects.
    void setPeer(Protocol protocol, const QString &host, quint16 port);
    Protocol protocol() const { return m_protocol; }

    void setSettings(const SerialSettings &settings) override { m_settings = settings; }
    void open() override;
    bool isOpen() const override { return m_state == State::Open; }
    void close() override;
    void settle() override;
    QByteArray read() override;
    bool write(const QByteArray &bytes, QString *problem) override;
    qint64 bytesToWrite() const override;
    bool setControlLine(ControlLine line, bool on, QString *why) override;
    void clearInput() override { m_input.clear(); }
    QString failureStatus() const override;
    bool lines(QSerialPort::PinoutSignals *lines, QString *why) const override;
    bool setBreak(bool on, QString *why) override;

private:
    enum class State { Closed, Connecting, AwaitingAnswers, Open };
    struct Asked {
        ComPortCommand command;
        quint32 value;
    };

    void onConnected();
    void onReadyRead();
    void take(const TelnetEvent &event);
    void takeAnswer(ComPortCommand command, quint32 value);
    void finishOpen();
    void reportError(QAbstractSocket::SocketError error);
    void fail(const QString &reason);
    void sendRaw(const QByteArray &bytes);
    QString name() const;
    bool controls(QString *why) const;

    QTcpSocket *m_socket;
    QTimer *m_patience;
    Protocol m_protocol = Protocol::Rfc2217;
    QString m_host;
    quint16 m_port = 0;
    SerialSettings m_settings;
    State m_state = State::Closed;
    bool m_closing = false;
    TelnetDecoder m_decoder;
    TelnetNegotiation m_negotiation = TelnetNegotiation::comPortClient();
    QVector<Asked> m_asked;
    QStringList m_refusals;
    QByteArray m_input;
    QString m_failureStatus;
    bool m_modemKnown = false;
    quint8 m_modemState = 0;
};
