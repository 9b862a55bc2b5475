#pragma once

#include "channelpanel.h"

#include <QAbstractSocket>

class NetworkChannel;

// A network channel's panel: the address and port fields the three share, its Connect button
// and the peer it holds.
class NetworkPanel : public ChannelPanel {
    Q_OBJECT

public:
    // The shared address and port fields, read at each connect, and the channel's button.
    struct LinkWidgets {
        QLineEdit *address;
        QLineEdit *port;
        QPushButton *connectButton;
    };

    NetworkPanel(NetworkChannel &channel, const Widgets &widgets, const LinkWidgets &link,
                 const PanelContext &context);

    NetworkChannel &network() const { return m_network; }
    const LinkWidgets &linkWidgets() const { return m_link; }

    // What the Connect button does: the address and port of the form, a failure told in a box.
    void connectLink(bool connect);
    // The channel's failure that a person should hear of.
    void reportError(QAbstractSocket::SocketError error);

protected:
    void refuseSend() override;
    void refusePeriodicSend() override;
    void showLinkState(LinkState was) override;

private:
    void showPeer(const QString &peer);

    NetworkChannel &m_network;
    LinkWidgets m_link;
    // Whether the person waits for the answer of the connect under way: only their own connect
    // that fails is told in a box.
    bool m_userConnects = false;
    bool m_connecting = false;
    bool m_connectFailed = false;
};
