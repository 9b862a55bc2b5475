#pragma once

#include "telnetcodec.h"

#include <QByteArray>
#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QVector>

// A small RFC 2217 server on 127.0.0.1, in the test's own thread, for what ser2net cannot be
// made to do: refuse a setting and answer another value, stay silent to a command or answer it,
// send modem-state and line-state notifications when the test says. It records all that its
// client sent. One client at a time; a second one is closed at once.
class ComPortServer {
public:
    ComPortServer();
    ~ComPortServer();
    ComPortServer(const ComPortServer &) = delete;
    ComPortServer &operator=(const ComPortServer &) = delete;

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }

    // A command asking for `asked` is answered with `answered`, which is then in force (a baud
    // the port cannot do, answered with the one it keeps).
    void answerWith(ComPortCommand command, quint32 asked, quint32 answered);
    // A command of this kind gets no answer at all (ser2net's SET-CONTROL on a pty).
    void setSilent(ComPortCommand command, bool silent = true);
    // What arrives as data goes back to the client.
    void setEcho(bool echo) { m_echo = echo; }

    bool hasClient() const { return !m_client.isNull(); }
    // To the client now: NOTIFY-MODEMSTATE, NOTIFY-LINESTATE, data (0xFF doubled), or bytes
    // exactly as given (a hostile stream).
    void notifyModemState(quint8 state);
    void notifyLineState(quint8 state);
    void sendData(const QByteArray &bytes);
    void sendRaw(const QByteArray &bytes);
    // The client's connection ends, as when the server goes away.
    void dropClient();

    // Every COM-PORT-OPTION command the clients sent, in order (Skipped ones too).
    const QVector<TelnetEvent> &commands() const { return m_commands; }
    // Every negotiation the clients sent, in order.
    const QVector<TelnetEvent> &negotiations() const { return m_negotiations; }
    // The data the clients sent, undoubled.
    const QByteArray &data() const { return m_data; }
    // The value in force for a setting (SET-CONTROL: the flow control's value).
    quint32 value(ComPortCommand command) const { return m_values.value(quint8(command)); }
    bool dtr() const { return m_dtr; }
    bool rts() const { return m_rts; }
    bool breakOn() const { return m_break; }
    // The client's side of the negotiation as this server saw it.
    bool clientWill(quint8 option) const { return m_negotiation.remoteEnabled(option); }

private:
    void accept();
    void read();
    void take(const TelnetEvent &event);
    // The answer's value, or nothing when the command gets none.
    std::optional<quint32> settle(ComPortCommand command, quint32 asked);
    std::optional<quint32> control(quint32 asked);

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    TelnetDecoder m_decoder { ComPortSender::Client };
    TelnetNegotiation m_negotiation = TelnetNegotiation::comPortServer();
    QHash<quint8, QHash<quint32, quint32>> m_changes;
    QVector<quint8> m_silent;
    bool m_echo = false;
    QVector<TelnetEvent> m_commands;
    QVector<TelnetEvent> m_negotiations;
    QByteArray m_data;
    QHash<quint8, quint32> m_values;
    bool m_dtr = false;
    bool m_rts = false;
    bool m_break = false;
};
