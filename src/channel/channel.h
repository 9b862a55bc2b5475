#pragma once

#include "channellog.h"
#include "encoding.h"
#include "linkstate.h"
#include "options.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QObject>
#include <QString>

#include <optional>

class Link;
class QTimer;

// The channels speak with the window's voice: their texts are the window's.
inline QString windowText(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

// How a piece of a channel's traffic is to be shown.
enum class TrafficKind {
    Received,
    Sent,
    Muted, // time stamps and the notes of a channel's own: "--- link lost: reason ---"
};
Q_DECLARE_METATYPE(TrafficKind)

// One channel of a run: its link, its mode and line ending, its counters, its periodic send and
// its log. What differs between the serial line and a TCP client (the link, how arrivals are
// taken in, how a link comes back) is left to SerialChannel and NetworkChannel.
//
// It shows nothing and asks nothing: it says what happens by its signals, so that a window
// shows it and a run without one reports it. Everything it takes in or sends is rendered as
// text, written to its log and handed on by traffic(), in that order.
class Channel : public QObject {
    Q_OBJECT

public:
    Channel(const QString &name, ChannelLog::Clock clock, QObject *parent);
    ~Channel() override;

    QString name() const { return m_name; }
    // "serial", "network1": how the logs and settings keys name the channel.
    QString key() const { return m_name.toLower(); }
    ChannelLog &log() { return m_log; }
    bool hexMode() const { return m_hexMode; }
    LinkState linkState() const { return m_linkState; }
    // Whether a command can be sent now.
    bool linkOpen() const { return m_linkState == LinkState::Open; }
    // Why a command cannot be sent now.
    virtual QString notOpenReason() const = 0;
    // Why the link last failed to open or ended on an error, as a person is told; empty while
    // none did, and for a peer that closed.
    QString lastFailure() const { return m_lastFailure; }
    // Why the link last went without being asked to, while it is still gone; empty once it was
    // closed on purpose or is open again.
    QString lossReason() const { return m_lossReason; }
    int sentCount() const { return m_sent; }
    int receivedCount() const { return m_received; }
    QTimer *sendTimer() const { return m_sendTimer; }

    void setLineEnding(LineEnding ending) { m_lineEnd = lineEndingBytes(ending); }
    // A lost link is brought back without a word to a person, its periodic send resumed.
    void setReconnect(bool reconnect) { m_reconnect = reconnect; }
    bool reconnects() const { return m_reconnect; }
    void setTimestamps(Timestamps timestamps) { m_timestamps = timestamps; }
    Timestamps timestamps() const { return m_timestamps; }

    // Sends a command: encoded by the mode (or as hex when `hex` says so), ended by the line
    // ending, counted, logged and handed on. False, with the reason, when nothing was sent.
    bool send(const QString &command, QString *why = nullptr,
              std::optional<bool> hex = std::nullopt);
    // Sends these bytes as they are; they are shown and logged as hex pairs.
    bool sendBytes(const QByteArray &bytes, QString *why = nullptr);
    // An empty command on an open link: sent (a line end alone) or ignored.
    virtual bool sendsEmptyCommand() const = 0;
    void setHexMode(bool hex);
    // Both counters back to 0, and whatever shows the traffic starts afresh.
    void clear();

    // What the periodic send sends at each tick, and how often.
    void setCommand(const QString &command) { m_command = command; }
    void setPeriod(int ms);
    // Starts the periodic send; false, with the reason, while the link is not open.
    bool startPeriodicSend(QString *why = nullptr);
    // Starts it now, or as soon as the link is open.
    void startPeriodicSendWhenOpen();
    void stopPeriodicSend();
    bool periodicSendRuns() const { return m_periodicSend == PeriodicSend::On; }

    // Closes the serial port, or disconnects a network channel; stops any reconnection.
    virtual void closeLink() = 0;
    // At exit, before the logs close: nothing is sent any more, what the link still holds is
    // taken in and what was sent leaves, then the link closes.
    void shutDown();
    // A line of the channel's own in its log and its traffic, stamped like traffic where the
    // run wants stamps, on a line of its own: "--- link lost: reason ---".
    void noteLine(const QString &line);

signals:
    // Bytes as they arrive from the link, before they are rendered or logged.
    void received(const QByteArray &bytes);
    // What arrived has been rendered, logged and handed on, and counted.
    void arrived();
    // Text to show, in the order it came or went; the log has it already.
    void traffic(const QString &text, TrafficKind kind);
    void cleared();
    void countsChanged(int sent, int received);
    void periodicSendChanged(bool running);
    void linkStateChanged(LinkState state);
    // The link went without being asked to; the channel's log and traffic say so already.
    void linkLost(const QString &reason);
    // A send went out: asked for by code or a person (`periodic` false) or the periodic send.
    void commandSent(const QString &command, bool periodic);
    void sendFailed(const QString &reason);
    void logFailed(const QString &fileName, const QString &reason);

protected:
    virtual Link *link() const = 0;
    // Who fails to take what is sent: "the device", "the peer".
    virtual QString otherEnd() const = 0;
    // How received bytes read in hex mode: pairs, one line per arrival.
    virtual QString hexText(const QByteArray &bytes) const
    {
        return hexRendering(bytes) + QLatin1Char('\n');
    }
    virtual void modeChanged() { }
    virtual void closeLinkAtExit() = 0;

    // The one place where the link changes state: the periodic send follows.
    void setLinkState(LinkState state);
    // Renders, logs and hands on what arrived, and counts the arrival.
    void appendReceived(const QByteArray &bytes);
    void setLastFailure(const QString &failure) { m_lastFailure = failure; }
    // The link is closed on purpose: its loss is no longer the news.
    void forgetLoss() { m_lossReason.clear(); }
    // The loss line in the log and the traffic: "--- link lost: reason ---".
    void noteLoss(const QString &reason);
    // What is still waiting for the rest of its character is shown, since the rest will not
    // come now.
    void showIncompleteText();

private:
    enum class Direction { Received, Sent };
    enum class PeriodicSend { Off, On, AwaitingLink };
    bool transmit(const QString &command, QString *why, std::optional<bool> hex, bool periodic);
    void appendTraffic(QString text, Direction direction, bool lineBreak, bool ownLine = false);
    void record(const QString &shown, TrafficKind kind, const QString &logged);
    void failSend(const QString &reason);
    void tick();
    void runPeriodicSend();
    void setPeriodicSendState(PeriodicSend state);
    void countsChange();

    QString m_name;
    ChannelLog m_log;
    QTimer *m_sendTimer;
    QString m_command;
    int m_periodMs = 1000;
    QString m_lastFailure;
    QString m_lossReason;
    int m_sent = 0;
    int m_received = 0;
    ReceivedText m_receivedText;
    bool m_hexMode = false;
    QByteArray m_lineEnd = QByteArrayLiteral("\n");
    Timestamps m_timestamps = Timestamps::Off;
    bool m_reconnect = false;
    LinkState m_linkState = LinkState::Closed;
    PeriodicSend m_periodicSend = PeriodicSend::Off;
    // The line the stamped log is in: open once it has its stamp, until its line feed.
    bool m_lineOpen = false;
    Direction m_lineDirection = Direction::Received;
};
