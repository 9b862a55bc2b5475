#pragma once

#include "channel.h"

#include <QAbstractSocket>
#include <QCoreApplication>
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
    // The shared address and port fields, read at each connect.
    struct Target {
        QLineEdit *address;
        QLineEdit *port;
    };

    NetworkChannel(int number, const QWidget *form, const Context &context, const Target &target,
                   const QColor &inputColour, const QColor &outputColour);

    int number() const { return m_number; }
    QTcpSocket *socket() const { return m_socket; }
    QPushButton *connectButton() const { return m_connectButton; }

    void connectLink(bool connect);
    void reportError(QAbstractSocket::SocketError error);
    void read();

protected:
    bool linkOpen() const override;
    void refuseSend() override;
    void refusePeriodicSend() override;
    bool sendsEmptyCommand() const override { return false; }
    bool writeToLink(const QByteArray &bytes, QString *problem) override;
    QIODevice *linkDevice() const override;
    QString otherEnd() const override { return tr("the peer"); }
    void closeLinkAtExit() override;
    void modeChanged() override;

private:
    void connectToPeer();
    // Connects to the host and port of the last connect the user asked for.
    void startConnect();
    void retryLater(const QString &reason);
    void disconnectFromPeer();
    bool connecting() const;
    void onConnected();
    // A connect that ended without a link: one box, unless the user abandoned it.
    void failConnect(const QString &text);
    void showPeer(const QString &peer);
    // The link has ended without the user asking (the peer closed, a socket error).
    void endLink();

    int m_number;
    Target m_target;
    QPushButton *m_connectButton;
    QTcpSocket *m_socket;
    // Runs while a connect waits for its answer; named "networkNConnectTimer" so that a test can
    // shorten the wait.
    QTimer *m_connectTimer;
    QString m_peer; // host:port of the link being made or held
    QString m_host;
    quint16 m_port = 0;
    // While reconnection is on and the link is down: the next attempt's timer and delay.
    static constexpr int firstRetryDelayMs = 1000;
    static constexpr int maxRetryDelayMs = 30000;
    QTimer *m_retryTimer;
    bool m_retrying = false;
    int m_retryDelayMs = firstRetryDelayMs;
};
