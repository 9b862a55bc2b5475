#pragma once

#include "modaldialoghelper.h"
#include "networkchannel.h"
#include "pty.h"
#include "serialchannel.h"
#include "testenvironment.h"
#include "trafficview.h"

#include <QPointer>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWidget>

#include <memory>

// A serial and a network channel with no window around them: their controls on plain widgets,
// their logs in a throw-away home, a pty to play the device and a server on 127.0.0.1 to play
// the peer. Code drives them as the window's controls would.
class ChannelFixture {
public:
    explicit ChannelFixture(ChannelLog::Clock clock = {});
    ~ChannelFixture();

    SerialChannel &serial() const { return *m_serial; }
    NetworkChannel &network() const { return *m_network; }

    // Opens the serial channel on the pty; true when it is open.
    bool openSerial();
    // Connects the network channel to the server; the server's end, or null.
    QTcpSocket *connectNetwork();
    QTcpSocket *peer() const { return m_peer; }
    // What the device or the peer received from the channel so far.
    QByteArray written(const Channel &channel);

    // The view's text once what arrived is shown, and the log's bytes.
    QString shown(Channel &channel) const;
    QByteArray log(const Channel &channel) const;
    QString status() const { return m_statusBar->currentMessage(); }

    TestEnvironment env;
    ModalDialogHelper dialogs;
    QTcpServer server;
    Pty pty;

private:
    Channel::Widgets makeWidgets(QWidget *panel, QTextEdit *view);
    QString logPath(const Channel &channel) const;

    std::unique_ptr<QWidget> m_window;
    QStatusBar *m_statusBar;
    LayoutBudget m_budget;
    SerialChannel *m_serial;
    NetworkChannel *m_network;
    QPointer<QTcpSocket> m_peer;
    QByteArray m_writtenToDevice;
    QByteArray m_writtenToPeer;
};
