#include "networkchannel.h"

#include "rendering.h"
#include "sendstatus.h"
#include "trafficview.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTcpSocket>
#include <QTimer>

quint16 networkPortFromText(const QString &text)
{
    const QString digits = text.trimmed();
    for (const QChar c : digits)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    bool ok = false;
    const qlonglong port = digits.toLongLong(&ok, 10);
    return ok && port >= 1 && port <= 65535 ? static_cast<quint16>(port) : 0;
}

NetworkChannel::NetworkChannel(const Shared &shared, const Parts &parts)
    : m_window(shared.window)
    , m_statusBar(shared.statusBar)
    , m_address(shared.address)
    , m_port(shared.port)
    , m_inputColour(shared.inputColour)
    , m_outputColour(shared.outputColour)
    , m_number(parts.number)
    , m_socket(parts.socket)
    , m_sendTimer(parts.sendTimer)
    , m_hexMode(parts.hexMode)
    , m_counters(parts.counters)
    , m_traffic(parts.traffic)
    , m_commandLine(parts.commandLine)
    , m_connectButton(parts.connectButton)
    , m_timerButton(parts.timerButton)
    , m_periodBox(parts.periodBox)
    , m_connectTimer(new QTimer(parts.socket))
{
    m_connectTimer->setObjectName(QStringLiteral("network%1ConnectTimer").arg(m_number));
    m_connectTimer->setSingleShot(true);
    m_connectTimer->setTimerType(Qt::PreciseTimer);
    m_connectTimer->setInterval(10000);
    // The timer is the context: these end with the channel, before the socket goes.
    QObject::connect(m_connectTimer, &QTimer::timeout, m_connectTimer, [this] {
        const int seconds = qMax(1, m_connectTimer->interval() / 1000);
        failConnect(seconds == 1
                        ? tr("No answer from %1 within 1 second.").arg(m_peer)
                        : tr("No answer from %1 within %2 seconds.").arg(m_peer).arg(seconds));
    });
    QObject::connect(m_socket, &QTcpSocket::connected, m_connectTimer, [this] { onConnected(); });
}

NetworkChannel::~NetworkChannel()
{
    delete m_connectTimer;
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
    const quint16 port = networkPortFromText(m_port->text());
    if (port == 0) {
        // Rather no connection than one to a port the user did not name.
        QMessageBox::information(m_window, tr("Client"),
                                 tr("The port must be a number from 1 to 65535."));
        m_connectButton->setChecked(false);
        m_connectButton->setText(QStringLiteral("Connect"));
        return;
    }

    // The answer is awaited with the event loop running: a peer behind a slow link may take
    // seconds, and the window, the serial line and the other channels must not stop meanwhile.
    // The button, checked by the click, offers to abandon the attempt.
    m_socket->abort();
    showPeer(QString());
    m_peer = QStringLiteral("%1:%2").arg(m_address->text()).arg(port);
    m_connectButton->setText(QStringLiteral("Disconnect"));
    // Started first: the socket may report a failure before connectToHost returns.
    m_connectTimer->start();
    m_socket->connectToHost(m_address->text(), port, QIODevice::ReadWrite,
                            QAbstractSocket::AnyIPProtocol);
}

bool NetworkChannel::connecting() const
{
    return m_connectTimer->isActive();
}

void NetworkChannel::onConnected()
{
    m_connectTimer->stop();
    m_statusBar->showMessage(tr("connected Network%1.").arg(m_number));
    m_connectButton->setText(QStringLiteral("Disconnect"));
    showPeer(m_peer);
}

void NetworkChannel::failConnect(const QString &text)
{
    m_connectTimer->stop();
    // A socket still trying is stopped; one that has given up is left as it is, like a link
    // that ended, so a send on it says why it fails.
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    m_connectButton->setChecked(false);
    m_connectButton->setText(QStringLiteral("Connect"));
    QMessageBox::information(m_window, tr("Client"), text);
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
    if (connecting()) {
        // Abandoned by the user: no box, nothing to report.
        m_connectTimer->stop();
        m_socket->abort();
        m_connectButton->setText(QStringLiteral("Connect"));
        return;
    }
    // Stopped while the socket is still open, so that the periodic send takes its stop path
    // and not its refusal.
    setPeriodicSend(false);
    m_timerButton->setChecked(false);
    showIncompleteText();
    m_socket->close();
    showPeer(QString());
    m_statusBar->showMessage(tr("disconnected Network%1.").arg(m_number));
    m_connectButton->setText(QStringLiteral("Connect"));
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
    // The window shows the ended link before any box, and the box's nested event loop must not
    // go on ticking into a dead link.
    endLink();
    if (!text.isEmpty())
        QMessageBox::information(m_window, tr("Client"), text);
}

