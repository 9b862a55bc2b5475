#include "networkchannel.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTcpSocket>
#include <QTimer>

quint16 networkPortFromText(const QString &text)
{
    const std::optional<qint64> port = decimalFromText(text.trimmed());
    return port && *port >= 1 && *port <= 65535 ? quint16(*port) : 0;
}

NetworkChannel::NetworkChannel(int number, const QWidget *form, const Context &context,
                               const Target &target, const QColor &inputColour,
                               const QColor &outputColour)
    : Channel(QStringLiteral("Network%1").arg(number),
              findWidgets(form, QStringLiteral("Network%1").arg(number),
                          QStringLiteral("Network%1").arg(number)),
              context, inputColour, outputColour)
    , m_number(number)
    , m_target(target)
    , m_connectButton(
          formChild<QPushButton>(form, QStringLiteral("PB_ConnectNetwork%1").arg(number)))
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
        failConnect(seconds == 1
                        ? tr("No answer from %1 within 1 second.").arg(m_peer)
                        : tr("No answer from %1 within %2 seconds.").arg(m_peer).arg(seconds));
    });
    connect(m_socket, &QTcpSocket::connected, this, &NetworkChannel::onConnected);
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

void NetworkChannel::connectLink(bool connect)
{
    if (connect)
        connectToPeer();
    else
        disconnectFromPeer();
}

void NetworkChannel::connectToPeer()
{
    m_retryTimer->stop();
    m_retrying = false;
    m_retryDelayMs = firstRetryDelayMs;
    const quint16 port = networkPortFromText(m_target.port->text());
    if (port == 0) {
        // Rather no connection than one to a port the user did not name.
        QMessageBox::information(window(), tr("Client"),
                                 tr("The port must be a number from 1 to 65535."));
        m_connectButton->setChecked(false);
        m_connectButton->setText(QStringLiteral("Connect"));
        return;
    }

    // The answer is awaited with the event loop running: a peer behind a slow link may take
    // seconds, and the window, the serial line and the other channels must not stop meanwhile.
    // The button, checked by the click, offers to abandon the attempt.
    m_host = m_target.address->text();
    m_port = port;
    startConnect();
}

void NetworkChannel::startConnect()
{
    m_socket->abort();
    showPeer(QString());
    m_peer = QStringLiteral("%1:%2").arg(m_host).arg(m_port);
    m_connectButton->setChecked(true);
    m_connectButton->setText(QStringLiteral("Disconnect"));
    // Started first: the socket may report a failure before connectToHost returns.
    m_connectTimer->start();
    m_socket->connectToHost(m_host, m_port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

void NetworkChannel::retryLater(const QString &reason)
{
    // Nobody may be there to answer a box: the same peer is tried again, less and less often.
    if (!m_retrying)
        noteLinkLost(reason);
    m_retrying = true;
    showIncompleteText();
    showPeer(QString());
    m_connectButton->setChecked(true);
    m_connectButton->setText(QStringLiteral("Disconnect"));
    statusBar()->showMessage(tr("Network%1 lost its link; connecting again in %2 s.")
                                 .arg(m_number)
                                 .arg(m_retryDelayMs / 1000));
    m_retryTimer->start(m_retryDelayMs);
    m_retryDelayMs = qMin(2 * m_retryDelayMs, maxRetryDelayMs);
}

bool NetworkChannel::connecting() const
{
    return m_connectTimer->isActive();
}

void NetworkChannel::onConnected()
{
    m_connectTimer->stop();
    statusBar()->showMessage(tr("connected Network%1.").arg(m_number));
    m_connectButton->setText(QStringLiteral("Disconnect"));
    showPeer(m_peer);
    if (m_retrying)
        noteLinkBack();
    m_retrying = false;
    m_retryDelayMs = firstRetryDelayMs;
    linkIsUp();
}

void NetworkChannel::failConnect(const QString &text)
{
    m_connectTimer->stop();
    // A socket still trying is stopped; one that has given up is left as it is, like a link
    // that ended, so a send on it says why it fails.
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    if (reconnects()) {
        retryLater(text);
        return;
    }
    m_connectButton->setChecked(false);
    m_connectButton->setText(QStringLiteral("Connect"));
    QMessageBox::information(window(), tr("Client"), text);
}

void NetworkChannel::showPeer(const QString &peer)
{
    // Three channels share one address field: the button tells where its link goes.
    const QString text = peer.isEmpty() ? QString() : tr("Connected to %1").arg(peer);
    m_connectButton->setToolTip(text);
    m_connectButton->setAccessibleDescription(text);
}

void NetworkChannel::disconnectFromPeer()
{
    // Ended, or abandoned while connecting or waiting to try again: no box, nothing to report,
    // no more attempts. An attempt is aborted, where closing would finish it first.
    const bool attempt = connecting();
    cancelWaitingPeriodicSend();
    m_retryTimer->stop();
    m_retrying = false;
    m_connectTimer->stop();
    attempt ? m_socket->abort() : m_socket->close();
    endLink();
}

void NetworkChannel::reportError(QAbstractSocket::SocketError error)
{
    QString text;
    switch (error) {
    case QAbstractSocket::RemoteHostClosedError:
        break;
    case QAbstractSocket::HostNotFoundError:
        text = tr(hostNotFound);
        break;
    case QAbstractSocket::ConnectionRefusedError:
        text = tr(refused);
        break;
    default:
        text = tr("The following error occurred: %1.").arg(m_socket->errorString());
        break;
    }
    if (connecting()) {
        failConnect(text.isEmpty() ? tr(hostNotFound) : text);
        return;
    }
    if (reconnects()) {
        retryLater(text.isEmpty() ? tr("the peer closed the connection") : text);
        return;
    }
    // The window shows the ended link before any box, and the box's nested event loop must not
    // go on ticking into a dead link.
    endLink();
    if (!text.isEmpty())
        QMessageBox::information(window(), tr("Client"), text);
}

void NetworkChannel::endLink()
{
    stopPeriodicSend();
    showIncompleteText();
    showPeer(QString());
    m_connectButton->setChecked(false);
    m_connectButton->setText(QStringLiteral("Connect"));
    statusBar()->showMessage(tr("disconnected Network%1.").arg(m_number));
}

bool NetworkChannel::linkOpen() const
{
    // A socket is open from the start of a connect, but nothing is sent before the peer answers.
    return m_socket->isOpen() && !connecting();
}

void NetworkChannel::refuseSend()
{
    // A periodic send runs only on an open link: when the link is gone under it, the tick ends
    // the periodic send instead of opening a box, whose event loop would let the next tick open
    // another one.
    if (sendTimer()->isActive())
        stopPeriodicSend();
    else
        QMessageBox::critical(window(), tr("Error"),
                              QStringLiteral("Please, First Connect Network%1!").arg(m_number));
}

void NetworkChannel::refusePeriodicSend()
{
    widgets().timerButton->setChecked(false);
    QMessageBox::critical(window(), tr("Error"),
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
    if (m_socket->state() != QAbstractSocket::UnconnectedState || m_retryTimer->isActive())
        disconnectFromPeer();
}

void NetworkChannel::read()
{
    appendReceived(m_socket->readAll());
}

void NetworkChannel::modeChanged()
{
    m_socket->setReadBufferSize(hexMode() ? hexReadChunk : asciiReadChunk);
}
