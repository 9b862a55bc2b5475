#pragma once

#include "channelcounters.h"
#include "channellog.h"
#include "messageboxes.h"
#include "options.h"
#include "rendering.h"

#include <QByteArray>
#include <QColor>
#include <QCoreApplication>
#include <QMetaType>
#include <QObject>
#include <QString>

class CommandHistory;
class LayoutBudget;
class QIODevice;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStatusBar;
class QTextEdit;
class QTimer;
class QWidget;
class TrafficView;

// The channels speak with the window's voice: their texts are the window's.
inline QString windowText(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

// Where a channel's link is. Everything the user sees of the link (the link button, the status
// bar) and whether a periodic send runs follow from it.
enum class LinkState {
    Closed,
    Opening, // a connect asked for by the user waits for its answer
    Open,
    Lost, // gone without the user asking; tried again until it is back or the user closes it
};
Q_DECLARE_METATYPE(LinkState)

// One channel of the window: its mode, counters, periodic send, traffic view and log, and the
// send path they share. What differs between the serial line and a TCP client (the link, what
// a refusal says, how the view shows text) is left to SerialChannel and NetworkChannel.
//
// A channel can be driven by code as well as by its controls: it sends, opens and closes with
// no widget in between, and tells what arrives (raw, before any rendering) and where its link is.
class Channel : public QObject {
    Q_OBJECT

public:
    // The controls of the channel, handed over by whoever built them.
    struct Widgets {
        QTextEdit *view;
        QLineEdit *command;
        QPushButton *sendButton;
        QPushButton *clearButton;
        QPushButton *timerButton;
        QSpinBox *period;
        QLineEdit *sentCount;
        QLineEdit *receivedCount;
        QRadioButton *ascii;
        QRadioButton *hex;
    };

    // What the channels of one window share.
    struct Context {
        QWidget *window; // the channels' parent, and the boxes'
        QStatusBar *statusBar;
        LayoutBudget &layoutBudget;
        ChannelLog::Clock clock;
        const MessageBoxes &boxes;
    };

    Channel(const QString &name, const Widgets &widgets, const Context &context);
    ~Channel() override;

    QString name() const { return m_name; }
    // "serial", "network1": how the logs and settings keys name the channel.
    QString key() const { return m_name.toLower(); }
    const Widgets &widgets() const { return m_widgets; }
    ChannelLog &log() { return m_log; }
    TrafficView &traffic() { return *m_traffic; }
    QTimer *sendTimer() const { return m_sendTimer; }
    bool hexMode() const { return m_hexMode; }
    LinkState linkState() const { return m_linkState; }
    // Why the link last went without the user asking, while it is still gone; empty once the
    // user closed it or it is open again.
    QString lossReason() const { return m_lossReason; }
    int sentCount() const { return m_counters.sent(); }
    int receivedCount() const { return m_counters.received(); }

    // Names the channel's own controls for screen readers ("Network2 traffic", ...).
    void nameAccessibleControls(const QString &translatedName);

    void setLineEnding(LineEnding ending) { m_lineEnd = lineEndingBytes(ending); }
    // A lost link is brought back without a box, its periodic send resumed.
    void setReconnect(bool reconnect) { m_reconnect = reconnect; }
    void setTimestamps(Timestamps timestamps) { m_timestamps = timestamps; }
    Timestamps timestamps() const { return m_timestamps; }
    // The colours the user picked; an invalid one is the direction's default.
    void setColours(const QColor &input, const QColor &output);

    // Sends a command as Send does: encoded by the mode (or as hex when `hex` says so), ended by
    // the line ending, counted, shown and logged. False, with the reason, when nothing was sent.
    bool send(const QString &command, QString *why = nullptr,
              std::optional<bool> hex = std::nullopt);
    // Sends these bytes as they are; they are shown and logged as hex pairs.
    bool sendBytes(const QByteArray &bytes, QString *why = nullptr);
    void setHexMode(bool hex);
    // Starts the periodic send now, or as soon as the link is open.
    void startPeriodicSendWhenOpen();
    void stopPeriodicSend();
    void clear();
    // At exit, before the logs close: nothing is sent any more, what the link still holds is
    // taken in and what was sent leaves, then the link closes.
    void shutDown();

    // What the controls do: the same, with a box where the user must be told.
    void sendFromForm();
    void setMode(int id) { setHexMode(id != 0); }
    void setPeriodicSend(bool start);

signals:
    // Bytes as they arrive from the link, before they are rendered, shown or logged.
    void received(const QByteArray &bytes);
    void linkStateChanged(LinkState state);

protected:
    // Whether a command can be sent now.
    virtual bool linkOpen() const = 0;
    // Why a command cannot be sent now, for code that asked to send one.
    virtual QString notOpenReason() const = 0;
    // A send or a periodic send asked for with the controls while the link is not open.
    virtual void refuseSend() = 0;
    virtual void refusePeriodicSend() = 0;
    // An empty command line on an open link: sent (a line feed alone) or ignored.
    virtual bool sendsEmptyCommand() const = 0;
    // Writes all of the bytes, or says why not.
    virtual bool writeToLink(const QByteArray &bytes, QString *problem) = 0;
    // The port or socket, for what every link has: bytes waiting to leave.
    virtual QIODevice *linkDevice() const = 0;
    // Who fails to take what is sent: "the device", "the peer".
    virtual QString otherEnd() const = 0;
    virtual void closeLinkAtExit() = 0;
    virtual void modeChanged() { }
    // Shows the link's new state on its controls; `was` is where it came from.
    virtual void showLinkState(LinkState was) = 0;
    // How received bytes read in hex mode: pairs, one line per arrival.
    virtual QString hexText(const QByteArray &bytes) const
    {
        return hexRendering(bytes) + QLatin1Char('\n');
    }
    enum class Direction { Received, Sent };
    // Puts traffic into the view and the log, with a line break when asked, each line stamped
    // with its time and direction where the run wants that.
    void appendTraffic(QString text, Direction direction, bool lineBreak, bool ownLine = false);
    // Shows text in the view and writes `logged` to the log; the serial view tidies what it
    // shows.
    virtual void show(const QString &text, const QColor &colour, const QString &logged);

    // The one place where the link changes state: the periodic send follows, then the controls.
    // A link gone without the user asking gives the reason; a Lost one keeps its first.
    void setLinkState(LinkState state, const QString &lossReason = {});
    // The loss line in the log, then the state: Lost while it is tried again, else Closed.
    void loseLink(const QString &reason, LinkState state);
    // Shows what arrived, rendered by the mode, and counts the arrival.
    void appendReceived(const QByteArray &bytes);
    // What is still waiting for the rest of its character is shown, since the rest will not
    // come now.
    void showIncompleteText();
    void failSend(const QString &reason);
    bool reconnects() const { return m_reconnect; }
    // One line of its own in the view, in the stamps' muted colour, and in the log, stamped like
    // traffic where the run wants stamps: "--- link lost: reason ---", "--- link back ---".
    void noteLine(const QString &line);
    // Waits a little for what was written to leave, unless the other end does not take it.
    static void drainWrites(QIODevice *link);
    // Whether the system holds input for the descriptor that the link has not read yet. Asked
    // before a wait for it, since a wait that times out is reported as the link's error.
    static bool inputWaiting(qintptr descriptor);
    QStatusBar *statusBar() const { return m_statusBar; }
    // A box about this channel: in a run nobody watches, `noted` puts its text in the log too.
    void tell(QMessageBox::Icon icon, const QString &title, const QString &text,
              const QString &status = {}, bool noted = true);

private:
    enum class PeriodicSend { Off, On, AwaitingLink };
    void runPeriodicSend();
    QColor mutedColour() const;
    QString stamp() const { return m_log.stamp(); }

    QString m_name;
    Widgets m_widgets;
    QStatusBar *m_statusBar;
    const MessageBoxes &m_boxes;
    QColor m_inputColour;
    QColor m_outputColour;
    ChannelLog m_log;
    TrafficView *m_traffic;
    ChannelCounters m_counters;
    QTimer *m_sendTimer;
    ReceivedText m_receivedText;
    bool m_hexMode = false;
    QByteArray m_lineEnd = QByteArrayLiteral("\n");
    CommandHistory *m_history;
    Timestamps m_timestamps = Timestamps::Off;
    bool m_reconnect = false;
    LinkState m_linkState = LinkState::Closed;
    QString m_lossReason;
    PeriodicSend m_periodicSend = PeriodicSend::Off;
    // The line the stamped log is in: open once it has its stamp, until its line feed.
    bool m_lineOpen = false;
    Direction m_lineDirection = Direction::Received;
};
