#include "channel.h"

#include "link.h"

#include <QTimer>
#include <QVector>

namespace {
// A link whose other end takes nothing must not grow the program's memory without bound: beyond
// this much waiting to leave, a send is refused.
constexpr qint64 maxBytesWaiting = 1024 * 1024;
} // namespace

Channel::Channel(const QString &name, ChannelLog::Clock clock, QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_log(std::move(clock))
    , m_sendTimer(new QTimer(this))
{
    qRegisterMetaType<LinkState>();
    qRegisterMetaType<TrafficKind>();
    setObjectName(key() + QStringLiteral("Channel"));
    m_sendTimer->setObjectName(key() + QStringLiteral("SendTimer"));
    connect(m_sendTimer, &QTimer::timeout, this, &Channel::tick);
    m_log.setErrorReporter([this](const QString &fileName, const QString &reason) {
        emit logFailed(fileName, reason);
    });
}

Channel::~Channel() = default;

bool Channel::send(const QString &command, QString *why, std::optional<bool> hex)
{
    return transmit(command, why, hex, false);
}

bool Channel::transmit(const QString &command, QString *why, std::optional<bool> hex, bool periodic)
{
    QString problem;
    if (!linkOpen()) {
        problem = notOpenReason();
        if (why)
            *why = problem;
        return false;
    }
    const QByteArray bytes = encodeCommand(command, hex.value_or(m_hexMode), &problem, m_lineEnd);
    // A command that cannot be sent whole, or a write that fails, never left: it is neither
    // counted nor shown.
    const qint64 waiting = link()->bytesToWrite();
    if (problem.isEmpty() && bytes.size() > maxBytesWaiting)
        problem = windowText("the command is %1 bytes, more than the %2 bytes (1 MiB) that may "
                             "wait to be sent")
                      .arg(bytes.size())
                      .arg(maxBytesWaiting);
    else if (problem.isEmpty() && waiting + bytes.size() > maxBytesWaiting)
        problem = windowText("%1 is not reading (%2 bytes waiting)").arg(otherEnd()).arg(waiting);
    if (problem.isEmpty())
        link()->write(bytes, &problem);
    if (!problem.isEmpty()) {
        failSend(problem);
        if (why)
            *why = problem;
        return false;
    }
    // Counted once handed on, so that whoever shows the count shows what it counts with it.
    appendTraffic(command, Direction::Sent, true);
    ++m_sent;
    countsChange();
    emit commandSent(command, periodic);
    return true;
}

bool Channel::sendBytes(const QByteArray &bytes, QString *why)
{
    return send(hexRendering(bytes).trimmed(), why, true);
}

void Channel::failSend(const QString &reason)
{
    // The same command would fail again at every tick.
    stopPeriodicSend();
    emit sendFailed(reason);
}

void Channel::clear()
{
    showIncompleteText();
    m_sent = 0;
    m_received = 0;
    emit cleared();
    countsChange();
}

void Channel::countsChange()
{
    emit countsChanged(m_sent, m_received);
}

void Channel::setHexMode(bool hex)
{
    showIncompleteText();
    m_hexMode = hex;
    modeChanged();
}

void Channel::setPeriod(int ms)
{
    // Read when the periodic send starts: a running one keeps its pace.
    m_periodMs = ms;
}

bool Channel::startPeriodicSend(QString *why)
{
    if (!linkOpen()) {
        if (why)
            *why = notOpenReason();
        return false;
    }
    runPeriodicSend();
    return true;
}

void Channel::startPeriodicSendWhenOpen()
{
    if (linkOpen())
        runPeriodicSend();
    else
        setPeriodicSendState(PeriodicSend::AwaitingLink);
}

void Channel::runPeriodicSend()
{
    m_sendTimer->start(m_periodMs);
    setPeriodicSendState(PeriodicSend::On);
}

void Channel::stopPeriodicSend()
{
    m_sendTimer->stop();
    setPeriodicSendState(PeriodicSend::Off);
}

void Channel::setPeriodicSendState(PeriodicSend state)
{
    const bool ran = periodicSendRuns();
    m_periodicSend = state;
    if (periodicSendRuns() != ran || state == PeriodicSend::Off)
        emit periodicSendChanged(periodicSendRuns());
}

void Channel::tick()
{
    if (m_command.isEmpty() && !sendsEmptyCommand())
        return;
    transmit(m_command, nullptr, std::nullopt, true);
}

void Channel::setLinkState(LinkState state)
{
    m_linkState = state;
    if (state == LinkState::Open || state == LinkState::Opening)
        m_lossReason.clear();
    switch (state) {
    case LinkState::Open:
        if (m_periodicSend == PeriodicSend::AwaitingLink)
            runPeriodicSend();
        break;
    case LinkState::Lost:
        // Resumed when the link is back.
        if (m_periodicSend == PeriodicSend::On) {
            m_sendTimer->stop();
            setPeriodicSendState(PeriodicSend::AwaitingLink);
        }
        break;
    case LinkState::Closed:
        stopPeriodicSend();
        break;
    case LinkState::Opening:
        break;
    }
    // Told even when it stays: a link that stays lost waits longer before its next attempt.
    emit linkStateChanged(state);
}

void Channel::shutDown()
{
    stopPeriodicSend();
    closeLinkAtExit();
}

void Channel::noteLine(const QString &line)
{
    const QString lead = m_log.lineOpen() ? QStringLiteral("\n") : QString();
    const QString stamped
        = m_timestamps == Timestamps::Off ? line : m_log.stamp() + QLatin1Char(' ') + line;
    m_lineOpen = false;
    record(lead + (m_timestamps == Timestamps::View ? stamped : line) + QLatin1Char('\n'),
           TrafficKind::Muted, lead + stamped + QLatin1Char('\n'));
}

void Channel::noteLoss(const QString &reason)
{
    m_lossReason = reason;
    noteLine(QStringLiteral("--- link lost: %1 ---").arg(reason));
    emit linkLost(reason);
}

void Channel::record(const QString &shown, TrafficKind kind, const QString &logged)
{
    m_log.write(logged);
    emit traffic(shown, kind);
}

void Channel::appendTraffic(QString text, Direction direction, bool lineBreak, bool ownLine)
{
    if (lineBreak)
        text.append(QLatin1Char('\n'));
    const bool received = direction == Direction::Received;
    const TrafficKind kind = received ? TrafficKind::Received : TrafficKind::Sent;
    if (m_timestamps == Timestamps::Off) {
        record(text, kind, text);
        return;
    }

    // Every line of the log starts with the time its first byte came or went and its
    // direction; a line of one direction is ended before the other's text goes on.
    struct Piece {
        QString text;
        bool stamp;
    };
    QVector<Piece> pieces;
    for (int from = 0; from < text.size();) {
        if (m_lineOpen && (m_lineDirection != direction || ownLine)) {
            pieces.append({ QStringLiteral("\n"), false });
            m_lineOpen = false;
        }
        ownLine = false;
        if (!m_lineOpen) {
            pieces.append(
                { m_log.stamp() + (received ? QStringLiteral(" RX ") : QStringLiteral(" TX ")),
                  true });
            m_lineOpen = true;
            m_lineDirection = direction;
        }
        const int lineFeed = text.indexOf(QLatin1Char('\n'), from);
        const int end = lineFeed < 0 ? text.size() : lineFeed + 1;
        pieces.append({ text.mid(from, end - from), false });
        m_lineOpen = lineFeed < 0;
        from = end;
    }

    if (m_timestamps == Timestamps::View) {
        for (const Piece &piece : qAsConst(pieces))
            record(piece.text, piece.stamp ? TrafficKind::Muted : kind, piece.text);
    } else {
        QString logged;
        for (const Piece &piece : qAsConst(pieces))
            logged += piece.text;
        record(text, kind, logged);
    }
}

void Channel::appendReceived(const QByteArray &bytes)
{
    // A hex block stands on a line of its own, so that its pairs are never read as the end of
    // another block's.
    appendTraffic(m_hexMode ? hexText(bytes) : m_receivedText.render(bytes), Direction::Received,
                  false, m_hexMode);
    ++m_received;
    countsChange();
    emit arrived();
}

void Channel::showIncompleteText()
{
    const QString rest = m_receivedText.takeIncomplete();
    if (!rest.isEmpty())
        appendTraffic(rest, Direction::Received, false);
}
