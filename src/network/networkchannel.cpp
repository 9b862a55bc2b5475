#include "networkchannel.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTcpSocket>
#include <QTimer>

quint16 networkPortFromText(const QString &text)
{
    const std::optional<qint64> port = decimalFromText(text.trimmed());
    return port && *port >= 1 && *port <= 65535 ? quint16(*port) : 0;
}

namespace {
const char *const hostNotFound
    = QT_TRANSLATE_NOOP("MainWindow",
                        "The host was not found. Please check the host name and "
                        "port settings.");
const char *const refused = QT_TRANSLATE_NOOP(
    "MainWindow",
    "The connection was refused by the peer. Make sure the server is running, and "
    "check that the host name and port settings are correct.");
} // namespace

NetworkChannel::NetworkChannel(int number, const Widgets &widgets, const LinkWidgets &link,
                               const Context &context)
    : Channel(QStringLiteral("Network%1").arg(number), widgets, context)
    , m_number(number)
    , m_link(link)
    , m_socket(new QTcpSocket(this))
    , m_connectTimer(new QTimer(this))
    , m_retryTimer(new QTimer(this))
{
    m_socket->setObjectName(QStringLiteral("tcpSocket%1").arg(number));
    m_retryTimer->setObjectName(QStringLiteral("network%1RetryTimer").arg(m_number));
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &NetworkChannel::startConnect);
    m_socket->setReadBufferSize(asciiReadChunk);
    m_connectTimer->setObjectName(QStringLiteral("network%1ConnectTimer").arg(m_number));
    m_connectTimer->setSingleShot(true);
    m_connectTimer->setTimerType(Qt::PreciseTimer);
    m_connectTimer->setInterval(10000);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        const int seconds = qMax(1, m_connectTimer->interval() / 1000);
        failConnect(
            seconds == 1
                ? windowText("No answer from %1 within 1 second.").arg(m_peer)
                : windowText("No answer from %1 within %2 seconds.").arg(m_peer).arg(seconds));
    });
    connect(m_socket, &QTcpSocket::connected, this, &NetworkChannel::onConnected);
}

NetworkChannel::~NetworkChannel()
{
    // The widgets and whoever listens may be gone by now: the socket closes without a word.
    m_socket->blockSignals(true);
}

void NetworkChannel::connectLink(bool connect)
{
    if (!connect) {
        disconnectFromPeer();
        return;
    }
    const quint16 port = networkPortFromText(m_link.port->text());
    if (port == 0) {
        // Rather no connection than one to a port the user did not name.
        m_link.connectButton->setChecked(false);
        m_link.connectButton->setText(QStringLiteral("Connect"));
        tell(QMessageBox::Information, windowText("Client"),
             windowText("The port must be a number from 1 to 65535, not '%1'.")
                 .arg(m_link.port->text()));
        return;
    }
    beginConnect(m_link.address->text(), port, true);
}

void NetworkChannel::connectTo(const QString &host, quint16 port)
{
    beginConnect(host, port, false);
}

void NetworkChannel::beginConnect(const QString &host, quint16 port, bool user)
{
    // The answer is awaited with the event loop running: a peer behind a slow link may take
    // seconds, and the window, the serial line and the other channels must not stop meanwhile.
    m_retryTimer->stop();
    m_retryDelayMs = firstRetryDelayMs;
    m_userConnects = user;
    m_connectFailure.clear();
    m_host = host;
    m_port = port;
    setLinkState(LinkState::Opening);
    startConnect();
}

