#pragma once

#include "channel.h"

#include <QAbstractSocket>
#include <QString>

class QTcpSocket;
class QTimer;
class TcpLink;

// How much one arrival reads at most, so that a flood becomes many small appends instead of a
// few huge ones that stall the window; every byte still arrives. Hex mode shows three characters
// per byte, so it reads less at a time to keep each append about as long as in ASCII.
constexpr qint64 asciiReadChunk = 64 * 1024;
constexpr qint64 hexReadChunk = 16 * 1024;

// One TCP client channel: its link ("tcpSocketN") to a host and port. The three network
// channels of a run are three of these.
class NetworkChannel : public Channel {
    Q_OBJECT

public:
    explicit NetworkChannel(int number, ChannelLog::Clock clock = {}, QObject *parent = nullptr);
    ~NetworkChannel() override;

    int networkNumber() const { return m_number; }
    QTcpSocket *socket() const;
    // host:port of the link being made or held.
    QString peer() const;
    // The wait before the next attempt while the link is lost.
    int retryDelayMs() const { return m_retryDelayMs; }

    // Starts a connect to the peer; linkStateChanged() tells how it ends (with reconnection on,
    // a failure is tried again).
    void connectTo(const QString &host, quint16 port);
    // Ends the link, an attempt, or the waiting for the next one.
    void disconnectFromPeer();
    void closeLink() override { disconnectFromPeer(); }

    QString notOpenReason() const override;
    bool sendsEmptyCommand() const override { return false; }

signals:
    // A failure a person should hear of: a connect that failed, a link that ended on an error.
    // lastFailure() says it.
    void errorOccurred(QAbstractSocket::SocketError error);

protected:
    Link *link() const override;
    QString otherEnd() const override { return windowText("the peer"); }
    void modeChanged() override;
    void closeLinkAtExit() override;

private:
    void startConnect();
    void read();
    void onConnected();
    void failConnect(const QString &text, QAbstractSocket::SocketError error);
    void onLost(const QString &text);
    // Nobody may be there to answer a box: the same peer is tried again, less and less often.
    void retryLater(const QString &reason);

    int m_number;
    TcpLink *m_link;
    // Runs while a connect waits for its answer; named "networkNConnectTimer" so that a test can
    // shorten the wait.
    QTimer *m_connectTimer;
    static constexpr int firstRetryDelayMs = 1000;
    static constexpr int maxRetryDelayMs = 30000;
    QTimer *m_retryTimer;
    int m_retryDelayMs = firstRetryDelayMs;
};
