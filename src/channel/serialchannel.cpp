#include "serialchannel.h"

#include "portname.h"
#include "rfc2217link.h"
#include "serialportlink.h"

#include <QTimer>

SerialChannel::SerialChannel(ChannelLog::Clock clock, QObject *parent)
    : Channel(QStringLiteral("Serial"), std::move(clock), parent)
    , m_local(new SerialPortLink(this))
    , m_remote(new Rfc2217Link(this))
    , m_line(m_local)
    , m_breakTimer(new QTimer(this))
    , m_quietTimer(new QTimer(this))
    , m_reopenTimer(new QTimer(this))
{
    m_quietTimer->setObjectName(QStringLiteral("serialPollTimer"));
    m_quietTimer->setSingleShot(true);
    m_quietTimer->setInterval(serialQuietMs);
    connect(m_quietTimer, &QTimer::timeout, this, &SerialChannel::endBlock);
    m_reopenTimer->setObjectName(QStringLiteral("serialReopenTimer"));
    m_reopenTimer->setInterval(1000);
    connect(m_reopenTimer, &QTimer::timeout, this, &SerialChannel::beginOpen);
    m_breakTimer->setObjectName(QStringLiteral("serialBreakTimer"));
    m_breakTimer->setSingleShot(true);
    m_breakTimer->setTimerType(Qt::PreciseTimer);
    connect(m_breakTimer, &QTimer::timeout, this, [this] {
        QString ignored;
        if (m_line->isOpen())
            m_line->setBreak(false, &ignored);
    });
    // Only the line in use is heard: the other one is closed.
    for (SerialLine *line : std::initializer_list<SerialLine *> { m_local, m_remote }) {
        connect(line, &Link::readyRead, this, [this, line] {
            if (line == m_line)
                takeArrivals();
        });
        connect(line, &Link::opened, this, [this, line] {
            if (line == m_line)
                onOpened();
        });
        connect(line, &Link::failed, this, [this, line](const QString &reason) {
            if (line == m_line)
                onFailed(reason);
        });
        connect(line, &Link::lost, this, [this, line](const QString &reason) {
            if (line == m_line)
                onLost(reason);
        });
        connect(line, &SerialLine::noted, this, [this, line](const QString &text) {
            if (line == m_line)
                onNoted(text);
        });
    }
}

SerialChannel::~SerialChannel() = default;

QSerialPort *SerialChannel::port() const
{
    return m_local->port();
}

Link *SerialChannel::link() const
{
    return m_line;
}

void SerialChannel::takeArrivals()
{
    const QByteArray bytes = m_line->read();
    emit received(bytes);
    m_block.append(bytes);
    // Whole blocks of a device that does not pause are shown as they fill; the rest waits for
    // the line to go quiet or the block to fill.
    showBlocks(m_block.size() / maxSerialBlock * maxSerialBlock);
    if (m_block.isEmpty())
        m_quietTimer->stop();
    else
        m_quietTimer->start();
}

void SerialChannel::endBlock()
{
    m_quietTimer->stop();
    // More than a block is waiting only when a close took in what the line still held.
    showBlocks(m_block.size());
}

void SerialChannel::showBlocks(int size)
{
    for (int at = 0; at < size; at += maxSerialBlock)
        appendReceived(m_block.mid(at, qMin(maxSerialBlock, size - at)));
    m_block.remove(0, size);
}

void SerialChannel::readNow()
{
    const QByteArray bytes = m_line->read();
    emit received(bytes);
    appendReceived(bytes);
    if (m_line->isOpen())
        m_line->clearInput();
}

QString SerialChannel::notOpenReason() const
{
    return windowText("the serial port is not open");
}

bool SerialChannel::open(QString *why, QString *status)
{
    m_retryAtStart = false;
    m_reopenTimer->stop();
    m_lossPending = false;
    if (beginOpen())
        return true;
    if (why)
        *why = lastFailure();
    if (status)
        *status = m_line->failureStatus();
    return false;
}

bool SerialChannel::openAtStart(QString *why, QString *status)
{
    if (open(why, status)) {
        // A port server that fails to answer later is tried again as a missing port is.
        m_retryAtStart = linkState() == LinkState::Opening && reconnects();
        return true;
    }
    if (!reconnects())
        return false;
    // Nobody may be there to answer a box: the port is tried until it is there.
    noteLoss(lastFailure());
    setLinkState(LinkState::Lost);
    m_reopenTimer->start();
    return true;
}

bool SerialChannel::chooseLine(QString *why)
{
    const PortName name = parsePortName(m_settings.portName);
    if (name.kind == PortName::Kind::Invalid) {
        *why = QStringLiteral("%1: %2").arg(m_settings.portName, name.problem);
        return false;
    }
    SerialLine *wanted = m_local;
    if (name.isRemote()) {
        m_remote->setPeer(name.kind == PortName::Kind::Raw ? Rfc2217Link::Protocol::Raw
                                                           : Rfc2217Link::Protocol::Rfc2217,
                          name.host, name.port);
        wanted = m_remote;
    }
    if (wanted != m_line) {
        m_line->close();
        m_line = wanted;
    }
    return true;
}

bool SerialChannel::beginOpen()
{
    QString why;
    if (!chooseLine(&why)) {
        onFailed(why);
        return false;
    }
    m_opening = true;
    m_openNotes.clear();
    m_line->setSettings(m_settings);
    m_line->open();
    // A line that answers later (a port server) is opening until it does.
    if (m_opening && linkState() != LinkState::Lost)
        setLinkState(LinkState::Opening);
    return linkState() == LinkState::Open || linkState() == LinkState::Opening;
}