void NetworkChannel::endLink()
{
    stopPeriodicSend();
    showIncompleteText();
    showPeer(QString());
    m_connectButton->setChecked(false);
    m_connectButton->setText(QStringLiteral("Connect"));
    m_statusBar->showMessage(tr("disconnected Network%1.").arg(m_number));
}

void NetworkChannel::send()
{
    // A periodic send runs only on an open link: when the link is gone under it, the tick ends
    // the periodic send instead of opening a box, whose event loop would let the next tick open
    // another one.
    // A socket is open from the start of a connect, but nothing is sent before the peer answers.
    if (!m_socket->isOpen() || connecting()) {
        if (m_sendTimer->isActive())
            stopPeriodicSend();
        else
            QMessageBox::critical(m_window, tr("Error"),
                                  QStringLiteral("Please, First Connect Network%1!").arg(m_number));
        return;
    }

    const QString text = m_commandLine->text();
    if (text.isEmpty())
        return;
    QString problem;
    const QByteArray bytes = encodeCommand(text, m_hexMode, &problem);
    if (!problem.isEmpty()) {
        failSend(problem);
        return;
    }
    // A socket whose peer has gone stays open but refuses the write; such a send never left,
    // so it is neither counted nor shown.
    if (m_socket->write(bytes) < 0) {
        failSend(m_socket->errorString());
        return;
    }
    m_socket->flush();

    clearSendFailure(m_statusBar, name());
    m_counters.countSend();
    appendTraffic(text, m_outputColour, true);
}

void NetworkChannel::failSend(const QString &reason)
{
    // The same command would fail again at every tick.
    stopPeriodicSend();
    showSendFailure(m_statusBar, name(), reason);
}

void NetworkChannel::read()
{
    const QByteArray bytes = m_socket->readAll();
    const bool hex = m_hexMode;
    appendTraffic(hex ? hexRendering(bytes) : m_receivedText.render(bytes), m_inputColour, hex);
    m_counters.countArrival();
}

void NetworkChannel::clear()
{
    showIncompleteText();
    m_counters.reset();
    m_traffic.clear();
}

void NetworkChannel::setMode(int id)
{
    showIncompleteText();
    m_hexMode = id != 0;
    m_socket->setReadBufferSize(m_hexMode ? hexReadChunk : asciiReadChunk);
}

void NetworkChannel::setPeriodicSend(bool start)
{
    if (!m_socket->isOpen() || connecting()) {
        m_timerButton->setChecked(false);
        QMessageBox::critical(m_window, tr("Error"),
                              QStringLiteral("Please, First Connect network%1.").arg(m_number));
        return;
    }
    if (start) {
        m_sendTimer->start(m_periodBox->value());
        m_timerButton->setText(QStringLiteral("Stop"));
    } else {
        m_sendTimer->stop();
        m_timerButton->setText(QStringLiteral("Start"));
    }
}

void NetworkChannel::appendTraffic(QString text, const QColor &colour, bool lineBreak)
{
    // Network text gets none of the serial clean-up: what the peer sent is what is shown.
    if (lineBreak)
        text.append(QLatin1Char('\n'));
    m_traffic.append(text, colour);
}

void NetworkChannel::showIncompleteText()
{
    const QString rest = m_receivedText.takeIncomplete();
    if (!rest.isEmpty())
        appendTraffic(rest, m_inputColour, false);
}

void NetworkChannel::stopPeriodicSend()
{
    m_sendTimer->stop();
    m_timerButton->setChecked(false);
    m_timerButton->setText(QStringLiteral("Start"));
}
