#pragma once

#include "messageboxes.h"
#include "networkchannel.h"
#include "panelends.h"
#include "serialchannel.h"
#include "session.h"
#include "trafficview.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QSpinBox>
#include <QStatusBar>
#include <QTcpSocket>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

#include <memory>

// The four channels of a run with no window around them, numbered as the window numbers them:
// their panels on plain widgets, wired to the channels as the window wires them, their logs in
// a throw-away home. No button is wired: press() does what a click would.
class ChannelFixture : public PanelEnds {
public:
    explicit ChannelFixture(ChannelLog::Clock clock = {});
    ~ChannelFixture() override;

    SerialChannel &serial() const { return serialChannel(); }
    NetworkChannel &network(int number = 1) const { return networkChannel(number); }
    // Where the channels' boxes go; set unattended, as a script run sets them.
    MessageBoxes &boxes() const { return *m_boxes; }
    // The channels side by side at a size that fits them; false when they never came up.
    bool show();

    Session &session() const { return *m_session; }
    // The fields the network channels share, read by a Connect.
    void setTarget(const QString &port, const QString &address = QStringLiteral("127.0.0.1"));
    // Lists the path after the pty and selects it.
    void selectSerialPort(const QString &path);

    // A click on one of a channel's buttons: a checkable one toggles, then the channel does what
    // the window's slot has it do.
    enum class Button { Send, Clear, Timer, Link };
    void press(int channel, Button button);

    void setHexMode(int channel, bool hex) override;
    void send(int channel, const QString &command) override;
    void startPeriodicSend(int channel, const QString &command, int periodMs) override;
    // With the channel's own connectTo(), as code connects it.
    bool connectTo(int channel, quint16 port) override;
    bool openSerial() override;

    // What the device or the peer received from the channel so far.
    QByteArray written(int channel) { return LinkEnds::written(channel); }
    QByteArray written(const Channel &channel) { return written(indexOf(channel)); }
    QString shown(int channel) const { return PanelEnds::shown(channel); }
    QString shown(const Channel &channel) const { return shown(indexOf(channel)); }
    QByteArray log(int channel) const { return LinkEnds::log(channel); }
    QByteArray log(const Channel &channel) const { return log(indexOf(channel)); }
    QTcpSocket *connectNetwork(int channel = 1) { return LinkEnds::connectNetwork(channel); }
    QTcpSocket *peer(int channel = 1) const { return LinkEnds::peer(channel); }

private:
    int indexOf(const Channel &channel) const;
    ChannelPanel::Widgets makeWidgets(QWidget *panel, QTextEdit *view);
    void wire();

    // Outlives the window and the channels in it.
    std::unique_ptr<MessageBoxes> m_boxes;
    std::unique_ptr<QWidget> m_window;
    Session *m_session;
    LayoutBudget m_budget;
    QLineEdit *m_address;
    QLineEdit *m_port;
};