void SerialChannel::onOpened()
{
    m_opening = false;
    m_retryAtStart = false;
    const SerialSettings &p = m_settings;
    m_openStatus = windowText("Connected to %1 : %2, %3, %4, %5, %6")
                       .arg(p.portName, p.baudRateText, p.dataBitsText, p.parityText,
                            p.stopBitsText, p.flowControlText);
    // A line the device or its driver cannot set (a pty has none) is told beside the line's
    // settings; the line stays open.
    QString problem;
    if (m_dtr && !m_line->setControlLine(SerialLine::ControlLine::Dtr, *m_dtr, &problem))
        m_openStatus += QStringLiteral("; ") + problem;
    if (m_rts && !m_line->setControlLine(SerialLine::ControlLine::Rts, *m_rts, &problem))
        m_openStatus += QStringLiteral("; ") + problem;
    for (const QString &note : qAsConst(m_openNotes))
        m_openStatus += QStringLiteral("; ") + note;
    m_openNotes.clear();
    if (linkState() == LinkState::Lost) {
        m_reopenTimer->stop();
        noteLine(QStringLiteral("--- link back ---"));
    }
    setLinkState(LinkState::Open);
}

void SerialChannel::onFailed(const QString &reason)
{
    m_opening = false;
    // While the line is lost, a failed attempt only waits for the next.
    if (linkState() == LinkState::Lost)
        return;
    setLastFailure(reason);
    const bool wasOpening = linkState() == LinkState::Opening;
    if (wasOpening && std::exchange(m_retryAtStart, false)) {
        noteLoss(reason);
        setLinkState(LinkState::Lost);
        m_reopenTimer->start();
        return;
    }
    setLinkState(LinkState::Closed);
    // A port server that fails to answer does so after open() returned: nobody asked is left
    // to tell it.
    if (wasOpening)
        emit errorOccurred(QSerialPort::OpenError);
}

void SerialChannel::onNoted(const QString &text)
{
    noteLine(QStringLiteral("--- %1 ---").arg(text));
    if (m_opening)
        m_openNotes << text;
}

bool SerialChannel::lines(QSerialPort::PinoutSignals *lines, QString *why) const
{
    QString problem;
    if (!linkOpen())
        problem = notOpenReason();
    else
        m_line->lines(lines, &problem);
    if (why)
        *why = problem;
    return problem.isEmpty();
}

bool SerialChannel::sendBreak(int ms, QString *why)
{
    QString problem;
    if (!linkOpen())
        problem = notOpenReason();
    else if (m_line->setBreak(true, &problem))
        m_breakTimer->start(ms);
    if (why)
        *why = problem;
    return problem.isEmpty();
}

bool SerialChannel::setControlLine(bool dtr, bool on, QString *why)
{
    QString problem;
    if (!linkOpen())
        problem = notOpenReason();
    else
        m_line->setControlLine(dtr ? SerialLine::ControlLine::Dtr : SerialLine::ControlLine::Rts,
                               on, &problem);
    if (why)
        *why = problem;
    return problem.isEmpty();
}

void SerialChannel::close()
{
    m_retryAtStart = false;
    m_reopenTimer->stop();
    forgetLoss();
    m_lossPending = false;
    m_opening = false;
    closePort();
    // A character left unfinished will not be finished.
    showIncompleteText();
    setLinkState(LinkState::Closed);
}

void SerialChannel::closeLinkAtExit()
{
    if (m_line->isOpen() || linkState() != LinkState::Closed)
        close();
}

void SerialChannel::closePort()
{
    if (m_breakTimer->isActive()) {
        m_breakTimer->stop();
        QString ignored;
        if (m_line->isOpen())
            m_line->setBreak(false, &ignored);
    }
    // What came in before the close is shown now, and what was sent (and logged) leaves first:
    // closing the line would drop it.
    if (m_line->isOpen()) {
        m_line->settle();
        const QByteArray rest = m_line->read();
        emit received(rest);
        m_block.append(rest);
    }
    m_line->close();
    endBlock();
}

void SerialChannel::onLost(const QString &reason)
{
    if (linkState() != LinkState::Open)
        return;
    // What the device sent before it went is shown before the loss.
    const QByteArray rest = m_line->read();
    emit received(rest);
    m_block.append(rest);
    endBlock();
    showIncompleteText();
    noteLoss(reason);
    // The periodic send stops now; with reconnection on it resumes when the line is back.
    if (!reconnects())
        setLastFailure(windowText("The device on %1 was disconnected or stopped responding.")
                           .arg(m_settings.portName));
    setLinkState(reconnects() ? LinkState::Lost : LinkState::Closed);
    m_lossPending = true;
    // Closing the line from inside its own report would delete the notifier that is delivering
    // it, so the close happens on a clean stack.
    QTimer::singleShot(0, this, &SerialChannel::finishLoss);
}

void SerialChannel::finishLoss()
{
    if (!std::exchange(m_lossPending, false))
        return; // closed or opened again meanwhile
    m_line->close();
    if (linkState() == LinkState::Lost)
        m_reopenTimer->start();
    else
        emit errorOccurred(QSerialPort::ResourceError);
}

void SerialChannel::writeKeys(const QByteArray &keys)
{
    // A console is enabled before any port is open; its keys go nowhere then.
    QString problem;
    if (m_line->isOpen())
        m_line->write(keys, &problem);
}
