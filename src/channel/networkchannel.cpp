#include "networkchannel.h"

#include "tcplink.h"

#include <QTcpSocket>
#include <QTimer>

NetworkChannel::NetworkChannel(int number, ChannelLog::Clock clock, QObject *parent)
    : Channel(QStringLiteral("Network%1").arg(number), std::move(clock), parent)
    , m_number(number)
    , m_link(new TcpLink(QStringLiteral("tcpSocket%1").arg(number), this))
    , m_connectTimer(new QTimer(this))
    , m_retryTimer(new QTimer(this))
{
    m_retryTimer->setObjectName(QStringLiteral("network%1RetryTimer").arg(m_number));
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &NetworkChannel::startConnect);
    m_link->setReadChunk(asciiReadChunk);
    m_connectTimer->setObjectName(QStringLiteral("network%1ConnectTimer").arg(m_number));
    m_connectTimer->setSingleShot(true);
    m_connectTimer->setTimerType(Qt::PreciseTimer);
    m_connectTimer->setInterval(10000);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        const int seconds = qMax(1, m_connectTimer->interval() / 1000);
        m_link->close();
        failConnect(
            seconds == 1
                ? windowText("No answer from %1 within 1 second.").arg(peer())
                : windowText("No answer from %1 within %2 seconds.").arg(peer()).arg(seconds),
            QAbstractSocket::SocketTimeoutError);
    });
    connect(m_link, &Link::opened, this, &NetworkChannel::onConnected);
    connect(m_link, &Link::failed, this, [this](const QString &text) {
        if (m_connectTimer->isActive())
            failConnect(text, m_link->error());
    });
    connect(m_link, &Link::lost, this, &NetworkChannel::onLost);
    connect(m_link, &Link::readyRead, this, &NetworkChannel::read);
}

NetworkChannel::~NetworkChannel() = default;

QTcpSocket *NetworkChannel::socket() const
{
    return m_link->socket();
}

QString NetworkChannel::peer() const
{
    return m_link->peer();
}

Link *NetworkChannel::link() const
{
    return m_link;
}

void NetworkChannel::connectTo(const QString &host, quint16 port)
{
    // The answer is awaited with the event loop running: a peer behind a slow link may take
    // seconds, and everything else must go on meanwhile.
    m_retryTimer->stop();
    m_retryDelayMs = firstRetryDelayMs;
    setLastFailure({});
    m_link->setPeer(host, port);
    setLinkState(LinkState::Opening);
    startConnect();
}

void NetworkChannel::startConnect()
{
    // Started first: the link may report a failure before open() returns.
    m_connectTimer->start();
    m_link->open();
}

void NetworkChannel::onConnected()
{
    m_connectTimer->stop();
    setLastFailure({});
    m_retryDelayMs = firstRetryDelayMs;
    if (linkState() == LinkState::Lost)
        noteLine(QStringLiteral("--- link back ---"));
    setLinkState(LinkState::Open);
}

void NetworkChannel::failConnect(const QString &text, QAbstractSocket::SocketError error)
{
    m_connectTimer->stop();
    setLastFailure(text);
    if (reconnects()) {
        retryLater(text);
        return;
    }
    setLinkState(LinkState::Closed);
    emit errorOccurred(error);
}

void NetworkChannel::onLost(const QString &text)
{
    if (linkState() != LinkState::Open)
        return;
    const QString reason = text.isEmpty() ? windowText("the peer closed the connection") : text;
    if (reconnects()) {
        retryLater(reason);
        return;
    }
    // What the peer sent before it went is shown before the link ends.
    showIncompleteText();
    noteLoss(reason);
    m_link->close();
    setLastFailure(text);
    setLinkState(LinkState::Closed);
    if (!text.isEmpty())
        emit errorOccurred(m_link->error());
}

void NetworkChannel::retryLater(const QString &reason)
{
    showIncompleteText();
    if (linkState() != LinkState::Lost)
        noteLoss(reason);
    m_link->close();
    setLinkState(LinkState::Lost);
    m_retryTimer->start(m_retryDelayMs);
    m_retryDelayMs = qMin(2 * m_retryDelayMs, maxRetryDelayMs);
}

void NetworkChannel::disconnectFromPeer()
{
    // Ended, or abandoned while connecting or waiting to try again: nothing to report, no more
    // attempts.
    m_retryTimer->stop();
    m_connectTimer->stop();
    setLastFailure({});
    forgetLoss();
    m_link->close();
    showIncompleteText();
    setLinkState(LinkState::Closed);
}

QString NetworkChannel::notOpenReason() const
{
    return windowText("Network%1 is not connected").arg(m_number);
}

void NetworkChannel::closeLinkAtExit()
{
    // A reply already on its way is taken in, and what was sent (and logged) leaves.
    m_link->settle();
    if (m_link->isOpen() || linkState() != LinkState::Closed)
        disconnectFromPeer();
}

void NetworkChannel::read()
{
    const QByteArray bytes = m_link->read();
    emit received(bytes);
    appendReceived(bytes);
}

void NetworkChannel::modeChanged()
{
    m_link->setReadChunk(hexMode() ? hexReadChunk : asciiReadChunk);
}
