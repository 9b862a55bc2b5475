#pragma once

#include "linkends.h"
#include "modaldialoghelper.h"
#include "networkpanel.h"
#include "serialpanel.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QString>
#include <QTextEdit>

#include <array>

// What the fixture of the whole window and the one of the panels alone share besides the
// channels' ends: the dialogs answered, and what a test reads off the channels' panels, their
// controls and the status bar.
class PanelEnds : public LinkEnds {
public:
    ChannelPanel &panel(int channel) const { return *m_panels[channel]; }
    SerialPanel &serialPanel() const { return static_cast<SerialPanel &>(panel(serial)); }
    NetworkPanel &networkPanel(int channel) const
    {
        return static_cast<NetworkPanel &>(panel(channel));
    }
    const ChannelPanel::Widgets &widgets(int channel) const { return m_panels[channel]->widgets(); }
    QLineEdit *commandLine(int channel) const { return widgets(channel).command; }
    QPushButton *sendButton(int channel) const { return widgets(channel).sendButton; }
    QPushButton *clearButton(int channel) const { return widgets(channel).clearButton; }
    // Open or Connect.
    QPushButton *linkButton(int channel) const;
    // Start or Stop.
    QPushButton *timerButton(int channel) const { return widgets(channel).timerButton; }
    QSpinBox *periodBox(int channel) const { return widgets(channel).period; }

    // The periodic send as shown and as it runs: the button's caption, then "checked" and
    // "running" where they hold. "Start" when it is off, "Stop checked running" while it runs.
    QString periodicSend(int channel) const;
    // The SENT and RECV counters as numbers once the update that is due has shown what already
    // came; -1 when the field holds none.
    int sent(int channel) const;
    int received(int channel) const;
    // The view as it is once the update that is due has shown what already arrived.
    QTextEdit *view(int channel) const;
    // The counters and the view as anyone looking finds them this moment, nothing that waits
    // put in first.
    int sentNow(int channel) const;
    int receivedNow(int channel) const;
    const QTextEdit *viewNow(int channel) const { return widgets(channel).view; }
    QString shown(int channel) const { return view(channel)->toPlainText(); }
    QString status() const { return m_statusBar->currentMessage(); }

    ModalDialogHelper dialogs;

protected:
    // Set by the fixture once its panels exist, serial first.
    std::array<ChannelPanel *, 4> m_panels {};
    QStatusBar *m_statusBar = nullptr;
};