void NetworkChannel::startConnect()
{
    m_socket->abort();
    m_peer = QStringLiteral("%1:%2").arg(m_host).arg(m_port);
    // Started first: the socket may report a failure before connectToHost returns.
    m_connectTimer->start();
    m_socket->connectToHost(m_host, m_port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

void NetworkChannel::retryLater(const QString &reason)
{
    // Nobody may be there to answer a box: the same peer is tried again, less and less often.
    if (linkState() != LinkState::Lost)
        loseLink(reason, LinkState::Lost);
    else
        setLinkState(LinkState::Lost);
    m_retryTimer->start(m_retryDelayMs);
    m_retryDelayMs = qMin(2 * m_retryDelayMs, maxRetryDelayMs);
}

void NetworkChannel::onConnected()
{
    m_connectTimer->stop();
    m_connectFailure.clear();
    m_retryDelayMs = firstRetryDelayMs;
    if (linkState() == LinkState::Lost)
        noteLine(QStringLiteral("--- link back ---"));
    setLinkState(LinkState::Open);
}

void NetworkChannel::failConnect(const QString &text)
{
    m_connectTimer->stop();
    // A socket still trying is stopped; one that has given up is left as it is, like a link
    // that ended, so a send on it says why it fails.
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    m_connectFailure = text;
    if (reconnects()) {
        retryLater(text);
        return;
    }
    setLinkState(LinkState::Closed);
    if (m_userConnects)
        tell(QMessageBox::Information, windowText("Client"), text);
}

void NetworkChannel::showPeer(const QString &peer)
{
    // Three channels share one address field: the button tells where its link goes.
    const QString text = peer.isEmpty() ? QString() : windowText("Connected to %1").arg(peer);
    m_link.connectButton->setToolTip(text);
    m_link.connectButton->setAccessibleDescription(text);
}

void NetworkChannel::showLinkState(LinkState was)
{
    QPushButton *button = m_link.connectButton;
    const bool up = linkState() != LinkState::Closed;
    // While a connect waits or the link is lost, the button offers to give up.
    button->setChecked(up);
    button->setText(up ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    showPeer(linkState() == LinkState::Open ? m_peer : QString());
    switch (linkState()) {
    case LinkState::Open:
        statusBar()->showMessage(windowText("connected Network%1.").arg(m_number));
        break;
    case LinkState::Lost:
        statusBar()->showMessage(windowText("Network%1 lost its link; connecting again in %2 s.")
                                     .arg(m_number)
                                     .arg(m_retryDelayMs / 1000));
        break;
    case LinkState::Closed:
        // A link that ended tells why; a connect that failed is told by its box, not as a link
        // that ended.
        if (!lossReason().isEmpty()) {
            QString reason = lossReason();
            if (reason.endsWith(QLatin1Char('.')))
                reason.chop(1);
            statusBar()->showMessage(
                windowText("Network%1 lost its link: %2.").arg(m_number).arg(reason));
        } else if (was != LinkState::Opening || m_connectFailure.isEmpty()) {
            statusBar()->showMessage(windowText("disconnected Network%1.").arg(m_number));
        }
        break;
    case LinkState::Opening:
        break;
    }
}

void NetworkChannel::disconnectFromPeer()
{
    // Ended, or abandoned while connecting or waiting to try again: no box, nothing to report,
    // no more attempts. An attempt is aborted, where closing would finish it first.
    const bool attempt = m_connectTimer->isActive();
    m_retryTimer->stop();
    m_connectTimer->stop();
    m_connectFailure.clear();
    attempt ? m_socket->abort() : m_socket->close();
    showIncompleteText();
    setLinkState(LinkState::Closed);
}

void NetworkChannel::reportError(QAbstractSocket::SocketError error)
{
    QString text;
    switch (error) {
    case QAbstractSocket::RemoteHostClosedError:
        break;
    case QAbstractSocket::HostNotFoundError:
        text = windowText(hostNotFound);
        break;
    case QAbstractSocket::ConnectionRefusedError:
        text = windowText(refused);
        break;
    default:
        text = windowText("The following error occurred: %1.").arg(m_socket->errorString());
        break;
    }
    // The system's words do not say which peer they are about; three channels may have one each.
    if (!text.isEmpty())
        text = QStringLiteral("%1: %2").arg(m_peer, text);
    if (m_connectTimer->isActive()) {
        failConnect(text.isEmpty() ? m_peer + QStringLiteral(": ") + windowText(hostNotFound)
                                   : text);
        return;
    }
    const QString reason = text.isEmpty() ? windowText("the peer closed the connection") : text;
    if (reconnects()) {
        retryLater(reason);
        return;
    }
    // The window shows the ended link before any box, and the box's nested event loop must not
    // go on ticking into a dead link. A link already ended has nothing more to lose; its log
    // gets the box's text instead.
    const bool lost = linkState() == LinkState::Open;
    if (lost)
        loseLink(reason, LinkState::Closed);
    else
        setLinkState(LinkState::Closed);
    if (!text.isEmpty())
        tell(QMessageBox::Information, windowText("Client"), text, {}, !lost);
}

bool NetworkChannel::linkOpen() const
{
    // A socket is open from the start of a connect, but nothing is sent before the peer answers,
    // and a socket whose peer has gone stays open: only the link's state tells.
    return m_socket->isOpen() && linkState() == LinkState::Open;
}

QString NetworkChannel::notOpenReason() const
{
    return windowText("Network%1 is not connected").arg(m_number);
}

void NetworkChannel::refuseSend()
{
    // A periodic send runs only on an open link: when the link is gone under it, the tick ends
    // the periodic send instead of opening a box, whose event loop would let the next tick open
    // another one.
    if (sendTimer()->isActive())
        stopPeriodicSend();
    else
        tell(QMessageBox::Critical, windowText("Error"),
             QStringLiteral("Please, First Connect Network%1!").arg(m_number));
}

void NetworkChannel::refusePeriodicSend()
{
    widgets().timerButton->setChecked(false);
    tell(QMessageBox::Critical, windowText("Error"),
         QStringLiteral("Please, First Connect network%1.").arg(m_number));
}

bool NetworkChannel::writeToLink(const QByteArray &bytes, QString *problem)
{
    // A socket whose peer has gone stays open but refuses the write.
    if (m_socket->write(bytes) < 0) {
        *problem = m_socket->errorString();
        return false;
    }
    m_socket->flush();
    return true;
}

QIODevice *NetworkChannel::linkDevice() const
{
    return m_socket;
}

void NetworkChannel::closeLinkAtExit()
{
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        // A reply already on its way is taken in, and what was sent (and logged) leaves.
        if (inputWaiting(m_socket->socketDescriptor()))
            m_socket->waitForReadyRead(0);
        m_socket->flush();
        drainWrites(m_socket);
    }
    if (m_socket->state() != QAbstractSocket::UnconnectedState || linkState() == LinkState::Lost)
        disconnectFromPeer();
}

void NetworkChannel::read()
{
    const QByteArray bytes = m_socket->readAll();
    emit received(bytes);
    appendReceived(bytes);
}

void NetworkChannel::modeChanged()
{
    m_socket->setReadBufferSize(hexMode() ? hexReadChunk : asciiReadChunk);
}
