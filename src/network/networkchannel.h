#pragma once

#include "channel.h"

#include <QAbstractSocket>
#include <QString>

class QLineEdit;
class QPushButton;
class QTcpSocket;
class QTimer;

// How much one arrival reads at most, so that a flood becomes many small appends instead of a
// few huge ones that stall the window; every byte still arrives. Hex mode shows three characters
// per byte, so it reads less at a time to keep each append about as long as in ASCII.
constexpr qint64 asciiReadChunk = 64 * 1024;
constexpr qint64 hexReadChunk = 16 * 1024;

// The port typed into the port field: decimal digits, white space around them aside, naming a
// port from 1 to 65535; 0 for anything else, which names no port a channel can connect to.
quint16 networkPortFromText(const QString &text);

// One TCP client channel: its socket ("tcpSocketN") and its connection to the one address and
// port the three channels share. The three behave alike; the window's per-channel slots forward
// to their channel.
class NetworkChannel : public Channel {
public:
    // The shared address and port fields, read at each connect from the form, and the channel's
    // Connect button.
    struct LinkWidgets {
        QLineEdit *address;
        QLineEdit *port;
        QPushButton *connectButton;
    };

    NetworkChannel(int number, const Widgets &widgets, const LinkWidgets &link,
                   const Context &context);
    ~NetworkChannel() override;

    int number() const { return m_number; }
    QTcpSocket *socket() const { return m_socket; }
    QPushButton *connectButton() const { return m_link.connectButton; }
    const LinkWidgets &linkWidgets() const { return m_link; }
    // Why the last connect ended without a link; empty while none did.
    QString connectFailure() const { return m_connectFailure; }

    // Starts a connect to the peer; linkStateChanged() tells how it ends. Nobody is told of a
    // failure but whoever listens (with reconnection on, it is tried again).
    void connectTo(const QString &host, quint16 port);
    // Ends the link, an attempt, or the waiting for the next one.
    void disconnectFromPeer();

    // What the Connect button does: the address and port of the form, a failure told in a box.
    void connectLink(bool connect);
    void reportError(QAbstractSocket::SocketError error);
    void read();

protected:
    bool linkOpen() const override;
    QString notOpenReason() const override;
    void refuseSend() override;
    void refusePeriodicSend() override;
    bool sendsEmptyCommand() const override { return false; }
    bool writeToLink(const QByteArray &bytes, QString *problem) override;
    QIODevice *linkDevice() const override;
    QString otherEnd() const override { return windowText("the peer"); }
    void closeLinkAtExit() override;
    void modeChanged() override;
    void showLinkState(LinkState was) override;

private:
    // `user`: the user waits for the answer, and is told in a box when it fails.
    void beginConnect(const QString &host, quint16 port, bool user);
    // Connects to the host and port of the last connect asked for.
    void startConnect();
    void retryLater(const QString &reason);
    void onConnected();
    // A connect that ended without a link: one box when the user asked for it.
    void failConnect(const QString &text);
    void showPeer(const QString &peer);

    int m_number;
    LinkWidgets m_link;
    QTcpSocket *m_socket;
    // Runs while a connect waits for its answer; named "networkNConnectTimer" so that a test can
    // shorten the wait.
    QTimer *m_connectTimer;
    QString m_peer; // host:port of the link being made or held
    QString m_host;
    quint16 m_port = 0;
    // Whether the user waits for the answer of the connect under way (or code does).
    bool m_userConnects = false;
    QString m_connectFailure;
    // While reconnection is on and the link is lost: the next attempt's timer and delay.
    static constexpr int firstRetryDelayMs = 1000;
    static constexpr int maxRetryDelayMs = 30000;
    QTimer *m_retryTimer;
    int m_retryDelayMs = firstRetryDelayMs;
};
