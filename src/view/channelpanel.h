#pragma once

#include "channel.h"
#include "channelcounters.h"

#include <QColor>
#include <QMessageBox>
#include <QObject>
#include <QString>

class CommandHistory;
class LayoutBudget;
class MessageBoxes;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStatusBar;
class QTextEdit;
class QWidget;
class TrafficView;

// What the panels of one window share.
struct PanelContext {
    QWidget *window; // in front of which boxes are shown
    QStatusBar *statusBar;
    LayoutBudget &layoutBudget;
    const MessageBoxes &boxes;
};

// Binds one channel to its controls: the view shows its traffic, the fields its counters, the
// buttons its link and periodic send, the status bar what it says; and the controls drive it,
// with a box where a person must be told. What differs between the serial line and a TCP
// client (the link's controls and refusals, how the view shows text) is left to SerialPanel
// and NetworkPanel.
class ChannelPanel : public QObject {
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

    ChannelPanel(Channel &channel, const Widgets &widgets, const PanelContext &context);
    // The view is made before the counters, which it shows.
    ~ChannelPanel() override;

    Channel &core() const { return m_channel; }
    const Widgets &widgets() const { return m_widgets; }
    TrafficView &trafficView() const { return *m_traffic; }
    // Names the channel's own controls for screen readers ("Network2 traffic", ...).
    void nameAccessibleControls(const QString &translatedName);
    // The colours the user picked; an invalid one is the direction's default.
    void setColours(const QColor &input, const QColor &output);

    // What the controls do.
    void sendFromForm();
    void clearFromForm();
    void setMode(int id) { m_channel.setHexMode(id != 0); }
    void setPeriodicSend(bool start);
    // What the channel took in is shown, with its count, before the program waits again.
    void showArrivals();

protected:
    // A send or a periodic send asked for with the controls while the link is not open.
    virtual void refuseSend() = 0;
    virtual void refusePeriodicSend() = 0;
    // Shows the link's new state on its controls; `was` is where it came from.
    virtual void showLinkState(LinkState was) = 0;
    // How the view shows a piece of traffic text.
    virtual QString shownText(const QString &text) const { return text; }

    QStatusBar *statusBar() const { return m_statusBar; }
    // A box about this channel: in a run nobody watches, `noted` puts its text in the log too;
    // `status` is what the status bar says once it has been read.
    void tell(QMessageBox::Icon icon, const QString &title, const QString &text,
              const QString &status = {}, bool noted = true) const;

private:
    void show(const QString &text, TrafficKind kind);
    QColor colourOf(TrafficKind kind) const;
    void showPeriodicSend(bool running);
    void onCommandSent(const QString &command, bool periodic);
    void onLinkState(LinkState state);

    Channel &m_channel;
    Widgets m_widgets;
    QStatusBar *m_statusBar;
    const MessageBoxes &m_boxes;
    TrafficView *m_traffic;
    ChannelCounters m_counters;
    CommandHistory *m_history;
    QColor m_inputColour;
    QColor m_outputColour;
    LinkState m_shownState = LinkState::Closed;
};
