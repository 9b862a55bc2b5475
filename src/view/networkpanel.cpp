#include "networkpanel.h"

#include "messageboxes.h"
#include "networkchannel.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>

NetworkPanel::NetworkPanel(NetworkChannel &channel, const Widgets &widgets, const LinkWidgets &link,
                           const PanelContext &context)
    : ChannelPanel(channel, widgets, context)
    , m_network(channel)
    , m_link(link)
{
}

void NetworkPanel::connectLink(bool connect)
{
    if (!connect) {
        m_network.disconnectFromPeer();
        return;
    }
    const quint16 port = portFromText(m_link.port->text());
    if (port == 0) {
        // Rather no connection than one to a port the user did not name.
        m_link.connectButton->setChecked(false);
        m_link.connectButton->setText(QStringLiteral("Connect"));
        tell(QMessageBox::Information, windowText("Client"),
             windowText("The port must be a number from 1 to 65535, not '%1'.")
                 .arg(m_link.port->text()));
        return;
    }
    m_connecting = true;
    m_network.connectTo(m_link.address->text(), port);
    m_connecting = false;
}

void NetworkPanel::reportError(QAbstractSocket::SocketError)
{
    // A connect that code asked for is told to the code.
    if (m_connectFailed && !m_userConnects)
        return;
    // A link that ended has its loss in the log already; a connect that failed has not.
    tell(QMessageBox::Information, windowText("Client"), m_network.lastFailure(), {},
         m_connectFailed);
}

void NetworkPanel::refuseSend()
{
    tell(QMessageBox::Critical, windowText("Error"),
         QStringLiteral("Please, First Connect Network%1!").arg(m_network.networkNumber()));
}

void NetworkPanel::refusePeriodicSend()
{
    widgets().timerButton->setChecked(false);
    tell(QMessageBox::Critical, windowText("Error"),
         QStringLiteral("Please, First Connect network%1.").arg(m_network.networkNumber()));
}

void NetworkPanel::showPeer(const QString &peer)
{
    // Three channels share one address field: the button tells where its link goes.
    const QString text = peer.isEmpty() ? QString() : windowText("Connected to %1").arg(peer);
    m_link.connectButton->setToolTip(text);
    m_link.connectButton->setAccessibleDescription(text);
}

void NetworkPanel::showLinkState(LinkState was)
{
    const LinkState state = m_network.linkState();
    if (state == LinkState::Opening)
        m_userConnects = m_connecting;
    m_connectFailed = was == LinkState::Opening && state == LinkState::Closed;
    QPushButton *button = m_link.connectButton;
    const bool up = state != LinkState::Closed;
    // While a connect waits or the link is lost, the button offers to give up.
    button->setChecked(up);
    button->setText(up ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    showPeer(state == LinkState::Open ? m_network.peer() : QString());
    const int number = m_network.networkNumber();
    switch (state) {
    case LinkState::Open:
        statusBar()->showMessage(windowText("connected Network%1.").arg(number));
        break;
    case LinkState::Lost:
        statusBar()->showMessage(windowText("Network%1 lost its link; connecting again in %2 s.")
                                     .arg(number)
                                     .arg(m_network.retryDelayMs() / 1000));
        break;
    case LinkState::Closed:
        // A link that ended tells why; a connect that failed is told by its box, not as a link
        // that ended.
        if (!m_network.lossReason().isEmpty()) {
            QString reason = m_network.lossReason();
            if (reason.endsWith(QLatin1Char('.')))
                reason.chop(1);
            statusBar()->showMessage(
                windowText("Network%1 lost its link: %2.").arg(number).arg(reason));
        } else if (!m_connectFailed || m_network.lastFailure().isEmpty()) {
            statusBar()->showMessage(windowText("disconnected Network%1.").arg(number));
        }
        break;
    case LinkState::Opening:
        break;
    }
}
