#pragma once

#include "channelcounters.h"
#include "channellog.h"
#include "options.h"
#include "rendering.h"
#include "trafficview.h"

#include <QColor>
#include <QCoreApplication>
#include <QObject>
#include <QString>

#include <memory>

class CommandHistory;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStatusBar;
class QTextEdit;
class QTimer;
class QWidget;

// One channel of the window: its mode, counters, periodic send, traffic view and log, and the
// send path they share. What differs between the serial line and a TCP client (the link, what
// a refusal says, how the view shows text) is left to SerialChannel and NetworkChannel.
class Channel : public QObject {
    // Its texts are the window's.
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    // The channel's controls, found in the form by the channel's names: `viewName` for the
    // view, the command line and its buttons ("SerialPort", "Network2"), `name` for the rest
    // ("Serial", "Network2").
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
    static Widgets findWidgets(const QWidget *form, const QString &viewName, const QString &name);
    // A control of the form by its object name; without it the window cannot work at all.
    template<class T> static T *formChild(const QObject *form, const QString &objectName)
    {
        T *child = form->findChild<T *>(objectName);
        if (!child)
            qFatal("The form holds no %s", qPrintable(objectName));
        return child;
    }

    // What the channels of one window share.
    struct Context {
        QWidget *window;
        QStatusBar *statusBar;
        LayoutBudget &layoutBudget;
        ChannelLog::Clock clock;
    };

    Channel(const QString &name, const Widgets &widgets, const Context &context,
            const QColor &inputColour, const QColor &outputColour);
    ~Channel() override;

    QString name() const { return m_name; }
    const Widgets &widgets() const { return m_widgets; }
    ChannelLog &log() { return m_log; }
    TrafficView &traffic() { return *m_traffic; }
    QTimer *sendTimer() const { return m_sendTimer; }
    bool hexMode() const { return m_hexMode; }
    // "serial", "network1": how the logs and settings keys name the channel.
    QString key() const { return m_name.toLower(); }

    // Names the channel's own controls for screen readers ("Network2 traffic", ...).
    void nameAccessibleControls(const QString &translatedName);

    void setLineEnding(LineEnding ending) { m_lineEnd = lineEndingBytes(ending); }
    // A lost link is brought back without a box, its periodic send resumed.
    void setReconnect(bool reconnect) { m_reconnect = reconnect; }
    // Starts the periodic send now, or as soon as the link is open.
    void startPeriodicSendWhenOpen();
    void setTimestamps(Timestamps timestamps) { m_timestamps = timestamps; }

    void send();
    void clear();
    void setMode(int id);
    void setPeriodicSend(bool start);
    // At exit, before the logs close: nothing is sent any more, what the link still holds is
    // taken in and what was sent leaves, then the link closes.
    void shutDown();

protected:
    virtual bool linkOpen() const = 0;
    // A send or a periodic send asked for while the link is not open.
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
    // How received bytes read in hex mode: pairs, one line per arrival.
    virtual QString hexText(const QByteArray &bytes) const
    {
        return hexRendering(bytes) + QLatin1Char('\n');
    }
    enum class Direction { Received, Sent };
    // Puts traffic into the view and the log, with a line break when asked, each line stamped
    // with its time and direction where the run wants that; an invalid colour is the
    // direction's default.
    void appendTraffic(QString text, const QColor &pickedColour, bool lineBreak,
                       Direction direction, bool ownLine = false);
    // Shows text in the view and writes `logged` to the log; the serial view tidies what it
    // shows.
    virtual void show(const QString &text, const QColor &colour, const QString &logged);

    // Shows what arrived, rendered by the mode, and counts the arrival.
    void appendReceived(const QByteArray &bytes);
    // What is still waiting for the rest of its character is shown, since the rest will not
    // come now.
    void showIncompleteText();
    void stopPeriodicSend();
    void failSend(const QString &reason);
    bool reconnects() const { return m_reconnect; }
    // One line of the log of its own, "--- link lost: reason ---"; a running periodic send
    // stops, to resume when the link is back.
    void noteLinkLost(const QString &reason);
    void noteLinkBack();
    // A line of its own in the view, in the stamps' muted colour, and in the log, stamped like
    // traffic where the run wants stamps.
    void noteLine(const QString &line);
    // Waits a little for what was written to leave, unless the other end does not take it.
    static void drainWrites(QIODevice *link);
    // Whether the system holds input for the descriptor that the link has not read yet. Asked
    // before a wait for it, since a wait that times out is reported as the link's error.
    static bool inputWaiting(qintptr descriptor);
    // The time a stamped line starts with.
    QString stamp() const;
    // The link has just opened: a periodic send that waits for it starts.
    void linkIsUp();
    // The user closed the link: nothing waits for it any more.
    void cancelWaitingPeriodicSend() { m_periodicSendWaits = false; }
    QColor mutedColour() const;
    QWidget *window() const { return m_window; }
    QStatusBar *statusBar() const { return m_statusBar; }
    const QColor &inputColour() const { return m_inputColour; }

private:
    QString m_name;
    Widgets m_widgets;
    QWidget *m_window;
    QStatusBar *m_statusBar;
    const QColor &m_inputColour;
    const QColor &m_outputColour;
    ChannelLog m_log;
    std::unique_ptr<TrafficView> m_traffic;
    ChannelCounters m_counters;
    QTimer *m_sendTimer;
    ReceivedText m_receivedText;
    bool m_hexMode = false;
    QByteArray m_lineEnd = QByteArrayLiteral("\n");
    CommandHistory *m_history;
    Timestamps m_timestamps = Timestamps::Off;
    bool m_reconnect = false;
    bool m_periodicSendWaits = false;
    // The line the stamped log is in: open once it has its stamp, until its line feed.
    bool m_lineOpen = false;
    Direction m_lineDirection = Direction::Received;
};
